// The process-wide DLL search restriction.
#include "safety/dll_search.h"

#include "platform/kernel.h"

namespace safety {

void RestrictDllSearch() {
    // Looked up rather than imported: an import of it would stop the program from starting on
    // the versions that lack it.
    HMODULE kernel32 = platform::GetModuleHandleW(WIDE("kernel32.dll"));
    FARPROC entry =
        kernel32 ? platform::GetProcAddress(kernel32, "SetDefaultDllDirectories") : nullptr;
    if (entry) {
        using SetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
        // Through the generic function pointer type, which converts to any other without a
        // warning.
        auto setDefault =
            reinterpret_cast<SetDefaultDllDirectories>(reinterpret_cast<void (*)()>(entry));
        if (setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
            return;
        }
    }
    platform::SetDllDirectoryW(WIDE(""));
}

} // namespace safety
