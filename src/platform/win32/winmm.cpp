// winmm forwards: each seam call of platform/winmm.h passed unchanged to Windows, nothing more.
// winmm.dll is resolved from the system folder on first use (platform/win32/system_dll.h); were it
// missing, each call answers as a machine without a mixer driver.
#include "platform/winmm.h"

#include "platform/win32/system_dll.h"

UINT WINAPI platform::mixerGetNumDevs() {
    static auto* const call = QUENVAR_SYSTEM_ENTRY(Winmm, mixerGetNumDevs);
    return call ? call() : 0;
}

MMRESULT WINAPI platform::mixerGetDevCapsW(UINT_PTR uMxId, LPMIXERCAPSW pmxcaps, UINT cbmxcaps) {
    static auto* const call = QUENVAR_SYSTEM_ENTRY(Winmm, mixerGetDevCapsW);
    return call ? call(uMxId, pmxcaps, cbmxcaps) : MMSYSERR_NODRIVER;
}

MMRESULT WINAPI platform::mixerOpen(HMIXER* phmx, UINT uMxId, DWORD_PTR dwCallback,
                                    DWORD_PTR dwInstance, DWORD fdwOpen) {
    static auto* const call = QUENVAR_SYSTEM_ENTRY(Winmm, mixerOpen);
    return call ? call(phmx, uMxId, dwCallback, dwInstance, fdwOpen) : MMSYSERR_NODRIVER;
}

MMRESULT WINAPI platform::mixerClose(HMIXER hmx) {
    static auto* const call = QUENVAR_SYSTEM_ENTRY(Winmm, mixerClose);
    return call ? call(hmx) : MMSYSERR_NODRIVER;
}

MMRESULT WINAPI platform::mixerGetLineInfoW(HMIXER hmxobj, LPMIXERLINEW pmxl, DWORD fdwInfo) {
    static auto* const call = QUENVAR_SYSTEM_ENTRY(Winmm, mixerGetLineInfoW);
    return call ? call(reinterpret_cast<HMIXEROBJ>(hmxobj), pmxl, fdwInfo) : MMSYSERR_NODRIVER;
}

MMRESULT WINAPI platform::mixerGetLineControlsW(HMIXER hmxobj, LPMIXERLINECONTROLSW pmxlc,
                                                DWORD fdwControls) {
    static auto* const call = QUENVAR_SYSTEM_ENTRY(Winmm, mixerGetLineControlsW);
    return call ? call(reinterpret_cast<HMIXEROBJ>(hmxobj), pmxlc, fdwControls) : MMSYSERR_NODRIVER;
}

MMRESULT WINAPI platform::mixerGetControlDetailsW(HMIXER hmxobj, LPMIXERCONTROLDETAILS pmxcd,
                                                  DWORD fdwDetails) {
    static auto* const call = QUENVAR_SYSTEM_ENTRY(Winmm, mixerGetControlDetailsW);
    return call ? call(reinterpret_cast<HMIXEROBJ>(hmxobj), pmxcd, fdwDetails) : MMSYSERR_NODRIVER;
}

MMRESULT WINAPI platform::mixerSetControlDetails(HMIXER hmxobj, LPMIXERCONTROLDETAILS pmxcd,
                                                 DWORD fdwDetails) {
    static auto* const call = QUENVAR_SYSTEM_ENTRY(Winmm, mixerSetControlDetails);
    return call ? call(reinterpret_cast<HMIXEROBJ>(hmxobj), pmxcd, fdwDetails) : MMSYSERR_NODRIVER;
}
