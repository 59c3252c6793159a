// DirectSound forwards: each seam call of platform/dsound.h passed unchanged to Windows, nothing
// more.
#include "platform/dsound.h"

HRESULT WINAPI platform::DirectSoundEnumerateW(LPDSENUMCALLBACKW pDSEnumCallback, LPVOID pContext) {
    return ::DirectSoundEnumerateW(pDSEnumCallback, pContext);
}
