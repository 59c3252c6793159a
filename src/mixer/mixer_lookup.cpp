#include "mixer/mixer_lookup.h"
#include "platform/kernel.h"
#include "platform/winmm.h"

static_assert(sizeof(MIXERCAPS2W) == 128);

bool MixerMatches(const MIXERCAPS2W& caps, const MixerCriteria& criteria) {
    return criteria.byName ? platform::lstrcmpiW(criteria.name, caps.szPname) == 0
                           : platform::SameGuid(caps.ProductGuid, criteria.productGuid);
}

HMIXER FindMixer(HWND window, const MixerCriteria& criteria) {
    UINT count = platform::mixerGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        // A failed query leaves the record cleared, which matches no name and no GUID.
        MIXERCAPS2W caps{};
        platform::mixerGetDevCapsW(id, reinterpret_cast<LPMIXERCAPSW>(&caps), sizeof caps);
        if (MixerMatches(caps, criteria)) {
            HMIXER mixer = nullptr;
            platform::mixerOpen(&mixer, id, reinterpret_cast<DWORD_PTR>(window), 0,
                                CALLBACK_WINDOW);
            return mixer;
        }
    }
    return nullptr;
}
