// ServiceMain, the control handler, the start step and the stop sequence of the service.
#include "endpoint/endpoint_sync.h"
#include "mixer/mixer_thread.h"
#include "platform/com.h"
#include "platform/guids.h"
#include "platform/kernel.h"
#include "platform/scm.h"
#include "platform/user32.h"
#include "service/recovery.h"
#include "service/service.h"
#include "service/state.h"

SERVICE_STATUS_HANDLE ServiceStatusHandle = nullptr;
SERVICE_STATUS ServiceStatus = {};
bool HandlerComInitPending = true;

namespace {

static_assert(sizeof(OSVERSIONINFOW) == 276, "the version query's record size");
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32, "the device filter's size");

// Blocks until StopEvent is signalled. A wait that fails (StopEvent was never created, or the
// handle is bad) is retried after a short rest, so it cannot spin.
void WaitForStopEvent() {
    for (;;) {
        HANDLE events[1] = {ServiceState.StopEvent};
        DWORD result = platform::WaitForMultipleObjects(1, events, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0) {
            return;
        }
        if (result == WAIT_FAILED) {
            platform::Sleep(StopWaitRetryDelay);
        }
    }
}

// Registers the service for arrivals and removals of render device interfaces; they come back
// to the handler as SERVICE_CONTROL_DEVICEEVENT.
void RegisterRenderDeviceEvents() {
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = platform::KSCATEGORY_RENDER;
    filter.dbcc_name[0] = 0;
    ServiceState.ServiceDeviceNotification = platform::RegisterDeviceNotificationW(
        ServiceStatusHandle, &filter, DEVICE_NOTIFY_SERVICE_HANDLE);
}

// The stop sequence, on the handler's thread. SERVICE_STOPPED is sent by the handler's common end.
// The version is asked afresh, and a failed query answers "above 5" whatever the start step
// took, so the stop also ends what the other path would have left: the device notification
// is only ever set above version 5, and StopMixerThread does nothing unless the thread runs.
void StopService() {
    if (ServiceState.ServiceDeviceNotification) {
        platform::UnregisterDeviceNotification(ServiceState.ServiceDeviceNotification);
        ServiceState.ServiceDeviceNotification = nullptr;
    }
    if (IsVistaOrLater()) {
        // Ends with CoUninitialize on this thread, which balances the handler's CoInitialize.
        EndEndpointSync();
    }
    StopMixerThread(ServiceState);
    platform::SetEvent(ServiceState.StopEvent);
    ServiceStatus.dwCurrentState = SERVICE_STOPPED;
    // Above version 5 EndEndpointSync has already closed the handler's apartment, and this call
    // finds nothing left to close: Windows ignores it.
    platform::CoUninitialize();
    HandlerComInitPending = true;
    // After the prescribed steps, and not waited for: the watcher may be inside a control that
    // waits for this handler. ServiceMain waits for it instead.
    SignalRecoveryStop();
}

} // namespace

// GetVersionExW may fail (it never does on a supported Windows); the endpoint path is then taken,
// which stays idle where Core Audio is missing.
bool IsVistaOrLater() {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!platform::GetVersionExW(&version)) {
        return true;
    }
    return version.dwMajorVersion > 5;
}

void StartSyncMechanism() {
    if (IsVistaOrLater()) {
        BeginEndpointSync();
        // Registered whether or not the endpoint sync could start, so that a device arriving
        // later rebuilds it.
        RegisterRenderDeviceEvents();
        StartRecoveryWatcher();
    } else {
        StartMixerThread(ServiceState);
    }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    ServiceStatus = {};
    ServiceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    ServiceStatus.dwCurrentState = SERVICE_START_PENDING;
    ServiceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    ServiceStatusHandle =
        platform::RegisterServiceCtrlHandlerExW(ServiceName, ServiceControlHandler, nullptr);
    if (!ServiceStatusHandle) {
        return;
    }
    StartSyncMechanism();
    // Running whatever the start step achieved: an idle mechanism waits for its devices.
    ServiceStatus.dwCurrentState = SERVICE_RUNNING;
    platform::SetServiceStatus(ServiceStatusHandle, &ServiceStatus);
    WaitForStopEvent();
    EndRecoveryWatcher();
}

DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, LPVOID, LPVOID) {
    // The watcher's control can still arrive after the stop; the stopped service leaves it alone.
    if (control == RecoveryControl && RecoveryEnded()) {
        return NO_ERROR;
    }
    // Before the code is looked at: every control, refused ones too, finds COM ready.
    if (HandlerComInitPending) {
        platform::CoInitialize(nullptr);
        HandlerComInitPending = false;
    }
    DWORD result = NO_ERROR;
    switch (control) {
    case SERVICE_CONTROL_STOP:
        StopService();
        break;
    case SERVICE_CONTROL_INTERROGATE:
        break;
    case SERVICE_CONTROL_DEVICEEVENT:
        // Every event of the registered class rebuilds the whole endpoint sync; its type and data
        // do not matter to the rebuild.
        if (IsVistaOrLater()) {
            RestartEndpointSync();
            PublishEndpointsBound();
            // An arrival whose endpoint the builder has not made yet: it may follow shortly.
            if (eventType == DBT_DEVICEARRIVAL && !EndpointsBound.load()) {
                RequestRecoveryRetry();
            }
        }
        break;
    case RecoveryControl:
        // Only the endpoint sync has a recovery watcher; below it the code is unknown.
        if (IsVistaOrLater()) {
            RestartEndpointSync();
            PublishEndpointsBound();
        } else {
            result = ERROR_CALL_NOT_IMPLEMENTED;
        }
        break;
    default:
        result = ERROR_CALL_NOT_IMPLEMENTED;
        break;
    }
    platform::SetServiceStatus(ServiceStatusHandle, &ServiceStatus);
    return result;
}
