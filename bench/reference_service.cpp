// The least a Windows service can be, the yardstick of tools/bench.sh: it registers its control
// handler, reports RUNNING, and waits for the stop. Whatever QuenvarService.exe costs beyond this
// process is the cost of the service's own work and of the DLLs it loads.
#include "platform/types.h"

namespace {

wchar_t Name[] = L"Quenvar_Reference"; // the dispatch table wants it writable

SERVICE_STATUS_HANDLE StatusHandle = nullptr;
SERVICE_STATUS Status = {};
HANDLE Stopped = nullptr;

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        // Reported from the handler, as the service does, so both stops take the same way back.
        Status.dwCurrentState = SERVICE_STOPPED;
        SetServiceStatus(StatusHandle, &Status);
        SetEvent(Stopped);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        SetServiceStatus(StatusHandle, &Status);
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI Main(DWORD, LPWSTR*) {
    StatusHandle = RegisterServiceCtrlHandlerExW(Name, Handler, nullptr);
    if (StatusHandle == nullptr) {
        return;
    }
    Stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    Status.dwCurrentState = SERVICE_RUNNING;
    Status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    SetServiceStatus(StatusHandle, &Status);
    WaitForSingleObject(Stopped, INFINITE);
}

} // namespace

int wmain() {
    SERVICE_TABLE_ENTRYW table[] = {{Name, Main}, {nullptr, nullptr}};
    StartServiceCtrlDispatcherW(table);
    return 0;
}
