#include "mixer/mixer_table.h"

static_assert(sizeof(MixerControlSlot) == 16);

constinit MixerControlTable HardwareControlTable = EmptyMixerControlTable();
constinit MixerControlTable VirtualControlTable = EmptyMixerControlTable();

int SlotForComponent(DWORD componentType) {
    switch (componentType) {
    case MIXERLINE_COMPONENTTYPE_DST_SPEAKERS:
        return 6;
    case MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER:
        return 4;
    case MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC:
        return 2;
    default: // in use: MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT
        return 0;
    }
}
