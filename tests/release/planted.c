/* A DLL planted beside QuenvarService.exe under the name of a system DLL (winmm.dll, dsound.dll
   or setupapi.dll). Loaded, it leaves "<its own path>.ran" behind. It exports the entry points the
   executable would import, each failing, so that a process that imports them still starts. */
#define WIN32_LEAN_AND_MEAN /* no mmsystem.h: these exports take no typed arguments */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        WCHAR path[MAX_PATH + 8];
        DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcpyW(path + length, L".ran");
            HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            if (marker != INVALID_HANDLE_VALUE) {
                CloseHandle(marker);
            }
        }
    }
    return TRUE;
}

#ifdef PLANTED_WINMM
__declspec(dllexport) UINT mixerGetNumDevs(void) {
    return 0;
}
#define FAILS(name)                                                                                \
    __declspec(dllexport) UINT name(void) {                                                        \
        return 6; /* MMSYSERR_NODRIVER */                                                          \
    }
FAILS(mixerGetDevCapsW)
FAILS(mixerOpen)
FAILS(mixerClose)
FAILS(mixerGetLineInfoW)
FAILS(mixerGetLineControlsW)
FAILS(mixerGetControlDetailsW)
FAILS(mixerSetControlDetails)
#elif defined PLANTED_SETUPAPI
__declspec(dllexport) HANDLE SetupDiGetClassDevsW(void) {
    return INVALID_HANDLE_VALUE;
}
#define FAILS(name)                                                                                \
    __declspec(dllexport) BOOL name(void) {                                                        \
        return FALSE;                                                                              \
    }
FAILS(SetupDiEnumDeviceInterfaces)
FAILS(SetupDiGetDeviceInterfaceDetailW)
FAILS(SetupDiDestroyDeviceInfoList)
#else
__declspec(dllexport) HRESULT DirectSoundEnumerateW(void) {
    return E_FAIL;
}
#endif
