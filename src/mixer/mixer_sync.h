// Mirroring between the codec's mixer and the virtual device's mixer: opening and closing both,
// the initial copy from the codec to the virtual device, and mirroring one control change. Runs
// on the mixer thread only.
#pragma once

#include "mixer/mixer_lookup.h"
#include "mixer/mixer_table.h"

#include <array>

// The open mixers, or null. The mirroring is active exactly when both are non-null.
extern HMIXER VirtualMixer;
extern HMIXER HardwareMixer;

// The codec's mixer by product name, tried in this order. The second is cut to the 31 characters
// that the mixer capabilities' product name holds.
inline constexpr std::array<const WCHAR*, 3> HardwareMixerNames = {
    WIDE("Realtek HD Audio output"), WIDE("Speakers (Realtek High Definiti"),
    WIDE("Realtek HD Audio rear output")};

// What StartMixerSync looks for: the virtual device's mixer by its product GUID, the codec's by
// one name of HardwareMixerNames.
MixerCriteria VirtualMixerCriteria();
MixerCriteria HardwareMixerCriteria(const WCHAR* name);
// The lookups of StartMixerSync (QuenvarCheck makes them too): FindMixer with the virtual
// device's criteria; FindMixer with each codec name in turn until one opens, whose name goes to
// matchedName when given.
HMIXER FindVirtualMixer(HWND window);
HMIXER FindHardwareMixer(HWND window, const WCHAR** matchedName = nullptr);

// Opens both mixers with window as their change receiver, scans them, copies the codec's
// controls onto the virtual device and sets the driver flag; when either mixer is missing,
// closes the other and clears the flag. Expects both handles null.
void StartMixerSync(HWND window);
// Closes whichever mixer is open and clears the driver flag, every time. The tables stay.
void StopMixerSync();
// Writes each source slot's current values to the destination slot's control, and stores them in
// both tables as MirrorControlChange does, so that the copy's echoes end at the virtual device.
void CopyAllControls(HMIXER sourceMixer, HMIXER destinationMixer, MixerControlTable& sourceTable,
                     MixerControlTable& destinationTable);
// Mirrors one reported change of controlId on the source mixer to the destination mixer, unless
// the values equal those stored for it (which ends the echo of a mirrored write). The destination
// stores what it reads back after the write when that is within 1 of what was written.
void MirrorControlChange(HMIXER sourceMixer, HMIXER destinationMixer,
                         MixerControlTable& sourceTable, MixerControlTable& destinationTable,
                         DWORD controlId);
