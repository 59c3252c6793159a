// The winmm contract fixture on the simulated machine: mixers named and laid out as Wine makes
// them of the PulseAudio sinks.
#include "winmm_fixture.h"

#include "platform/sim/winmm.h"

namespace {

sim::winmm::Mixer SinkMixer(const platform::WideString& name) {
    sim::winmm::Line wave{MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, 1, 0, {}, {}, {}};
    wave.controls = {{2, MIXERCONTROL_CONTROLTYPE_VOLUME, {0xFFFF}},
                     {3, MIXERCONTROL_CONTROLTYPE_MUTE, {0}}};
    sim::winmm::Line speakers{MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, 2, 0xFFFF0000, {}, {wave}, {}};
    speakers.controls = {{0, MIXERCONTROL_CONTROLTYPE_VOLUME, {0xFFFF, 0xFFFF}},
                         {1, MIXERCONTROL_CONTROLTYPE_MUTE, {0, 0}}};
    sim::winmm::Mixer mixer;
    mixer.name = name;
    mixer.destinations = {speakers};
    return mixer;
}

} // namespace

void contract::InstallMixers() {
    sim::winmm::AddMixer(SinkMixer(WIDE("Speakers (Realtek High Definition Audio)")));
    auto orvane = SinkMixer(WIDE("Speakers (Orvane)"));
    orvane.productGuid = OrvaneProductGuid;
    sim::winmm::AddMixer(orvane);
    sim::winmm::AddMixer(SinkMixer(WIDE("Realtek HD Audio output")));
}
