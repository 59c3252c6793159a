// The mixer side's data: one mirrored control per slot, eight slots per mixer, and the two
// process-wide tables of the codec's and the virtual device's mixers.
#pragma once

#include "platform/types.h"

#include <array>

// The value of controlId while no control has been found for a slot.
inline constexpr DWORD NoMixerControl = 0xFFFFFFFF;

struct MixerControlSlot {
    DWORD controlId;   // dwControlID on its mixer, NoMixerControl while none was found
    DWORD controlType; // dwControlType (volume or mute), 0 until a value has been read
    DWORD value0;      // last known value of channel 0 (volume level or raw mute flag)
    DWORD value1;      // last known value of channel 1

    bool operator==(const MixerControlSlot&) const = default;
};

// One fixed place per line and control: a line's volume at an even index, its mute at the next.
// 0/1 wave output, 2/3 compact disc, 4/5 synthesizer, 6/7 speakers destination (master).
inline constexpr int MixerSlotCount = 8;
using MixerControlTable = std::array<MixerControlSlot, MixerSlotCount>;

// The state of a table before any scan.
constexpr MixerControlTable EmptyMixerControlTable() {
    MixerControlTable table{};
    for (auto& slot : table) {
        slot = MixerControlSlot{NoMixerControl, 0, 0, 0};
    }
    return table;
}

// Both are constant-initialised, so they hold their empty state before any code of the process
// runs; nothing clears them afterwards, and a slot keeps what the last scan that found its
// control put there.
extern MixerControlTable HardwareControlTable;
extern MixerControlTable VirtualControlTable;

// The index of the volume slot for a line's component type; the mute slot is the next index.
int SlotForComponent(DWORD componentType);
