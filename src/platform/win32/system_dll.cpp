// Loading system DLLs from the system folder only: the one place that names their files.
#include "platform/win32/system_dll.h"

namespace {

HMODULE LoadFromSystemFolder(const wchar_t* file) {
    wchar_t path[MAX_PATH];
    UINT folder = ::GetSystemDirectoryW(path, MAX_PATH);
    size_t fileChars = ::lstrlenW(file);
    if (folder == 0 || folder + 1 + fileChars >= MAX_PATH) {
        return nullptr;
    }
    path[folder] = L'\\';
    ::lstrcpyW(path + folder + 1, file);
    // The altered search order makes the DLL's own imports come from its folder too, not from the
    // executable's. Both the full path and the flag work from Windows XP on.
    return ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Loaded on the first use of each DLL and never freed: the forwards keep their entry points for
// the life of the process. A DLL the running path never calls is never loaded.
HMODULE SystemModule(platform::win32::SystemDll dll) {
    if (dll == platform::win32::SystemDll::Winmm) {
        static const HMODULE winmm = LoadFromSystemFolder(L"winmm.dll");
        return winmm;
    }
    static const HMODULE dsound = LoadFromSystemFolder(L"dsound.dll");
    return dsound;
}

} // namespace

FARPROC platform::win32::SystemDllEntry(SystemDll dll, const char* name) {
    HMODULE module = SystemModule(dll);
    return module ? ::GetProcAddress(module, name) : nullptr;
}
