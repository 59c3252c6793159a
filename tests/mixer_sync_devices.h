// The machine of the mixer sync suites: the codec's mixer, the virtual device's mixer and its
// kernel-streaming filter, and readers of what the sync did to them.
#pragma once

#include "driver/ks_channel.h"
#include "mixer/mixer_table.h"
#include "platform/sim/ks.h"
#include "platform/sim/machine.h"
#include "platform/sim/winmm.h"

#include <string>
#include <vector>

namespace mixer_sync_devices {

using sim::winmm::Control;
using sim::winmm::Line;
using sim::winmm::Mixer;

constexpr DWORD VolumeType = MIXERCONTROL_CONTROLTYPE_VOLUME;
constexpr DWORD MuteType = MIXERCONTROL_CONTROLTYPE_MUTE;

// Control identifiers: the codec's in the tens, the virtual device's in the two hundreds, one
// pair per line in slot order (wave output, compact disc, synthesizer, speakers); the line input
// is outside the eight slots.
constexpr DWORD CodecIds[8] = {10, 11, 20, 21, 30, 31, 1, 2};
constexpr DWORD VirtualIds[8] = {210, 211, 220, 221, 230, 231, 201, 202};
constexpr DWORD CodecLineInVolume = 100;

inline Line MakeLine(DWORD type, DWORD lineId, std::vector<Control> controls,
                     std::vector<Line> sources = {}) {
    Line line;
    line.componentType = type;
    line.lineId = lineId;
    line.channels = 2;
    line.controls = std::move(controls);
    line.sources = std::move(sources);
    return line;
}

// A speakers destination with a line input (codec only), wave output, compact disc and
// synthesizer; values[i] are the two channel values of slot i.
inline Mixer SyncMixer(const DWORD (&ids)[8], const std::vector<std::vector<DWORD>>& values,
                       bool withLineIn) {
    std::vector<Line> sources;
    if (withLineIn) {
        sources.push_back(MakeLine(
            MIXERLINE_COMPONENTTYPE_SRC_LINE, 0x10000,
            {Control{CodecLineInVolume, VolumeType, {9, 9}}, Control{101, MuteType, {0, 0}}}));
    }
    const DWORD types[3] = {MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT,
                            MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC,
                            MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER};
    for (int line = 0; line < 3; ++line) {
        sources.push_back(MakeLine(types[line], 0x10001 + line,
                                   {Control{ids[2 * line], VolumeType, values[2 * line]},
                                    Control{ids[2 * line + 1], MuteType, values[2 * line + 1]}}));
    }
    Mixer mixer;
    mixer.destinations.push_back(
        MakeLine(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, 0xFFFF0000,
                 {Control{ids[6], VolumeType, values[6]}, Control{ids[7], MuteType, values[7]}},
                 std::move(sources)));
    return mixer;
}

inline const std::vector<std::vector<DWORD>> CodecValues = {
    {1000, 2000}, {1, 0}, {3000, 4000}, {0, 1}, {5000, 6000}, {1, 1}, {40000, 30000}, {0, 0}};
// Every value differs from the codec's, so the first copy changes every control.
inline const std::vector<std::vector<DWORD>> VirtualValues = {{7, 8},   {0, 1}, {9, 10},  {1, 0},
                                                              {11, 12}, {0, 0}, {13, 14}, {1, 1}};

inline Mixer CodecMixer(const std::string& name) {
    Mixer mixer = SyncMixer(CodecIds, CodecValues, true);
    mixer.name = sim::Widen(name);
    return mixer;
}

inline Mixer VirtualMixerDevice() {
    Mixer mixer = SyncMixer(VirtualIds, VirtualValues, false);
    mixer.name = WIDE("Orvane Audio");
    mixer.productGuid = VirtualDeviceProductGuid;
    return mixer;
}

inline const platform::WideString FilterPath = WIDE("\\\\?\\root#media#0001#orvane");

// Every value the virtual device's driver took for its sync-active flag, in order.
inline std::vector<std::string> DriverFlags() {
    std::vector<std::string> flags;
    for (auto& entry : sim::JournalWith("KsSet ")) {
        auto at = entry.find("SyncActive=");
        flags.push_back(entry.substr(at + 11, entry.find(' ', at) - at - 11));
    }
    return flags;
}

// Journal entries that start with prefix and contain text.
inline std::vector<std::string> JournalWithText(const std::string& prefix,
                                                const std::string& text) {
    std::vector<std::string> found;
    for (auto& entry : sim::JournalWith(prefix)) {
        if (entry.find(text) != std::string::npos) {
            found.push_back(entry);
        }
    }
    return found;
}

inline std::vector<DWORD> Values(UINT device, int slot, bool codec) {
    return sim::winmm::ControlValues(device, codec ? CodecIds[slot] : VirtualIds[slot]);
}

} // namespace mixer_sync_devices
