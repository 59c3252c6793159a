// Where Microsoft's pages and Wine's tests leave a behaviour open, the simulated machine can take
// each plausible answer, so that the service is proved against all of them and not against one
// guess. A machine reset puts every variant back to its first answer, the kind or documented one.
//
//   endpoint-unchanged-notice  none | notify      a Set that changes nothing notifies (the Set
//                                                 pages promise a notice on a change only)
//   endpoint-levels            scalar | decibel   a master Set keeps the channels' balance as
//                                                 scalar ratios, or as dB offsets over the
//                                                 endpoint's range (see sim/audio.h)
//   endpoint-callback-threads  per-endpoint | shared | reversed
//                                                 callbacks of each endpoint on its own audio
//                                                 thread; of all endpoints on one thread; or on
//                                                 one thread, the endpoint changed last first
//   mixer-own-notice           all | others       MM_MIXM_CONTROL_CHANGE also to the window whose
//                                                 handle made the change, or not
//   mixer-unchanged-notice     always | changed   a write that changes nothing is announced, or not
//   mixer-read-back            exact | rounded    a written value reads back as written, or
//                                                 rounded to the device's step of 2 (up to 1 off,
//                                                 as Wine's mixer test allows on Windows)
//   mixer-uniform              off | on           the first volume control of every mixer is
//                                                 uniform (see sim/winmm.h)
//
// Each variant counts the calls where its answer changed what happened (a notice sent or
// withheld, a value rounded, a callback moved to another thread or order).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace sim {

struct VariantInfo {
    std::string name;
    std::vector<std::string> answers; // the first is the machine's after a reset
};
const std::vector<VariantInfo>& Variants();

// False (and nothing changes) for an unknown name or answer.
bool SetVariant(const std::string& name, const std::string& answer);
std::string VariantAnswer(const std::string& name);
bool VariantIs(const std::string& name, const std::string& answer);

// Called by the machine where the answer made a difference; counted since the last reset.
void CountVariantEffect(const std::string& name);
std::size_t VariantEffects(const std::string& name);

} // namespace sim
