// Simulated service control manager: what tests and the demo use to start the service's process
// "as the SCM would", send it controls, read its status reports and look at the service database.
//
// The running service. StartServiceCtrlDispatcherW refuses (FALSE,
// ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) unless SetStartedByScm(true) was called. Otherwise it
// names the calling thread "main", runs the service's ServiceMain on a thread named "service",
// serves controls one at a time on "main", and returns once the service has reported
// SERVICE_STOPPED and its ServiceMain has returned (or once ServiceMain returned without ever
// registering a handler). Controls (Control, and device events for the service's registered
// device notifications, delivered as SERVICE_CONTROL_DEVICEEVENT with a
// DEV_BROADCAST_DEVICEINTERFACE_W as event data) block the sender until the handler returned.
//
// The database. A service the manager starts has its entry (one is made, as -install would, when
// the test did not install it). OpenSCManagerW, CreateServiceW, OpenServiceW, DeleteService and
// CloseServiceHandle keep entries by service name (case ignored). An entry marked for deletion
// goes once it is not running and no handle to it is open. Each handle holds the rights it was
// opened with, generic ones mapped to specific ones (a manager handle also SC_MANAGER_CONNECT);
// CreateServiceW needs SC_MANAGER_CREATE_SERVICE on the manager and DeleteService needs DELETE on
// the service, or they fail with ERROR_ACCESS_DENIED. Without elevation (SetElevated(false))
// opening the manager with more than read rights fails with ERROR_ACCESS_DENIED. A null handle
// fails with ERROR_INVALID_HANDLE.
//
// Journal entries (tagged with the thread name by the journal):
//   "StartServiceCtrlDispatcherW entries=<n>" the entry into the dispatcher (also when it
//                                            refuses), with the table's entries before {null, null}
//   "RegisterServiceCtrlHandlerExW <name>"   (+ " context=non-null" when a context is given)
//   "ServiceControl <code> <eventType>"      a control, just before the handler runs
//   "SetServiceStatus <state>"               state as SERVICE_START_PENDING, SERVICE_RUNNING, ...
//   "OpenSCManagerW access=<desired>", "CreateServiceW <name> access=<desired>",
//   "OpenServiceW <name> access=<desired>" (the desired access as passed, "0x%X"),
//   "DeleteService <name>", "CloseServiceHandle", "QueryServiceConfigW <name>",
//   "ChangeServiceConfig2W <name> level=<n>" (needs SERVICE_CHANGE_CONFIG, and SERVICE_START for
//   failure actions that restart; an unknown level fails with ERROR_INVALID_LEVEL),
//   "QueryServiceStatus <name>"; a call that fails adds " failed <error>". The two queries need
//   SERVICE_QUERY_CONFIG and SERVICE_QUERY_STATUS on the handle; a running entry shows its last
//   reported state.
// Failure injection (sim::FailCall): "RegisterServiceCtrlHandlerExW", "OpenSCManagerW",
// "CreateServiceW", "OpenServiceW", "DeleteService", "ChangeServiceConfig2W".
// Faults: status reports to an unknown handle, closing an unknown or closed SC handle, a
// dispatcher table without the started service, a control sent from inside the handler (Control
// or ControlService on the dispatcher's thread).
#pragma once

#include "platform/types.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace sim::scm {

// Whether the process was started by the service manager, and for which service.
void SetStartedByScm(bool started,
                     const platform::WideString& serviceName = WIDE("Quenvar_Service"));
void SetElevated(bool elevated);

// Status reports, in order, since the last reset.
struct StatusReport {
    SERVICE_STATUS status;
    std::string thread;
};
std::vector<StatusReport> StatusReports();
// The state of the last report (0 before any).
DWORD CurrentState();
// Waits until the service of the current (or last) dispatcher run has reported the state.
bool WaitForState(DWORD state, DWORD timeoutMs = 10000);
bool DispatcherRunning();
// Dispatcher runs started since the last reset, and a wait until there have been that many.
std::size_t DispatcherRuns();
bool WaitForDispatcherRuns(std::size_t runs, DWORD timeoutMs = 10000);
SERVICE_STATUS_HANDLE StatusHandle();

