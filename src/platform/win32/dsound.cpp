// DirectSound forwards: each seam call of platform/dsound.h passed unchanged to Windows, nothing
// more. dsound.dll is resolved from the system folder on first use (platform/win32/system_dll.h).
#include "platform/dsound.h"

#include "platform/win32/system_dll.h"

HRESULT WINAPI platform::DirectSoundEnumerateW(LPDSENUMCALLBACKW pDSEnumCallback, LPVOID pContext) {
    static auto* const call = QUENVAR_SYSTEM_ENTRY(Dsound, DirectSoundEnumerateW);
    return call ? call(pDSEnumCallback, pContext) : DSERR_NODRIVER;
}
