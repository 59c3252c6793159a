// Simulated advapi32 service database: the manager and service handles, and creating, opening
// and deleting service entries.
#include "platform/kernel.h"
#include "platform/scm.h"
#include "platform/sim/machine.h"
#include "platform/sim/scm.h"
#include "platform/sim/scm/running.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace sim::scm {
namespace {

platform::WideString Text(LPCWSTR text) {
    return text ? platform::WideString(text) : WIDE("");
}

// A dependency list is a sequence of strings ended by an empty one.
platform::WideString List(LPCWSTR list) {
    platform::WideString all;
    while (list && *list) {
        platform::WideString item(list);
        all += item;
        all.push_back(0);
        list += item.size() + 1;
    }
    return all;
}

struct ScHandle {
    bool manager;
    DWORD access;             // granted: generic rights mapped to specific ones
    platform::WideString key; // service handles: the entry
};

// Generic rights mapped as Microsoft's "Service Security and Access Rights" page lists them.
struct GenericMapping {
    DWORD read, write, execute, all;
};
constexpr DWORD StandardRights = READ_CONTROL; // STANDARD_RIGHTS_READ, _WRITE and _EXECUTE
constexpr GenericMapping ManagerMapping = {
    StandardRights | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS,
    StandardRights | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG,
    StandardRights | SC_MANAGER_CONNECT | SC_MANAGER_LOCK, SC_MANAGER_ALL_ACCESS};
constexpr GenericMapping ServiceMapping = {
    StandardRights | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
        SERVICE_ENUMERATE_DEPENDENTS,
    StandardRights | SERVICE_CHANGE_CONFIG,
    StandardRights | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
        SERVICE_USER_DEFINED_CONTROL,
    SERVICE_ALL_ACCESS};

// The rights asked for, generic ones mapped (MAXIMUM_ALLOWED is left to the caller).
DWORD Granted(DWORD desired, const GenericMapping& mapping) {
    DWORD granted = desired & 0x00FFFFFF & ~MAXIMUM_ALLOWED;
    if (desired & GENERIC_READ) {
        granted |= mapping.read;
    }
    if (desired & GENERIC_WRITE) {
        granted |= mapping.write;
    }
    if (desired & GENERIC_EXECUTE) {
        granted |= mapping.execute;
    }
    if (desired & GENERIC_ALL) {
        granted |= mapping.all;
    }
    return granted;
}

// Service handles: an administrator is granted all it asks for.
DWORD ServiceRights(DWORD desired) {
    return Granted(desired, ServiceMapping) |
           ((desired & MAXIMUM_ALLOWED) ? DWORD{SERVICE_ALL_ACCESS} : 0);
}

std::string Access(DWORD desired) {
    char text[24];
    std::snprintf(text, sizeof text, " access=0x%X", static_cast<unsigned>(desired));
    return text;
}

// An armed NotifyServiceStatusChangeW: the record is the caller's until the APC has run.
struct NotifyRequest {
    std::uintptr_t handle;
    platform::WideString key;
    DWORD mask;
    PSERVICE_NOTIFYW record;
    DWORD thread;
};

struct Database {
    std::mutex lock;
    bool elevated = true;
    std::map<platform::WideString, ServiceEntry> entries;
    std::map<std::uintptr_t, ScHandle> handles;
    std::vector<NotifyRequest> requests;
    std::uintptr_t next = 0x5E000;
    Database();
};

DWORD WINAPI NotifyServiceStatusChange(SC_HANDLE hService, DWORD dwNotifyMask,
                                       PSERVICE_NOTIFYW pNotifyBuffer);

// advapi32's NotifyServiceStatusChangeW, from Windows Vista on. Defined with the database, which
// every user of the function has opened a handle of first.
const bool NotifyDefined = [] {
    DefineEntryPoint(
        "advapi32.dll", "NotifyServiceStatusChangeW",
        reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&NotifyServiceStatusChange)), 6);
    return true;
}();

