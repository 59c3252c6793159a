// The winmm contract fixture on the real platform: the prefix's PulseAudio sinks are its mixers.
#include "winmm_fixture.h"

void contract::InstallMixers() {}
