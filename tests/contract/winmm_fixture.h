// What the winmm contract cases need from one backend only.
#pragma once

#include "platform/types.h"

namespace contract {

// The machine's mixers: under Wine those of the PulseAudio null sinks "Speakers (Realtek High
// Definition Audio)", "Speakers (Orvane)" and "Realtek HD Audio output"; on the simulated
// machine mixers of the same names, laid out as Wine's are.
void InstallMixers();

// A mixer whose capabilities carry the product GUID (simulated machine only: Wine's mixers
// carry none); returns its identifier.
UINT InstallMixerWithProductGuid(const GUID& product);

} // namespace contract
