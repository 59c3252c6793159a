// The process entry: the command word, or the service control dispatcher.
#include "platform/kernel.h"
#include "platform/scm.h"
#include "safety/dll_search.h"
#include "service/install.h"
#include "service/service.h"

#include <cstdio>

int ProcessEntry(int argc, WCHAR* argv[], WCHAR*[]) {
    // Before anything can load a DLL: COM, winmm, dsound and setupapi load more of them later.
    safety::RestrictDllSearch();
    // Only the first argument counts. argv[argc] is null, so one argument less than expected reads
    // as "no command"; an empty vector (argc 0) must not be read past its end.
    const WCHAR* command = argc > 1 ? argv[1] : nullptr;
    if (platform::lstrcmpiW(command, WIDE("-install")) == 0) {
        return static_cast<int>(InstallService());
    }
    if (platform::lstrcmpiW(command, WIDE("-remove")) == 0) {
        return static_cast<int>(RemoveService());
    }
    // The table's name field is not const in the platform's declaration.
    static WCHAR serviceName[] = WIDE("Quenvar_Service");
    const SERVICE_TABLE_ENTRYW dispatchTable[] = {{serviceName, ServiceMain}, {nullptr, nullptr}};
    if (platform::StartServiceCtrlDispatcherW(dispatchTable)) {
        return 0;
    }
    // Fails at once when the process was not started by the service control manager: someone ran
    // the program from a console without a command word.
    DWORD error = platform::GetLastError();
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
        std::fputs("QuenvarService.exe is the Quenvar Service, started by the service control "
                   "manager; to install it, run \"QuenvarService.exe -install\" as an "
                   "administrator (\"-remove\" removes it)\n",
                   stderr);
        std::fflush(stderr);
    } else {
        ReportFailure("", "connecting to the service control manager", error);
    }
    return static_cast<int>(error);
}
