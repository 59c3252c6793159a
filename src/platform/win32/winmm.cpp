// winmm forwards: each seam call of platform/winmm.h passed unchanged to Windows, nothing more.
#include "platform/winmm.h"

UINT WINAPI platform::mixerGetNumDevs() {
    return ::mixerGetNumDevs();
}

MMRESULT WINAPI platform::mixerGetDevCapsW(UINT_PTR uMxId, LPMIXERCAPSW pmxcaps, UINT cbmxcaps) {
    return ::mixerGetDevCapsW(uMxId, pmxcaps, cbmxcaps);
}

MMRESULT WINAPI platform::mixerOpen(HMIXER* phmx, UINT uMxId, DWORD_PTR dwCallback,
                                    DWORD_PTR dwInstance, DWORD fdwOpen) {
    return ::mixerOpen(phmx, uMxId, dwCallback, dwInstance, fdwOpen);
}

MMRESULT WINAPI platform::mixerClose(HMIXER hmx) {
    return ::mixerClose(hmx);
}

MMRESULT WINAPI platform::mixerGetLineInfoW(HMIXER hmxobj, LPMIXERLINEW pmxl, DWORD fdwInfo) {
    return ::mixerGetLineInfoW(reinterpret_cast<HMIXEROBJ>(hmxobj), pmxl, fdwInfo);
}

MMRESULT WINAPI platform::mixerGetLineControlsW(HMIXER hmxobj, LPMIXERLINECONTROLSW pmxlc,
                                                DWORD fdwControls) {
    return ::mixerGetLineControlsW(reinterpret_cast<HMIXEROBJ>(hmxobj), pmxlc, fdwControls);
}

MMRESULT WINAPI platform::mixerGetControlDetailsW(HMIXER hmxobj, LPMIXERCONTROLDETAILS pmxcd,
                                                  DWORD fdwDetails) {
    return ::mixerGetControlDetailsW(reinterpret_cast<HMIXEROBJ>(hmxobj), pmxcd, fdwDetails);
}

MMRESULT WINAPI platform::mixerSetControlDetails(HMIXER hmxobj, LPMIXERCONTROLDETAILS pmxcd,
                                                 DWORD fdwDetails) {
    return ::mixerSetControlDetails(reinterpret_cast<HMIXEROBJ>(hmxobj), pmxcd, fdwDetails);
}
