// What the winmm contract cases need from one backend only.
#pragma once

#include "platform/types.h"

namespace contract {

// The machine's mixers: under Wine those of the PulseAudio null sinks "Speakers (Realtek High
// Definition Audio)", "Speakers (Orvane)" and "Realtek HD Audio output"; on the simulated
// machine mixers of the same names, laid out as Wine's are, "Speakers (Orvane)" reporting
// OrvaneProductGuid as Windows would (Wine's mixers carry no product GUID).
void InstallMixers();
inline constexpr GUID OrvaneProductGuid = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};

} // namespace contract
