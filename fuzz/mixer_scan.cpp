// Mixer layouts of any shape (destinations, sources, controls, channel counts, values, calls that
// fail) scanned into the control table, copied and mirrored as the sync window does.
#include "fuzz_input.h"
#include "mixer/mixer_scan.h"
#include "mixer/mixer_sync.h"
#include "platform/sim/machine.h"
#include "platform/sim/winmm.h"
#include "platform/winmm.h"

#include <optional>

namespace {

constexpr DWORD ComponentTypes[] = {
    MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT,
    MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER,
    MIXERLINE_COMPONENTTYPE_SRC_LINE};
constexpr const char* Calls[] = {"mixerGetDevCapsW", "mixerGetLineInfoW", "mixerGetLineControlsW",
                                 "mixerGetControlDetailsW", "mixerSetControlDetails"};

sim::winmm::Line MakeLine(fuzz::Input& input, DWORD& nextId, int depth) {
    sim::winmm::Line line;
    auto pick = input.Below(std::size(ComponentTypes) + 1);
    line.componentType =
        pick < std::size(ComponentTypes) ? ComponentTypes[pick] : input.Take<DWORD>();
    // Channel counts from none to far beyond any line's; the machine keeps one value per channel
    // of each control, so the count stays within what it can hold.
    line.channels = input.Take<std::uint16_t>() % 1024;
    line.lineId = 0xFFFF0000 - nextId++; // unique in the mixer, as a driver's are
    std::size_t controls = input.Below(5);
    for (std::size_t i = 0; i < controls; ++i) {
        sim::winmm::Control control;
        // Identifiers unique in the mixer, now and then the table's "none" value.
        control.id = input.Below(16) == 0 ? NoMixerControl - nextId : nextId;
        ++nextId;
        auto type = input.Below(3);
        control.type = type == 0   ? MIXERCONTROL_CONTROLTYPE_VOLUME
                       : type == 1 ? MIXERCONTROL_CONTROLTYPE_MUTE
                                   : input.Take<DWORD>();
        control.values = {input.Take<DWORD>(), input.Take<DWORD>()};
        line.controls.push_back(control);
    }
    if (depth == 0) {
        std::size_t sources = input.Below(6);
        for (std::size_t i = 0; i < sources; ++i) {
            line.sources.push_back(MakeLine(input, nextId, 1));
        }
    }
    return line;
}

sim::winmm::Mixer MakeMixer(fuzz::Input& input, DWORD firstId) {
    sim::winmm::Mixer mixer;
    mixer.name = WIDE("mixer");
    DWORD nextId = firstId;
    std::size_t destinations = input.Below(4);
    for (std::size_t i = 0; i < destinations; ++i) {
        mixer.destinations.push_back(MakeLine(input, nextId, 0));
    }
    return mixer;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    sim::ResetMachine();
    UINT codec = sim::winmm::AddMixer(MakeMixer(input, 1));
    UINT orvane = sim::winmm::AddMixer(MakeMixer(input, 1000));
    std::size_t failures = input.Below(4);
    for (std::size_t i = 0; i < failures; ++i) {
        auto device = input.Below(2) == 0 ? codec : orvane;
        const char* call = Calls[input.Below(std::size(Calls))];
        std::optional<DWORD> target;
        if (input.Below(2) == 0) {
            target = input.Below(2) == 0 ? input.Take<DWORD>() : 1 + input.Below(8);
        }
        sim::winmm::FailMixerCall(device, call, target, MMSYSERR_ERROR,
                                  static_cast<int>(input.Below(3)) + 1);
    }

    HMIXER codecMixer = nullptr, orvaneMixer = nullptr;
    if (platform::mixerOpen(&codecMixer, codec, 0, 0, 0) != MMSYSERR_NOERROR ||
        platform::mixerOpen(&orvaneMixer, orvane, 0, 0, 0) != MMSYSERR_NOERROR) {
        fuzz::Fail("the mixers did not open");
    }
    MixerControlTable codecTable = EmptyMixerControlTable();
    MixerControlTable orvaneTable = EmptyMixerControlTable();
    ScanMixerLines(codecMixer, codecTable);
    ScanMixerLines(orvaneMixer, orvaneTable);
    CopyAllControls(codecMixer, orvaneMixer, codecTable, orvaneTable);
    // Changes reported for any identifier, the table's own among them, in either direction.
    std::size_t changes = input.Below(6);
    for (std::size_t i = 0; i < changes; ++i) {
        bool fromCodec = input.Below(2) == 0;
        auto& table = fromCodec ? codecTable : orvaneTable;
        DWORD control = input.Below(2) == 0 ? table[input.Below(MixerSlotCount)].controlId
                                            : input.Take<DWORD>();
        if (fromCodec) {
            MirrorControlChange(codecMixer, orvaneMixer, codecTable, orvaneTable, control);
        } else {
            MirrorControlChange(orvaneMixer, codecMixer, orvaneTable, codecTable, control);
        }
    }
    platform::mixerClose(codecMixer);
    platform::mixerClose(orvaneMixer);
    if (!sim::Faults().empty()) {
        fuzz::Fail("the machine saw a misuse");
    }
    return 0;
}
