#include "mixer/mixer_sync.h"
#include "driver/ks_channel.h"
#include "mixer/mixer_lookup.h"
#include "mixer/mixer_scan.h"
#include "platform/winmm.h"

HMIXER VirtualMixer = nullptr;
HMIXER HardwareMixer = nullptr;

namespace {

constexpr DWORD MixerByHandle = MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE;

// A two-channel value request for one control; values receives the channels.
MIXERCONTROLDETAILS TwoChannelDetails(DWORD controlId, DWORD (&values)[2]) {
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof(MIXERCONTROLDETAILS);
    details.dwControlID = controlId;
    details.cChannels = 2;
    details.cMultipleItems = 0;
    details.cbDetails = sizeof(DWORD);
    details.paDetails = values;
    return details;
}

// Mute is compared and stored as 0 or 1, whatever nonzero value a driver reports; any other slot,
// one whose type was never read included, keeps the value as read. Were a raw mute stored in a
// typeless slot in the other slot's reduced terms, each side's echo would differ from what it
// stores and the two mixers would write to each other without end.
DWORD StoredValue(const MixerControlSlot& slot, DWORD value) {
    if (slot.controlType == static_cast<DWORD>(MIXERCONTROL_CONTROLTYPE_MUTE)) {
        return value != 0 ? 1 : 0;
    }
    return value;
}

// Whether a value read back lies within the one step a driver may round a written value by.
bool WithinStep(DWORD readBack, DWORD written) {
    return (readBack > written ? readBack - written : written - readBack) <= 1;
}

// Writes values to the destination slot's control and stores them in both slots, each in its own
// terms, before the write, so that the destination's answering change is known as the echo. A
// driver may round a value by one step (Wine's mixer test allows it on Windows): the destination
// keeps what it reads back when that is within the step, or the echo of a rounded write would be
// mirrored back and forth between two drivers that round differently.
void WriteAndStore(HMIXER destinationMixer, MixerControlSlot& source, MixerControlSlot& destination,
                   DWORD (&values)[2]) {
    source.value0 = StoredValue(source, values[0]);
    source.value1 = StoredValue(source, values[1]);
    destination.value0 = StoredValue(destination, values[0]);
    destination.value1 = StoredValue(destination, values[1]);
    MIXERCONTROLDETAILS details = TwoChannelDetails(destination.controlId, values);
    if (platform::mixerSetControlDetails(destinationMixer, &details, MixerByHandle) !=
        MMSYSERR_NOERROR) {
        return;
    }
    DWORD readBack[2] = {};
    details = TwoChannelDetails(destination.controlId, readBack);
    if (platform::mixerGetControlDetailsW(destinationMixer, &details, MixerByHandle) ==
            MMSYSERR_NOERROR &&
        WithinStep(readBack[0], values[0]) && WithinStep(readBack[1], values[1])) {
        destination.value0 = StoredValue(destination, readBack[0]);
        destination.value1 = StoredValue(destination, readBack[1]);
    }
}

} // namespace

static_assert(sizeof(MIXERCONTROLDETAILS) == 32);

MixerCriteria VirtualMixerCriteria() {
    MixerCriteria byGuid{};
    byGuid.byName = 0;
    byGuid.productGuid = VirtualDeviceProductGuid;
    return byGuid;
}

MixerCriteria HardwareMixerCriteria(const WCHAR* name) {
    MixerCriteria byName{};
    byName.byName = 1;
    byName.name = name;
    return byName;
}

HMIXER FindVirtualMixer(HWND window) {
    return FindMixer(window, VirtualMixerCriteria());
}

HMIXER FindHardwareMixer(HWND window, const WCHAR** matchedName) {
    for (const WCHAR* name : HardwareMixerNames) {
        if (HMIXER mixer = FindMixer(window, HardwareMixerCriteria(name))) {
            if (matchedName) {
                *matchedName = name;
            }
            return mixer;
        }
    }
    return nullptr;
}

void StartMixerSync(HWND window) {
    VirtualMixer = FindVirtualMixer(window);
    // Looked for even without the virtual mixer, so that a failed start is visible as an open
    // and close of the codec's mixer.
    HardwareMixer = FindHardwareMixer(window);

    if (VirtualMixer && HardwareMixer) {
        ScanMixerLines(HardwareMixer, HardwareControlTable);
        ScanMixerLines(VirtualMixer, VirtualControlTable);
        CopyAllControls(HardwareMixer, VirtualMixer, HardwareControlTable, VirtualControlTable);
        NotifyDriverSyncState(1);
    } else {
        StopMixerSync();
    }
}

void StopMixerSync() {
    if (VirtualMixer) {
        platform::mixerClose(VirtualMixer);
        VirtualMixer = nullptr;
    }
    if (HardwareMixer) {
        platform::mixerClose(HardwareMixer);
        HardwareMixer = nullptr;
    }
    NotifyDriverSyncState(0);
}

void CopyAllControls(HMIXER sourceMixer, HMIXER destinationMixer, MixerControlTable& sourceTable,
                     MixerControlTable& destinationTable) {
    for (int i = 0; i < MixerSlotCount; ++i) {
        DWORD values[2] = {};
        MIXERCONTROLDETAILS details = TwoChannelDetails(sourceTable[i].controlId, values);
        // A slot without a control on the source fails here and is skipped.
        if (platform::mixerGetControlDetailsW(sourceMixer, &details, MixerByHandle) !=
            MMSYSERR_NOERROR) {
            continue;
        }
        WriteAndStore(destinationMixer, sourceTable[i], destinationTable[i], values);
    }
}

void MirrorControlChange(HMIXER sourceMixer, HMIXER destinationMixer,
                         MixerControlTable& sourceTable, MixerControlTable& destinationTable,
                         DWORD controlId) {
    int index = 0;
    while (index < MixerSlotCount && sourceTable[index].controlId != controlId) {
        ++index;
    }
    if (index == MixerSlotCount) {
        return;
    }
    MixerControlSlot& source = sourceTable[index];
    MixerControlSlot& destination = destinationTable[index];

    DWORD values[2] = {};
    MIXERCONTROLDETAILS details = TwoChannelDetails(controlId, values);
    if (platform::mixerGetControlDetailsW(sourceMixer, &details, MixerByHandle) !=
        MMSYSERR_NOERROR) {
        return;
    }

    if (StoredValue(source, values[0]) == source.value0 &&
        StoredValue(source, values[1]) == source.value1) {
        return; // the echo of our own write, or no change at all
    }
    // Each slot in its own terms: the destination's answering change must find them equal, also
    // when only one of the two slots' types could be read.
    WriteAndStore(destinationMixer, source, destination, values);
}