// The services of Windows itself that a fresh machine runs.
void AddSystemServices(Database& db) {
    ServiceEntry audio;
    audio.name = WIDE("AudioSrv");
    audio.displayName = WIDE("Windows Audio");
    audio.serviceType = 0x20; // SERVICE_WIN32_SHARE_PROCESS
    audio.startType = 2;      // SERVICE_AUTO_START
    audio.errorControl = SERVICE_ERROR_NORMAL;
    audio.binaryPath = WIDE("C:\\Windows\\System32\\svchost.exe -k LocalServiceNetworkRestricted");
    audio.system = true;
    audio.running = true;
    audio.systemState = SERVICE_RUNNING;
    db.entries[FoldCase(audio.name.c_str())] = audio;
}

Database::Database() {
    AddSystemServices(*this);
}

Database& State() {
    return AreaState<Database>([](Database& state) {
        state.elevated = true;
        state.entries.clear();
        state.handles.clear();
        state.requests.clear();
        AddSystemServices(state);
    });
}

// A service-manager call from a status notification's APC (the NotifyServiceStatusChangeW page).
void CheckNotInApc(const char* call) {
    if (InApc()) {
        ReportFault(std::string(call) + " inside a status notification");
    }
}

// With the lock held: the notice of state to the request, as an APC to the thread that armed it;
// the record is written now, when Windows writes it.
void Deliver(const NotifyRequest& request, const ServiceEntry& entry, DWORD state) {
    PSERVICE_NOTIFYW record = request.record;
    record->dwNotificationStatus = ERROR_SUCCESS;
    record->ServiceStatus = {};
    record->ServiceStatus.dwServiceType = entry.serviceType;
    record->ServiceStatus.dwCurrentState = state;
    record->dwNotificationTriggered = DWORD{1} << (state - 1);
    Record("NotifyServiceStatusChangeW notice " + Narrow(entry.name) + " " + std::to_string(state));
    QueueApc(request.thread, [record] { record->pfnNotifyCallback(record); });
}

// With the lock held: an entry marked for deletion goes when it is not running and no handle
// refers to it any more.
void RemoveIfDone(Database& db, const platform::WideString& key) {
    auto found = db.entries.find(key);
    if (found == db.entries.end() || !found->second.markedForDeletion || found->second.running) {
        return;
    }
    for (auto& [value, handle] : db.handles) {
        if (!handle.manager && handle.key == key) {
            return;
        }
    }
    db.entries.erase(found);
}

SC_HANDLE NewHandle(Database& db, ScHandle handle) {
    std::uintptr_t value = db.next;
    db.next += 4;
    db.handles[value] = std::move(handle);
    return reinterpret_cast<SC_HANDLE>(value);
}

// Looks a handle up. A null one is refused quietly, as advapi32 does (Wine's advapi32 service
// test, run on Windows); an unknown one (closed, or of the other kind) is a fault of the caller.
ScHandle* Find(Database& db, SC_HANDLE handle, bool manager, const char* call) {
    if (handle == nullptr) {
        return nullptr;
    }
    auto found = db.handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == db.handles.end() || found->second.manager != manager) {
        ReportFault(std::string(call) + " with an unknown or closed SC handle");
        return nullptr;
    }
    return &found->second;
}

// Journal entry of a call, with its error when it fails.
void Finish(const std::string& entry, DWORD error) {
    Record(error == ERROR_SUCCESS ? entry : entry + " failed " + std::to_string(error));
    if (error != ERROR_SUCCESS) {
        platform::SetLastError(error);
    }
}

} // namespace

