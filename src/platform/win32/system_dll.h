// Entry points of the system DLLs that are not KnownDLLs on every supported version (winmm, dsound,
// setupapi), resolved on first use from the system folder by full path. Imported statically,
// Windows would look for them in the executable's folder first, and a DLL planted there would run
// as LocalSystem.
#pragma once

#include "platform/win32/sdk.h"

namespace platform::win32 {

enum class SystemDll { Winmm, Dsound, Setupapi };

// The named entry point of the DLL in the system folder, or null when either is missing.
FARPROC SystemDllEntry(SystemDll dll, const char* name);

// An imported entry point, as a pointer that may be null like the resolved ones.
template <typename Function> Function* Imported(Function* entry) {
    return entry;
}

template <typename Function> Function* SystemEntry(SystemDll dll, const char* name) {
    // Through the generic function pointer type, which converts to any other without a warning.
    return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(SystemDllEntry(dll, name)));
}

} // namespace platform::win32

// The forwards' entry point for NAME. Built with QUENVAR_IMPORT_AUDIO_DLLS, they import the DLLs
// as usual instead: the unprotected layout, which a test builds to show a planted DLL run.
#ifdef QUENVAR_IMPORT_AUDIO_DLLS
#define QUENVAR_SYSTEM_ENTRY(dll, name) (platform::win32::Imported(&::name))
#else
#define QUENVAR_SYSTEM_ENTRY(dll, name)                                                            \
    (platform::win32::SystemEntry<decltype(::name)>(platform::win32::SystemDll::dll, #name))
#endif
