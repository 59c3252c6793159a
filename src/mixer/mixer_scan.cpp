#include "mixer/mixer_scan.h"
#include "platform/winmm.h"

#include <new>
#include <vector>

static_assert(sizeof(MIXERCAPSW) == 80);
static_assert(sizeof(MIXERLINEW) == 284);
static_assert(sizeof(MIXERLINECONTROLSW) == 28);
static_assert(sizeof(MIXERCONTROLW) == 228);
static_assert(sizeof(MIXERCONTROLDETAILS) == 32);

void CaptureLineControls(HMIXER mixer, int controlCount, int channelCount, DWORD lineId,
                         MixerControlTable& table, int slot, MixerUniformSlots* uniform) {
    // The volume slot and the mute slot after it must both lie inside the table.
    if (slot < 0 || slot + 1 >= MixerSlotCount) {
        return;
    }
    // winmm refuses a request for no controls; a line without controls has nothing to capture.
    if (controlCount <= 0) {
        return;
    }
    // Counts come from the driver; a buffer that cannot be had leaves the table as it was rather
    // than throwing out of the window procedure.
    std::vector<MIXERCONTROLW> controls;
    try {
        controls.resize(static_cast<std::size_t>(controlCount));
    } catch (const std::bad_alloc&) {
        return;
    }
    MIXERLINECONTROLSW request{};
    request.cbStruct = sizeof request;
    request.dwLineID = lineId;
    request.cControls = static_cast<DWORD>(controlCount);
    request.cbmxctrl = sizeof(MIXERCONTROLW);
    request.pamxctrl = controls.data();
    if (platform::mixerGetLineControlsW(mixer, &request,
                                        MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ALL) !=
        MMSYSERR_NOERROR) {
        return;
    }
    for (const MIXERCONTROLW& control : controls) {
        int index;
        if (control.dwControlType == static_cast<DWORD>(MIXERCONTROL_CONTROLTYPE_VOLUME)) {
            index = slot;
        } else if (control.dwControlType == static_cast<DWORD>(MIXERCONTROL_CONTROLTYPE_MUTE)) {
            index = slot + 1;
        } else {
            continue;
        }
        MixerControlSlot& target = table[static_cast<std::size_t>(index)];
        // The identifier is taken even when its value cannot be read.
        target.controlId = control.dwControlID;
        if (uniform) {
            (*uniform)[static_cast<std::size_t>(index)] =
                (control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) != 0;
        }
        // A line without channels has no value to read: the slot keeps its type and values.
        if (channelCount <= 0) {
            continue;
        }
        std::vector<DWORD> values;
        try {
            values.resize(static_cast<std::size_t>(channelCount), 0);
        } catch (const std::bad_alloc&) {
            continue;
        }
        MIXERCONTROLDETAILS details{};
        details.cbStruct = sizeof details;
        details.dwControlID = control.dwControlID;
        details.cChannels = static_cast<DWORD>(channelCount);
        details.cMultipleItems = 0;
        details.cbDetails = sizeof(DWORD);
        details.paDetails = values.data();
        if (platform::mixerGetControlDetailsW(
                mixer, &details, MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE) !=
            MMSYSERR_NOERROR) {
            continue;
        }
        target.controlType = control.dwControlType;
        target.value0 = values[0];
        if (channelCount > 1) {
            target.value1 = values[1];
        }
    }
}

void ScanMixerLines(HMIXER mixer, MixerControlTable& table, MixerUniformSlots* uniform) {
    // winmm takes an open handle in place of a device identifier here.
    MIXERCAPSW caps{};
    if (platform::mixerGetDevCapsW(reinterpret_cast<UINT_PTR>(mixer), &caps, sizeof caps) !=
        MMSYSERR_NOERROR) {
        caps.cDestinations = 0;
    }
    for (DWORD d = 0; d < caps.cDestinations; ++d) {
        MIXERLINEW destination{};
        destination.cbStruct = sizeof destination;
        destination.dwDestination = d;
        destination.dwSource = 0;
        if (platform::mixerGetLineInfoW(mixer, &destination,
                                        MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_DESTINATION) !=
            MMSYSERR_NOERROR) {
            continue;
        }
        if (destination.dwComponentType != MIXERLINE_COMPONENTTYPE_DST_SPEAKERS) {
            continue;
        }
        CaptureLineControls(mixer, static_cast<int>(destination.cControls),
                            static_cast<int>(destination.cChannels), destination.dwLineID, table,
                            SlotForComponent(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS), uniform);
        for (DWORD s = 0; s < destination.cConnections; ++s) {
            MIXERLINEW source{};
            source.cbStruct = sizeof source;
            source.dwDestination = d;
            source.dwSource = s;
            if (platform::mixerGetLineInfoW(mixer, &source,
                                            MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_SOURCE) !=
                MMSYSERR_NOERROR) {
                continue;
            }
            switch (source.dwComponentType) {
            case MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT:
            case MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC:
            case MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER:
                CaptureLineControls(mixer, static_cast<int>(source.cControls),
                                    static_cast<int>(source.cChannels), source.dwLineID, table,
                                    SlotForComponent(source.dwComponentType), uniform);
                break;
            default:
                break;
            }
        }
    }
}
