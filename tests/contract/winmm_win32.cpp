// The winmm contract fixture on the real platform: the prefix's PulseAudio sinks are its mixers.
#include "winmm_fixture.h"

#include <gtest/gtest.h>

void contract::InstallMixers() {}

UINT contract::InstallMixerWithProductGuid(const GUID&) {
    ADD_FAILURE() << "the real platform's mixers carry no product GUID";
    return 0;
}