namespace detail {

void SetRunning(const platform::WideString& name, bool running) {
    auto& db = State();
    std::lock_guard<std::mutex> guard(db.lock);
    platform::WideString key = FoldCase(name.c_str());
    auto found = db.entries.find(key);
    if (found == db.entries.end()) {
        return;
    }
    found->second.running = running;
    RemoveIfDone(db, key);
}

void EnsureEntry(const platform::WideString& name) {
    platform::WideString path = ModulePath();
    auto& db = State();
    std::lock_guard<std::mutex> guard(db.lock);
    platform::WideString key = FoldCase(name.c_str());
    if (db.entries.count(key) != 0) {
        return;
    }
    ServiceEntry entry;
    entry.name = name;
    entry.displayName = name;
    entry.serviceType = SERVICE_WIN32_OWN_PROCESS;
    entry.startType = SERVICE_DEMAND_START;
    entry.errorControl = SERVICE_ERROR_NORMAL;
    entry.binaryPath = WIDE("\"") + path + WIDE("\"");
    db.entries[key] = entry;
}

} // namespace detail

void SetElevated(bool elevated) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().elevated = elevated;
}

std::optional<ServiceEntry> FindService(const platform::WideString& name) {
    std::lock_guard<std::mutex> guard(State().lock);
    auto found = State().entries.find(FoldCase(name.c_str()));
    if (found == State().entries.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::size_t ServiceCount() {
    auto& db = State();
    std::lock_guard<std::mutex> guard(db.lock);
    return static_cast<std::size_t>(std::count_if(
        db.entries.begin(), db.entries.end(), [](auto& entry) { return !entry.second.system; }));
}

void SetSystemServiceState(const platform::WideString& name, DWORD state) {
    auto& db = State();
    std::lock_guard<std::mutex> guard(db.lock);
    auto found = db.entries.find(FoldCase(name.c_str()));
    if (found == db.entries.end() || !found->second.system) {
        ReportFault("SetSystemServiceState of " + Narrow(name) + ", no service of Windows");
        return;
    }
    Record("SetSystemServiceState " + Narrow(name) + " " + std::to_string(state));
    found->second.systemState = state;
    found->second.running = state != SERVICE_STOPPED;
    auto& requests = db.requests;
    for (auto request = requests.begin(); request != requests.end();) {
        if (request->key == found->first && (request->mask & (DWORD{1} << (state - 1)))) {
            Deliver(*request, found->second, state);
            request = requests.erase(request);
        } else {
            ++request;
        }
    }
}

std::size_t OpenScHandles() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().handles.size();
}

namespace {

// From a service handle with SERVICE_QUERY_STATUS, for the states of the service; one request
// per service at a time; a state the service is in already is told at once.
DWORD WINAPI NotifyServiceStatusChange(SC_HANDLE hService, DWORD dwNotifyMask,
                                       PSERVICE_NOTIFYW pNotifyBuffer) {
    CheckNotInApc("NotifyServiceStatusChangeW");
    auto& db = State();
    std::lock_guard<std::mutex> guard(db.lock);
    auto* service = Find(db, hService, false, "NotifyServiceStatusChangeW");
    std::string call = "NotifyServiceStatusChangeW mask=" + std::to_string(dwNotifyMask);
    DWORD error = ERROR_SUCCESS;
    if (!service) {
        error = ERROR_INVALID_HANDLE;
    } else if (!(service->access & SERVICE_QUERY_STATUS)) {
        error = ERROR_ACCESS_DENIED;
    } else if (!pNotifyBuffer || pNotifyBuffer->dwVersion != SERVICE_NOTIFY_STATUS_CHANGE ||
               !pNotifyBuffer->pfnNotifyCallback || dwNotifyMask == 0 ||
               (dwNotifyMask & ~DWORD{0x7F}) != 0) {
        error = ERROR_INVALID_PARAMETER;
    } else if (std::any_of(db.requests.begin(), db.requests.end(),
                           [&](auto& request) { return request.key == service->key; })) {
        ReportFault("a second NotifyServiceStatusChangeW request while one is outstanding");
        error = ERROR_INVALID_PARAMETER;
    }
    if (service) {
        call.append(" ").append(Narrow(db.entries.at(service->key).name));
    }
    Record(error == ERROR_SUCCESS ? call : call + " failed " + std::to_string(error));
    if (error != ERROR_SUCCESS) {
        return error;
    }
    NotifyRequest request{reinterpret_cast<std::uintptr_t>(hService), service->key, dwNotifyMask,
                          pNotifyBuffer, platform::GetCurrentThreadId()};
    const auto& entry = db.entries.at(service->key);
    DWORD state = entry.system ? entry.systemState
                               : (entry.running ? SERVICE_RUNNING : DWORD{SERVICE_STOPPED});
    if (dwNotifyMask & (DWORD{1} << (state - 1))) {
        Deliver(request, entry, state);
    } else {
        db.requests.push_back(request);
    }
    return ERROR_SUCCESS;
}

} // namespace
} // namespace sim::scm

