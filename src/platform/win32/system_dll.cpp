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
    // The process has restricted its search at start (safety::RestrictDllSearch). Where kernel32
    // has SetDefaultDllDirectories, LoadLibraryExW also takes the LOAD_LIBRARY_SEARCH flags: the
    // DLL comes from the full path and each of its own imports from the system folder alone.
    // LOAD_WITH_ALTERED_SEARCH_PATH is not combined with them: it would ask for the standard
    // search order again, beginning at the DLL's folder. Without those flags (XP, Vista or 7
    // without the update) the altered order is the best there is: the DLL's imports come from its
    // own folder, the system folder, first; the current folder is no longer searched.
    HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    bool searchFlags = kernel32 && ::GetProcAddress(kernel32, "SetDefaultDllDirectories");
    return ::LoadLibraryExW(
        path, nullptr, searchFlags ? LOAD_LIBRARY_SEARCH_SYSTEM32 : LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Loaded on the first use of each DLL and never freed: the forwards keep their entry points for
// the life of the process. A DLL the running path never calls is never loaded.
HMODULE SystemModule(platform::win32::SystemDll dll) {
    switch (dll) {
    case platform::win32::SystemDll::Winmm: {
        static const HMODULE winmm = LoadFromSystemFolder(L"winmm.dll");
        return winmm;
    }
    case platform::win32::SystemDll::Dsound: {
        static const HMODULE dsound = LoadFromSystemFolder(L"dsound.dll");
        return dsound;
    }
    case platform::win32::SystemDll::Setupapi:
        break;
    }
    static const HMODULE setupapi = LoadFromSystemFolder(L"setupapi.dll");
    return setupapi;
}

} // namespace

FARPROC platform::win32::SystemDllEntry(SystemDll dll, const char* name) {
    HMODULE module = SystemModule(dll);
    return module ? ::GetProcAddress(module, name) : nullptr;
}
