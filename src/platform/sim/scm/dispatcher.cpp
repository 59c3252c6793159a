// Simulated advapi32 for the running service: the control dispatcher, handler registration,
// status reports and the delivery of controls and device events to the handler.
#include "platform/kernel.h"
#include "platform/scm.h"
#include "platform/sim/machine.h"
#include "platform/sim/scm.h"
#include "platform/sim/scm/running.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim::scm {
namespace {

// A control waiting for, or answered by, the handler.
struct Request {
    DWORD code = 0;
    DWORD eventType = 0;
    std::vector<unsigned char> eventData;
    bool done = false;
    DWORD result = 0;
};

const platform::WideString DefaultServiceName = WIDE("Quenvar_Service");
constexpr auto ControlGuard = std::chrono::seconds(30);

struct Dispatcher {
    std::mutex lock;
    std::condition_variable changed;
    bool startedByScm = false;
    platform::WideString serviceName = DefaultServiceName;

    // One run of StartServiceCtrlDispatcherW.
    bool running = false;
    std::thread::id dispatcherThread;
    bool serviceMainReturned = false;
    bool handlerRegistered = false;
    bool stopped = false;
    LPHANDLER_FUNCTION_EX handler = nullptr;
    LPVOID context = nullptr;
    std::uintptr_t statusHandle = 0;
    std::uintptr_t nextStatusHandle = 0x5C000;
    std::deque<std::shared_ptr<Request>> queue;
    bool handling = false;       // the handler runs a control
    std::uint64_t delivered = 0; // controls queued, ever
    std::size_t runFirstReport = 0;
    std::size_t runs = 0;

    std::vector<StatusReport> reports;
    std::vector<ControlRecord> controls;
};

void DeliverDeviceEvent(HANDLE recipient, DWORD eventType);

Dispatcher& State() {
    static Dispatcher* dispatcher = [] {
        auto* created = new Dispatcher;
        OnReset([created] {
            std::lock_guard<std::mutex> guard(created->lock);
            created->startedByScm = false;
            created->serviceName = DefaultServiceName;
            created->reports.clear();
            created->controls.clear();
            created->runFirstReport = 0;
            created->runs = 0;
        });
        SetServiceDeviceEventSink(DeliverDeviceEvent);
        AddQuietCheck([created]() -> std::uint64_t {
            std::lock_guard<std::mutex> guard(created->lock);
            return created->queue.empty() && !created->handling ? created->delivered + 1 : 0;
        });
        return created;
    }();
    return *dispatcher;
}

std::string StateName(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED:
        return "SERVICE_STOPPED";
    case SERVICE_START_PENDING:
        return "SERVICE_START_PENDING";
    case SERVICE_STOP_PENDING:
        return "SERVICE_STOP_PENDING";
    case SERVICE_RUNNING:
        return "SERVICE_RUNNING";
    default:
        return std::to_string(state);
    }
}

bool SameName(const platform::WideString& a, LPCWSTR b) {
    return b && platform::lstrcmpiW(a.c_str(), b) == 0;
}

// Queues a control for the dispatcher thread; waits for the handler's answer unless told not to
// (a device event raised on the dispatcher thread itself cannot wait for it).
DWORD Deliver(DWORD code, DWORD eventType, std::vector<unsigned char> eventData, bool wait) {
    auto& state = State();
    std::unique_lock<std::mutex> guard(state.lock);
    if (!state.running || state.stopped) {
        return ERROR_SERVICE_NOT_ACTIVE;
    }
    if (!state.handlerRegistered) {
        return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    }
    auto request = std::make_shared<Request>();
    request->code = code;
    request->eventType = eventType;
    request->eventData = std::move(eventData);
    state.queue.push_back(request);
    ++state.delivered;
    state.changed.notify_all();
    if (!wait) {
        return NO_ERROR;
    }
    if (!state.changed.wait_for(guard, ControlGuard, [&] { return request->done; })) {
        guard.unlock();
        ReportFault("control " + std::to_string(code) + " not answered within 30 s");
        return ERROR_SERVICE_REQUEST_TIMEOUT;
    }
    return request->result;
}

