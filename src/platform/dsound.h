// DirectSound: the render device list, used to map descriptions to Core Audio endpoint ids.
#pragma once

#include "platform/types.h"

namespace platform {

HRESULT WINAPI DirectSoundEnumerateW(LPDSENUMCALLBACKW pDSEnumCallback, LPVOID pContext);

} // namespace platform
