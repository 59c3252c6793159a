// winmm: the legacy mixer API.
#pragma once

#include "platform/types.h"

namespace platform {

UINT WINAPI mixerGetNumDevs();
MMRESULT WINAPI mixerGetDevCapsW(UINT_PTR uMxId, LPMIXERCAPSW pmxcaps, UINT cbmxcaps);
MMRESULT WINAPI mixerOpen(HMIXER* phmx, UINT uMxId, DWORD_PTR dwCallback, DWORD_PTR dwInstance,
                          DWORD fdwOpen);
MMRESULT WINAPI mixerClose(HMIXER hmx);
MMRESULT WINAPI mixerGetLineInfoW(HMIXER hmxobj, LPMIXERLINEW pmxl, DWORD fdwInfo);
MMRESULT WINAPI mixerGetLineControlsW(HMIXER hmxobj, LPMIXERLINECONTROLSW pmxlc, DWORD fdwControls);
MMRESULT WINAPI mixerGetControlDetailsW(HMIXER hmxobj, LPMIXERCONTROLDETAILS pmxcd,
                                        DWORD fdwDetails);
MMRESULT WINAPI mixerSetControlDetails(HMIXER hmxobj, LPMIXERCONTROLDETAILS pmxcd,
                                       DWORD fdwDetails);

} // namespace platform
