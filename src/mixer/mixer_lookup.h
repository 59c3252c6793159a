// Finding and opening a mixer device by its product name or its product GUID.
#pragma once

#include "platform/types.h"

// What FindMixer looks for: with byName nonzero the whole product name, compared without regard
// to letter case; otherwise the product GUID that the device reports.
struct MixerCriteria {
    DWORD byName;
    union {
        LPCWSTR name;
        GUID productGuid;
    };
};

// Whether a device's capabilities match the criteria: the whole product name without regard to
// letter case, or all 16 bytes of the product GUID. FindMixer and QuenvarCheck judge by this.
bool MixerMatches(const MIXERCAPS2W& caps, const MixerCriteria& criteria);

// Opens the first mixer device that matches, with window as the receiver of its change messages.
// Returns its handle, which the caller closes, or null. The search ends at the first match, also
// when that device fails to open.
HMIXER FindMixer(HWND window, const MixerCriteria& criteria);
