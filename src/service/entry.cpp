// The process entry: the command word, or the service control dispatcher.
#include "platform/kernel.h"
#include "platform/scm.h"
#include "service/install.h"
#include "service/service.h"

int ProcessEntry(int argc, WCHAR* argv[], WCHAR*[]) {
    // Only the first argument counts. argv[argc] is null, so one argument less than expected reads
    // as "no command"; an empty vector (argc 0) must not be read past its end.
    const WCHAR* command = argc > 1 ? argv[1] : nullptr;
    if (platform::lstrcmpiW(command, WIDE("-install")) == 0) {
        InstallService();
        return 0;
    }
    if (platform::lstrcmpiW(command, WIDE("-remove")) == 0) {
        RemoveService();
        return 0;
    }
    // The table's name field is not const in the platform's declaration.
    static WCHAR serviceName[] = WIDE("Quenvar_Service");
    const SERVICE_TABLE_ENTRYW dispatchTable[] = {{serviceName, ServiceMain}, {nullptr, nullptr}};
    // Fails at once when the process was not started by the service control manager (run from a
    // console without a command word); the exit status is 0 either way.
    platform::StartServiceCtrlDispatcherW(dispatchTable);
    return 0;
}