// The event data of SERVICE_CONTROL_DEVICEEVENT: the interface class the service registered for
// and a device path.
std::vector<unsigned char> DeviceInterfaceData(HANDLE recipient) {
    GUID interfaceClass = {};
    for (auto& registration : DeviceRegistrations()) {
        if (registration.recipient == recipient) {
            interfaceClass = registration.filter.dbcc_classguid;
            break;
        }
    }
    platform::WideString name =
        Widen("\\\\?\\SIM#RENDER#1#" + FormatGuid(interfaceClass) + "\\GLOBAL");
    std::size_t size =
        offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (name.size() + 1) * sizeof(WCHAR);
    std::vector<unsigned char> data(std::max(size, sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)));
    DEV_BROADCAST_DEVICEINTERFACE_W header = {};
    header.dbcc_size = static_cast<DWORD>(size);
    header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    header.dbcc_classguid = interfaceClass;
    std::memcpy(data.data(), &header, offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name));
    std::memcpy(data.data() + offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name), name.c_str(),
                (name.size() + 1) * sizeof(WCHAR));
    return data;
}

// The service sink of the device notification registry: an event for the running service's
// status handle becomes a SERVICE_CONTROL_DEVICEEVENT; with no such service it is dropped.
void DeliverDeviceEvent(HANDLE recipient, DWORD eventType) {
    auto data = DeviceInterfaceData(recipient);
    bool onDispatcher;
    {
        auto& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        if (!state.running || state.stopped || !state.handlerRegistered ||
            reinterpret_cast<HANDLE>(state.statusHandle) != recipient) {
            return;
        }
        onDispatcher = state.dispatcherThread == std::this_thread::get_id();
    }
    Deliver(SERVICE_CONTROL_DEVICEEVENT, eventType, std::move(data), !onDispatcher);
}

// What the manager answers instead of delivering a control ("Service State Transitions",
// ControlService and SERVICE_STATUS pages; Wine's advapi32 service test, and Wine 8 measured by
// tests/wine/controls.sh): NO_ERROR when it delivers. ControlService cannot send shutdown.
DWORD Refusal(const Dispatcher& state, DWORD code) {
    DWORD accept = 0;
    switch (code) {
    case SERVICE_CONTROL_STOP:
        accept = SERVICE_ACCEPT_STOP;
        break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
        accept = SERVICE_ACCEPT_PAUSE_CONTINUE;
        break;
    case SERVICE_CONTROL_PARAMCHANGE:
        accept = SERVICE_ACCEPT_PARAMCHANGE;
        break;
    case SERVICE_CONTROL_INTERROGATE:
        break;
    default:
        if (code >= SERVICE_CONTROL_NETBINDADD && code <= SERVICE_CONTROL_NETBINDDISABLE) {
            accept = SERVICE_ACCEPT_NETBINDCHANGE;
        } else if (code < 128 || code > 255) {
            return ERROR_INVALID_PARAMETER;
        }
        break;
    }
    if (!state.running || state.stopped) {
        return ERROR_SERVICE_NOT_ACTIVE;
    }
    // Until its first report the service is start-pending for the manager.
    bool reported = state.reports.size() > state.runFirstReport;
    DWORD current = reported ? state.reports.back().status.dwCurrentState : SERVICE_START_PENDING;
    if (current == SERVICE_START_PENDING || current == SERVICE_STOP_PENDING) {
        return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    }
    if (accept && !(state.reports.back().status.dwControlsAccepted & accept)) {
        return ERROR_INVALID_SERVICE_CONTROL;
    }
    return NO_ERROR;
}

void FailQueued(Dispatcher& state) {
    for (auto& request : state.queue) {
        request->result = ERROR_SERVICE_NOT_ACTIVE;
        request->done = true;
    }
    state.queue.clear();
    state.changed.notify_all();
}

} // namespace

void SetStartedByScm(bool started, const platform::WideString& serviceName) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().startedByScm = started;
    State().serviceName = serviceName;
}

std::vector<StatusReport> StatusReports() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().reports;
}

DWORD CurrentState() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().reports.empty() ? 0 : State().reports.back().status.dwCurrentState;
}

