// Where the process may load DLLs from. The service runs as LocalSystem: a DLL that anyone else can
// put where the loader looks would run with its rights.
#pragma once

namespace safety {

// Restricts DLL loading for the whole process; the first thing each executable does. Where kernel32
// exports SetDefaultDllDirectories (Windows 8 on, and Vista or 7 with the update that adds it), a
// DLL loaded by name, and the dependencies of any DLL, come from the system folder only. Elsewhere
// SetDllDirectoryW(L"") takes the current folder out of the search; the executable's own folder
// stays searched, which is why the executables import KnownDLLs only.
void RestrictDllSearch();

} // namespace safety
