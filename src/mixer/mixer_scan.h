// Reading the volume and mute controls of an open mixer's speakers destination and of its wave
// output, compact disc and synthesizer sources into a control table.
#pragma once

#include "mixer/mixer_table.h"

#include <array>

// Slots whose control declares MIXERCONTROL_CONTROLF_UNIFORM (QuenvarCheck reports them).
using MixerUniformSlots = std::array<bool, MixerSlotCount>;

// Fills the table from the mixer's speakers destination and its sources. Slots whose control is
// not found keep what they held; a later find overwrites an earlier one. uniform, when given, is
// set for each slot whose found control is uniform.
void ScanMixerLines(HMIXER mixer, MixerControlTable& table, MixerUniformSlots* uniform = nullptr);

// Reads the line's volume control into table[slot] and its mute control into table[slot + 1].
void CaptureLineControls(HMIXER mixer, int controlCount, int channelCount, DWORD lineId,
                         MixerControlTable& table, int slot, MixerUniformSlots* uniform = nullptr);
