// Simulated mixer devices and table helpers shared by the mixer suites.
#pragma once

#include "mixer/mixer_table.h"
#include "platform/sim/machine.h"
#include "platform/sim/winmm.h"
#include "platform/winmm.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

inline void PrintTo(const MixerControlSlot& slot, std::ostream* out) {
    *out << std::hex << "{id 0x" << slot.controlId << ", type 0x" << slot.controlType << ", 0x"
         << slot.value0 << ", 0x" << slot.value1 << "}" << std::dec;
}

namespace mixer_devices {

using sim::winmm::Control;
using sim::winmm::Line;
using sim::winmm::Mixer;

constexpr DWORD VolumeType = MIXERCONTROL_CONTROLTYPE_VOLUME;
constexpr DWORD MuteType = MIXERCONTROL_CONTROLTYPE_MUTE;
constexpr DWORD PeakMeterType = 0x10020001;
constexpr DWORD SpeakersDestination = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
constexpr DWORD WaveInDestination = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
constexpr DWORD WaveOutSource = MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
constexpr DWORD CompactDiscSource = MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC;
constexpr DWORD SynthesizerSource = MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER;
constexpr DWORD LineInSource = MIXERLINE_COMPONENTTYPE_SRC_LINE;

inline Control Volume(DWORD id, std::vector<DWORD> values) {
    return {id, VolumeType, values};
}
inline Control Mute(DWORD id, std::vector<DWORD> values) {
    return {id, MuteType, values};
}

inline Line MakeLine(DWORD type, DWORD lineId, std::vector<Control> controls,
                     std::vector<Line> sources = {}, DWORD channels = 2) {
    Line line;
    line.componentType = type;
    line.lineId = lineId;
    line.channels = channels;
    line.controls = std::move(controls);
    line.sources = std::move(sources);
    return line;
}

inline Mixer MakeMixer(std::vector<Line> destinations) {
    Mixer mixer;
    mixer.name = WIDE("Realtek HD Audio output");
    mixer.destinations = std::move(destinations);
    return mixer;
}

constexpr DWORD SpeakersLine = 0xFFFF0000;
constexpr DWORD LineInLine = 0x00010000;
constexpr DWORD WaveOutLine = 0x00010001;
constexpr DWORD CompactDiscLine = 0x00010002;
constexpr DWORD SynthesizerLine = 0x00010003;
constexpr DWORD RecordingLine = 0xFFFF0001;

// A codec: a speakers destination with a line input, wave output, compact disc and synthesizer
// source, then a recording destination whose wave-output-typed source is not to be read.
inline Mixer CodecMixer() {
    return MakeMixer({
        MakeLine(
            SpeakersDestination, SpeakersLine,
            {Volume(1, {40000, 30000}), Mute(2, {0xFFFFFFFF, 1})},
            {
                MakeLine(LineInSource, LineInLine, {Volume(100, {9, 9}), Mute(101, {1, 1})}),
                MakeLine(WaveOutSource, WaveOutLine, {Volume(10, {1000, 2000}), Mute(11, {1, 0})}),
                MakeLine(CompactDiscSource, CompactDiscLine,
                         {Mute(21, {0, 1}), Volume(20, {3000, 4000})}),
                MakeLine(SynthesizerSource, SynthesizerLine,
                         {Control{32, PeakMeterType, {7, 7}}, Volume(30, {5000, 6000}),
                          Mute(31, {1, 1})}),
            }),
        MakeLine(WaveInDestination, RecordingLine, {Volume(40, {8, 8})},
                 {MakeLine(WaveOutSource, 0x00010101, {Volume(50, {11, 11}), Mute(51, {1, 1})})}),
    });
}

// What a scan of CodecMixer reads.
inline MixerControlTable CodecTable() {
    return {{{10, VolumeType, 1000, 2000},
             {11, MuteType, 1, 0},
             {20, VolumeType, 3000, 4000},
             {21, MuteType, 0, 1},
             {30, VolumeType, 5000, 6000},
             {31, MuteType, 1, 1},
             {1, VolumeType, 40000, 30000},
             {2, MuteType, 0xFFFFFFFF, 1}}};
}

// A table whose every field tells which slot it belongs to, so a slot that is written shows.
inline MixerControlTable MarkedTable() {
    MixerControlTable table{};
    for (DWORD i = 0; i < MixerSlotCount; ++i) {
        table[i] = {0xA00 + i, 0xB00 + i, 0xC00 + i, 0xD00 + i};
    }
    return table;
}

} // namespace mixer_devices