// Sends a control as ControlService would and waits until the handler returned; gives the
// handler's result. Refused without reaching the handler: ERROR_INVALID_PARAMETER for a code
// ControlService does not send (0, shutdown, a device event, codes 11 to 127);
// ERROR_SERVICE_NOT_ACTIVE when no dispatcher runs or the service has stopped;
// ERROR_SERVICE_CANNOT_ACCEPT_CTRL before a handler is registered and while the last report (none
// counts as SERVICE_START_PENDING) is start- or stop-pending; ERROR_INVALID_SERVICE_CONTROL for a
// standard code its dwControlsAccepted does not declare (interrogation and the user-defined codes
// 128 to 255 need none).
DWORD Control(DWORD code, DWORD eventType = 0);
// Delivers SERVICE_CONTROL_DEVICEEVENT of this type, with the event data of the service's
// registered interface class, as the manager does in any state once the handler is registered;
// the handler's result, or Control's refusals for a service without a handler.
DWORD DeviceEvent(DWORD eventType);

// Every control the handler answered, in order.
struct ControlRecord {
    DWORD code;
    DWORD eventType;
    DWORD result;
};
std::vector<ControlRecord> Controls();

// The service database.
struct ServiceEntry {
    platform::WideString name;
    platform::WideString displayName;
    DWORD serviceType = 0;
    DWORD startType = 0;
    DWORD errorControl = 0;
    platform::WideString binaryPath;
    platform::WideString loadOrderGroup;
    platform::WideString dependencies;
    platform::WideString account; // empty: LocalSystem
    bool tagRequested = false;
    bool passwordGiven = false;
    bool markedForDeletion = false;
    bool running = false;
    bool system = false;   // a service of Windows itself, which a fresh machine has
    DWORD systemState = 0; // its state, SERVICE_STOPPED ... SERVICE_PAUSED
    // ChangeServiceConfig2W's optional configuration.
    platform::WideString description;
    DWORD resetPeriod = 0;
    std::vector<SC_ACTION> failureActions;
};
std::optional<ServiceEntry> FindService(const platform::WideString& name);
// Entries besides the services of Windows.
std::size_t ServiceCount();

// Services of Windows itself: a fresh machine runs "AudioSrv" (Windows Audio). Their state moves
// only by this call (sim::audio::RestartAudioService uses it). Journal:
// "SetSystemServiceState <name> <state>".
void SetSystemServiceState(const platform::WideString& name, DWORD state);

// NotifyServiceStatusChangeW (learn.microsoft.com, winsvc.h), which GetProcAddress finds in
// advapi32.dll from Windows major version 6 on: from a service handle with SERVICE_QUERY_STATUS
// (else ERROR_ACCESS_DENIED) and a SERVICE_NOTIFY_STATUS_CHANGE record, for the state bits of the
// mask. When the service is in one of them already, or enters one later, the record is filled
// (status ERROR_SUCCESS, the state, the triggering bit) and its callback is queued as an APC to the
// thread that armed it, called with the record, at that thread's next alertable wait; the request
// is then used up and must be armed again. One request per service at a time (a second one is a
// fault); closing the handle cancels it; a service-manager call inside the APC is a fault.
// Journal: "NotifyServiceStatusChangeW mask=<n> <name>" (+ " failed <error>") and
// "NotifyServiceStatusChangeW notice <name> <state>" when the record is filled.
//
// ControlService: codes 128 to 255 need SERVICE_USER_DEFINED_CONTROL, stop SERVICE_STOP,
// interrogate SERVICE_INTERROGATE, the other codes SERVICE_PAUSE_CONTINUE (ERROR_ACCESS_DENIED
// without). To the running service of the dispatcher it is sent as Control sends it, with Control's
// refusals, and answers with the handler's result (FALSE and that error unless NO_ERROR) and the
// last status report; any other service answers ERROR_SERVICE_NOT_ACTIVE.
// Journal: "ControlService <name> <code>" (+ " failed <error>").
// SC handles (manager and service) open now.
std::size_t OpenScHandles();

} // namespace sim::scm
