// The soak's side of the machine's variants: every seed plays under variants drawn anew (or
// fixed by --variants for a replay), and the soak counts, per answer, the seeds that ran under it
// and the steps in which it changed something.
#pragma once

#include <cstdint>
#include <string>

namespace soak_variants {

// "name=answer,..." fixes those variants for every seed; false for an unknown name or answer.
bool Fix(const std::string& list);
// After the machine reset: takes this seed's variants (endpoint ones above version 5, mixer ones
// at 5 and below; mixer-uniform only when fixed) and returns them as --variants text.
std::string Apply(std::uint64_t seed, int major);
// After each step: the answers whose effects moved during it.
void CountStep();
// How far a mirrored mixer volume may be from its source: 1 when volumes read back rounded.
unsigned VolumeTolerance();
// One line: for each answer, the seeds run under it and the steps it changed something in.
std::string Summary();

} // namespace soak_variants