namespace platform {

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR, LPCWSTR, DWORD dwDesiredAccess) {
    sim::scm::CheckNotInApc("OpenSCManagerW");
    auto& db = sim::scm::State();
    std::lock_guard<std::mutex> guard(db.lock);
    std::string entry = "OpenSCManagerW" + sim::scm::Access(dwDesiredAccess);
    // The call itself asks for SC_MANAGER_CONNECT (Microsoft's OpenSCManagerW page).
    DWORD granted =
        SC_MANAGER_CONNECT | sim::scm::Granted(dwDesiredAccess, sim::scm::ManagerMapping);
    // Anyone may connect and read; every other right needs an administrator.
    const DWORD readRights = STANDARD_RIGHTS_READ | SC_MANAGER_CONNECT |
                             SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS;
    if (sim::ShouldFail("OpenSCManagerW") || (!db.elevated && (granted & ~readRights))) {
        sim::scm::Finish(entry, ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (dwDesiredAccess & MAXIMUM_ALLOWED) {
        granted |= db.elevated ? SC_MANAGER_ALL_ACCESS : readRights;
    }
    sim::scm::Finish(entry, ERROR_SUCCESS);
    return sim::scm::NewHandle(db, {true, granted, {}});
}

SC_HANDLE WINAPI CreateServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, LPCWSTR lpDisplayName,
                                DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType,
                                DWORD dwErrorControl, LPCWSTR lpBinaryPathName,
                                LPCWSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCWSTR lpDependencies,
                                LPCWSTR lpServiceStartName, LPCWSTR lpPassword) {
    auto& db = sim::scm::State();
    std::lock_guard<std::mutex> guard(db.lock);
    std::string entry =
        "CreateServiceW " + sim::Narrow(lpServiceName) + sim::scm::Access(dwDesiredAccess);
    auto* manager = sim::scm::Find(db, hSCManager, true, "CreateServiceW");
    if (!manager) {
        sim::scm::Finish(entry, ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // The order of the checks is Windows' (Wine's advapi32 service conformance test): missing
    // strings, then the manager's rights, then empty ones. The desired access of the new handle
    // is not checked.
    DWORD error = ERROR_SUCCESS;
    platform::WideString key = lpServiceName ? sim::FoldCase(lpServiceName) : WIDE("");
    auto existing = db.entries.find(key);
    if (!lpServiceName || !lpBinaryPathName) {
        error = ERROR_INVALID_ADDRESS;
    } else if (sim::ShouldFail("CreateServiceW") ||
               !(manager->access & SC_MANAGER_CREATE_SERVICE)) {
        error = ERROR_ACCESS_DENIED;
    } else if (key.empty()) {
        error = ERROR_INVALID_NAME;
    } else if (!*lpBinaryPathName) {
        error = ERROR_INVALID_PARAMETER;
    } else if (existing != db.entries.end()) {
        error = existing->second.markedForDeletion ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                   : ERROR_SERVICE_EXISTS;
    }
    if (error != ERROR_SUCCESS) {
        sim::scm::Finish(entry, error);
        return nullptr;
    }
    sim::scm::ServiceEntry created;
    created.name = lpServiceName;
    created.displayName = sim::scm::Text(lpDisplayName);
    created.serviceType = dwServiceType;
    created.startType = dwStartType;
    created.errorControl = dwErrorControl;
    created.binaryPath = lpBinaryPathName;
    created.loadOrderGroup = sim::scm::Text(lpLoadOrderGroup);
    created.dependencies = sim::scm::List(lpDependencies);
    created.account = sim::scm::Text(lpServiceStartName);
    created.tagRequested = lpdwTagId != nullptr;
    created.passwordGiven = lpPassword != nullptr;
    db.entries[key] = created;
    sim::scm::Finish(entry, ERROR_SUCCESS);
    return sim::scm::NewHandle(db, {false, sim::scm::ServiceRights(dwDesiredAccess), key});
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess) {
    sim::scm::CheckNotInApc("OpenServiceW");
    auto& db = sim::scm::State();
    std::lock_guard<std::mutex> guard(db.lock);
    std::string entry =
        "OpenServiceW " + sim::Narrow(lpServiceName) + sim::scm::Access(dwDesiredAccess);
    // Every manager handle holds SC_MANAGER_CONNECT, all OpenServiceW asks of it.
    if (!sim::scm::Find(db, hSCManager, true, "OpenServiceW")) {
        sim::scm::Finish(entry, ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!lpServiceName) {
        sim::scm::Finish(entry, ERROR_INVALID_ADDRESS);
        return nullptr;
    }
    platform::WideString key = sim::FoldCase(lpServiceName);
    if (sim::ShouldFail("OpenServiceW")) {
        sim::scm::Finish(entry, ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (db.entries.find(key) == db.entries.end()) {
        sim::scm::Finish(entry, ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    sim::scm::Finish(entry, ERROR_SUCCESS);
    return sim::scm::NewHandle(db, {false, sim::scm::ServiceRights(dwDesiredAccess), key});
}

BOOL WINAPI DeleteService(SC_HANDLE hService) {
    auto& db = sim::scm::State();
    std::lock_guard<std::mutex> guard(db.lock);
    auto* service = sim::scm::Find(db, hService, false, "DeleteService");
    if (!service) {
        sim::scm::Finish("DeleteService", ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto& target = db.entries.at(service->key);
    std::string entry = "DeleteService " + sim::Narrow(target.name);
    DWORD error = ERROR_SUCCESS;
    if (sim::ShouldFail("DeleteService") || !(service->access & DELETE)) {
        error = ERROR_ACCESS_DENIED;
    } else if (target.markedForDeletion) {
        error = ERROR_SERVICE_MARKED_FOR_DELETE;
    }
    sim::scm::Finish(entry, error);
    if (error != ERROR_SUCCESS) {
        return FALSE;
    }
    // The entry stays while it runs or while handles to it are open (this one at least).
    target.markedForDeletion = true;
    return TRUE;
}

BOOL WINAPI ChangeServiceConfig2W(SC_HANDLE hService, DWORD dwInfoLevel, LPVOID lpInfo) {
    auto& db = sim::scm::State();
    std::lock_guard<std::mutex> guard(db.lock);
    auto* service = sim::scm::Find(db, hService, false, "ChangeServiceConfig2W");
    if (!service) {
        sim::scm::Finish("ChangeServiceConfig2W", ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto& target = db.entries.at(service->key);
    std::string entry = "ChangeServiceConfig2W " + sim::Narrow(target.name) +
                        " level=" + std::to_string(dwInfoLevel);
    DWORD error = ERROR_SUCCESS;
    const auto* actions = static_cast<const SERVICE_FAILURE_ACTIONSW*>(lpInfo);
    bool restarts = false;
    if (dwInfoLevel == SERVICE_CONFIG_FAILURE_ACTIONS && actions && actions->lpsaActions) {
        for (DWORD i = 0; i < actions->cActions; ++i) {
            restarts = restarts || actions->lpsaActions[i].Type == SC_ACTION_RESTART;
        }
    }
    if (sim::ShouldFail("ChangeServiceConfig2W") || !(service->access & SERVICE_CHANGE_CONFIG) ||
        (restarts && !(service->access & SERVICE_START))) {
        error = ERROR_ACCESS_DENIED;
    } else if (dwInfoLevel != SERVICE_CONFIG_DESCRIPTION &&
               dwInfoLevel != SERVICE_CONFIG_FAILURE_ACTIONS) {
        error = ERROR_INVALID_LEVEL;
    } else if (!lpInfo) {
        error = ERROR_INVALID_ADDRESS;
    }
    sim::scm::Finish(entry, error);
    if (error != ERROR_SUCCESS) {
        return FALSE;
    }
    if (dwInfoLevel == SERVICE_CONFIG_DESCRIPTION) {
        const WCHAR* text = static_cast<const SERVICE_DESCRIPTIONW*>(lpInfo)->lpDescription;
        target.description = text ? text : WIDE("");
    } else {
        target.resetPeriod = actions->dwResetPeriod;
        target.failureActions.assign(actions->lpsaActions,
                                     actions->lpsaActions +
                                         (actions->lpsaActions ? actions->cActions : 0));
    }
    return TRUE;
}

BOOL WINAPI QueryServiceConfigW(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGW lpServiceConfig,
                                DWORD cbBufSize, LPDWORD pcbBytesNeeded) {
    auto& db = sim::scm::State();
    std::lock_guard<std::mutex> guard(db.lock);
    auto* service = sim::scm::Find(db, hService, false, "QueryServiceConfigW");
    if (!service) {
        sim::scm::Finish("QueryServiceConfigW", ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const auto& entry = db.entries.at(service->key);
    std::string call = "QueryServiceConfigW " + sim::Narrow(entry.name);
    if (!(service->access & SERVICE_QUERY_CONFIG)) {
        sim::scm::Finish(call, ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // The record, then its strings, each with its terminator; the dependency list ends with an
    // empty string. An entry without an account runs as LocalSystem, which is what Windows shows.
    platform::WideString account = entry.account.empty() ? WIDE("LocalSystem") : entry.account;
    platform::WideString dependencies = entry.dependencies;
    dependencies.push_back(0);
    const platform::WideString* strings[] = {&entry.binaryPath, &entry.loadOrderGroup,
                                             &dependencies, &account, &entry.displayName};
    DWORD needed = sizeof(QUERY_SERVICE_CONFIGW);
    for (auto* text : strings) {
        needed += static_cast<DWORD>((text->size() + 1) * sizeof(WCHAR));
    }
    if (pcbBytesNeeded) {
        *pcbBytesNeeded = needed;
    }
    if (!lpServiceConfig || cbBufSize < needed) {
        sim::scm::Finish(call, ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* next = reinterpret_cast<WCHAR*>(lpServiceConfig + 1);
    LPWSTR placed[5];
    for (int i = 0; i < 5; ++i) {
        placed[i] = next;
        std::copy(strings[i]->begin(), strings[i]->end(), next);
        next += strings[i]->size();
        *next++ = 0;
    }
    lpServiceConfig->dwServiceType = entry.serviceType;
    lpServiceConfig->dwStartType = entry.startType;
    lpServiceConfig->dwErrorControl = entry.errorControl;
    lpServiceConfig->lpBinaryPathName = placed[0];
    lpServiceConfig->lpLoadOrderGroup = placed[1];
    lpServiceConfig->dwTagId = 0;
    lpServiceConfig->lpDependencies = placed[2];
    lpServiceConfig->lpServiceStartName = placed[3];
    lpServiceConfig->lpDisplayName = placed[4];
    sim::scm::Finish(call, ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
    sim::scm::CheckNotInApc("QueryServiceStatus");
    bool running = false;
    DWORD serviceType = 0;
    {
        auto& db = sim::scm::State();
        std::lock_guard<std::mutex> guard(db.lock);
        auto* service = sim::scm::Find(db, hService, false, "QueryServiceStatus");
        if (!service) {
            sim::scm::Finish("QueryServiceStatus", ERROR_INVALID_HANDLE);
            return FALSE;
        }
        const auto& entry = db.entries.at(service->key);
        std::string call = "QueryServiceStatus " + sim::Narrow(entry.name);
        if (!(service->access & SERVICE_QUERY_STATUS)) {
            sim::scm::Finish(call, ERROR_ACCESS_DENIED);
            return FALSE;
        }
        running = entry.running;
        serviceType = entry.serviceType;
        sim::scm::Finish(call, ERROR_SUCCESS);
        if (entry.system) {
            *lpServiceStatus = {};
            lpServiceStatus->dwServiceType = serviceType;
            lpServiceStatus->dwCurrentState = entry.systemState;
            return TRUE;
        }
    }
    // Outside the database's lock: the dispatcher's state has a lock of its own. A process that
    // runs but has not reported yet is starting.
    SERVICE_STATUS status{};
    status.dwServiceType = serviceType;
    status.dwCurrentState = SERVICE_STOPPED;
    if (running) {
        DWORD reported = sim::scm::CurrentState();
        status.dwCurrentState = reported == 0 ? SERVICE_START_PENDING : reported;
    }
    *lpServiceStatus = status;
    return TRUE;
}

// The right each control needs (Microsoft's ControlService page); codes 128 to 255 are the
// service's own.
BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
    sim::scm::CheckNotInApc("ControlService");
    platform::WideString name;
    std::string call;
    {
        auto& db = sim::scm::State();
        std::lock_guard<std::mutex> guard(db.lock);
        auto* service = sim::scm::Find(db, hService, false, "ControlService");
        if (!service) {
            sim::scm::Finish("ControlService", ERROR_INVALID_HANDLE);
            return FALSE;
        }
        name = db.entries.at(service->key).name;
        call = "ControlService " + sim::Narrow(name) + " " + std::to_string(dwControl);
        // Pause, continue, parameter and binding changes all need SERVICE_PAUSE_CONTINUE; a code
        // ControlService does not send is refused by the dispatcher.
        DWORD needed = dwControl == SERVICE_CONTROL_STOP          ? DWORD{SERVICE_STOP}
                       : dwControl == SERVICE_CONTROL_INTERROGATE ? DWORD{SERVICE_INTERROGATE}
                       : dwControl >= 128 && dwControl <= 255 ? DWORD{SERVICE_USER_DEFINED_CONTROL}
                                                              : DWORD{SERVICE_PAUSE_CONTINUE};
        if (!(service->access & needed)) {
            sim::scm::Finish(call, ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    // Outside the database's lock: the handler may itself use the database.
    SERVICE_STATUS status{};
    DWORD result = sim::scm::detail::SendControl(name, dwControl, status);
    if (lpServiceStatus) {
        *lpServiceStatus = status;
    }
    sim::scm::Finish(call, result);
    return result == NO_ERROR ? TRUE : FALSE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
    sim::scm::CheckNotInApc("CloseServiceHandle");
    auto& db = sim::scm::State();
    std::lock_guard<std::mutex> guard(db.lock);
    auto found = db.handles.find(reinterpret_cast<std::uintptr_t>(hSCObject));
    if (found == db.handles.end()) {
        if (hSCObject != nullptr) {
            sim::ReportFault("CloseServiceHandle of an unknown or closed SC handle");
        }
        sim::scm::Finish("CloseServiceHandle", ERROR_INVALID_HANDLE);
        return FALSE;
    }
    platform::WideString key = found->second.key;
    bool manager = found->second.manager;
    std::uintptr_t value = found->first;
    db.handles.erase(found);
    // Closing the handle cancels its armed notification (the NotifyServiceStatusChangeW page).
    std::erase_if(db.requests, [value](auto& request) { return request.handle == value; });
    if (!manager) {
        sim::scm::RemoveIfDone(db, key);
    }
    sim::scm::Finish("CloseServiceHandle", ERROR_SUCCESS);
    return TRUE;
}

} // namespace platform