bool WaitForState(DWORD wanted, DWORD timeoutMs) {
    auto& state = State();
    std::unique_lock<std::mutex> guard(state.lock);
    return state.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
        for (std::size_t i = state.runFirstReport; i < state.reports.size(); ++i) {
            if (state.reports[i].status.dwCurrentState == wanted) {
                return true;
            }
        }
        return false;
    });
}

bool DispatcherRunning() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().running;
}

std::size_t DispatcherRuns() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().runs;
}

bool WaitForDispatcherRuns(std::size_t runs, DWORD timeoutMs) {
    auto& state = State();
    std::unique_lock<std::mutex> guard(state.lock);
    return state.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                  [&] { return state.runs >= runs; });
}

SERVICE_STATUS_HANDLE StatusHandle() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().handlerRegistered ? reinterpret_cast<SERVICE_STATUS_HANDLE>(State().statusHandle)
                                     : nullptr;
}

DWORD Control(DWORD code, DWORD eventType) {
    {
        auto& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        if (state.running && state.dispatcherThread == std::this_thread::get_id()) {
            ReportFault("control " + std::to_string(code) + " sent from inside the handler");
            return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        }
        DWORD refusal = Refusal(state, code);
        if (refusal != NO_ERROR) {
            return refusal;
        }
    }
    return Deliver(code, eventType, {}, true);
}

DWORD DeviceEvent(DWORD eventType) {
    HANDLE recipient;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        recipient = reinterpret_cast<HANDLE>(State().statusHandle);
    }
    return Deliver(SERVICE_CONTROL_DEVICEEVENT, eventType, DeviceInterfaceData(recipient), true);
}

std::vector<ControlRecord> Controls() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().controls;
}

namespace detail {

DWORD SendControl(const platform::WideString& name, DWORD code, SERVICE_STATUS& status) {
    {
        std::lock_guard<std::mutex> guard(State().lock);
        if (!State().running || !SameName(State().serviceName, name.c_str())) {
            return ERROR_SERVICE_NOT_ACTIVE;
        }
    }
    DWORD result = Control(code);
    std::lock_guard<std::mutex> guard(State().lock);
    if (!State().reports.empty()) {
        status = State().reports.back().status;
    }
    return result;
}

} // namespace detail
} // namespace sim::scm

namespace platform {

BOOL WINAPI StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* lpServiceStartTable) {
    // As Windows, the table is counted up to its {null, null} entry before the manager is even
    // asked, so a table without that entry is read past its end.
    std::size_t entries = 0;
    while (lpServiceStartTable && (lpServiceStartTable[entries].lpServiceName ||
                                   lpServiceStartTable[entries].lpServiceProc)) {
        ++entries;
    }
    sim::Record("StartServiceCtrlDispatcherW entries=" + std::to_string(entries));
    auto& state = sim::scm::State();
    std::unique_lock<std::mutex> guard(state.lock);
    if (!state.startedByScm) {
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return FALSE;
    }
    if (state.running) {
        SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
        return FALSE;
    }
    LPSERVICE_MAIN_FUNCTIONW serviceMain = nullptr;
    for (auto* entry = lpServiceStartTable; entry && entry->lpServiceName; ++entry) {
        if (sim::scm::SameName(state.serviceName, entry->lpServiceName)) {
            serviceMain = entry->lpServiceProc;
            break;
        }
    }
    platform::WideString name = state.serviceName;
    if (!serviceMain) {
        guard.unlock();
        sim::ReportFault("dispatcher table without the service " + sim::Narrow(name));
        SetLastError(ERROR_SERVICE_NOT_IN_EXE);
        return FALSE;
    }
    state.running = true;
    state.dispatcherThread = std::this_thread::get_id();
    state.serviceMainReturned = false;
    state.handlerRegistered = false;
    state.stopped = false;
    state.handler = nullptr;
    state.context = nullptr;
    state.statusHandle = 0;
    state.runFirstReport = state.reports.size();
    ++state.runs;
    state.changed.notify_all();
    guard.unlock();

    sim::SetThreadName("main");
    sim::scm::detail::EnsureEntry(name);
    sim::scm::detail::SetRunning(name, true);
    std::thread service([serviceMain, name, &state] {
        sim::SetThreadName("service");
        // As Windows: the service's name is its first argument.
        std::vector<WCHAR> argument(name.begin(), name.end());
        argument.push_back(0);
        LPWSTR argv[] = {argument.data(), nullptr};
        serviceMain(1, argv);
        std::lock_guard<std::mutex> ended(state.lock);
        state.serviceMainReturned = true;
        state.changed.notify_all();
    });

    guard.lock();
    for (;;) {
        state.changed.wait(guard, [&] {
            return !state.queue.empty() ||
                   (state.serviceMainReturned && (state.stopped || !state.handlerRegistered));
        });
        if (state.queue.empty()) {
            break;
        }
        auto request = state.queue.front();
        state.queue.pop_front();
        if (state.stopped || !state.handlerRegistered) {
            request->result = ERROR_SERVICE_NOT_ACTIVE;
            request->done = true;
            state.changed.notify_all();
            continue;
        }
        LPHANDLER_FUNCTION_EX handler = state.handler;
        LPVOID context = state.context;
        state.handling = true;
        guard.unlock();
        sim::Record("ServiceControl " + std::to_string(request->code) + " " +
                    std::to_string(request->eventType));
        LPVOID eventData = request->eventData.empty() ? nullptr : request->eventData.data();
        DWORD result = handler(request->code, request->eventType, eventData, context);
        guard.lock();
        state.handling = false;
        request->result = result;
        request->done = true;
        state.controls.push_back({request->code, request->eventType, result});
        state.changed.notify_all();
    }
    state.running = false;
    state.handlerRegistered = false;
    state.statusHandle = 0;
    sim::scm::FailQueued(state);
    guard.unlock();
    service.join();
    sim::scm::detail::SetRunning(name, false);
    return TRUE;
}

SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerExW(LPCWSTR lpServiceName,
                                                           LPHANDLER_FUNCTION_EX lpHandlerProc,
                                                           LPVOID lpContext) {
    // The context comes back to the handler as its last argument; shown only when there is one.
    sim::Record("RegisterServiceCtrlHandlerExW " + sim::Narrow(lpServiceName) +
                (lpContext ? " context=non-null" : ""));
    if (sim::ShouldFail("RegisterServiceCtrlHandlerExW")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto& state = sim::scm::State();
    std::unique_lock<std::mutex> guard(state.lock);
    if (!state.running || !lpHandlerProc || !sim::scm::SameName(state.serviceName, lpServiceName)) {
        guard.unlock();
        sim::ReportFault("RegisterServiceCtrlHandlerExW for " + sim::Narrow(lpServiceName) +
                         ", which is not the running service");
        SetLastError(ERROR_SERVICE_NOT_IN_EXE);
        return nullptr;
    }
    if (!state.handlerRegistered) {
        state.statusHandle = state.nextStatusHandle;
        state.nextStatusHandle += 8;
    }
    state.handler = lpHandlerProc;
    state.context = lpContext;
    state.handlerRegistered = true;
    state.changed.notify_all();
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(state.statusHandle);
}

BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus,
                             LPSERVICE_STATUS lpServiceStatus) {
    auto& state = sim::scm::State();
    std::unique_lock<std::mutex> guard(state.lock);
    if (!state.handlerRegistered || !lpServiceStatus ||
        reinterpret_cast<std::uintptr_t>(hServiceStatus) != state.statusHandle) {
        guard.unlock();
        sim::Record("SetServiceStatus failed 6");
        sim::ReportFault("SetServiceStatus to an unknown service status handle");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD current = lpServiceStatus->dwCurrentState;
    sim::Record("SetServiceStatus " + sim::scm::StateName(current));
    state.reports.push_back({*lpServiceStatus, sim::ThreadName()});
    platform::WideString name = state.serviceName;
    if (current == SERVICE_STOPPED) {
        state.stopped = true;
    }
    state.changed.notify_all();
    guard.unlock();
    if (current == SERVICE_STOPPED) {
        sim::scm::detail::SetRunning(name, false);
    }
    return TRUE;
}

} // namespace platform
