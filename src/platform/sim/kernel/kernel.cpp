// Simulated kernel32: the handle table, events, waits, threads, last error, version, module path,
// kernel32's one looked-up entry point and the DLL search path. Files and device I/O control live
// with the kernel-streaming filters (sim/ks).
#include "platform/kernel.h"
#include "platform/sim/machine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace sim {
namespace {

struct Entry {
    HandleKind kind;
    std::shared_ptr<KernelObject> object;
};

// A thread of CreateThread inside an infinite wait, as WaitQuiet sees it.
struct Waiter {
    DWORD thread;
    const std::vector<std::shared_ptr<KernelObject>>* objects;
    bool waitAll;
    bool alertable;
};

struct Table {
    std::mutex lock;
    std::map<std::uintptr_t, Entry> entries;
    std::uintptr_t next = 0x1000;
    // One lock and condition for every waitable object: the machine is small, and it makes
    // waits on several objects trivially correct.
    std::mutex waitLock;
    std::condition_variable waitChanged;
    // APCs by thread id, under the wait lock so that an alertable wait sees them atomically.
    std::map<DWORD, std::deque<std::function<void()>>> apcs;
    // For WaitQuiet, under the wait lock: the live threads of CreateThread, those of them parked
    // in an infinite wait, and a count that moves on every change of waitable state.
    int liveThreads = 0;
    std::vector<const Waiter*> parked;
    std::uint64_t changes = 0;
    DWORD major = 6;
    DWORD minor = 1;
    platform::WideString modulePath = WIDE("C:\\Program Files\\Quenvar\\QuenvarService.exe");
    struct EntryPoint {
        FARPROC entry;
        DWORD fromMajor;
    };
    std::map<std::pair<std::string, std::string>, EntryPoint> entryPoints;
    // Machine time and the actions waiting for it, under a lock of their own.
    std::mutex clockLock;
    ULONGLONG now = 0;
    bool machineTime = false;
    std::multimap<ULONGLONG, std::function<void()>> timers;
    std::vector<std::function<bool()>> busyChecks;
    std::vector<std::function<std::uint64_t()>> quietChecks;
    bool defaultDllDirectories = true;
};

Table& Kernel() {
    static Table* table = [] {
        auto* created = new Table;
        OnReset([created] {
            {
                std::lock_guard<std::mutex> guard(created->waitLock);
                created->apcs.clear();
            }
            std::lock_guard<std::mutex> guard(created->clockLock);
            created->now = 0;
            created->machineTime = false;
            created->timers.clear();
        });
        return created;
    }();
    return *table;
}

thread_local DWORD LastError = 0;
thread_local bool RunningApc = false;
thread_local DWORD ThreadId = 0;
thread_local bool Created = false; // a thread of CreateThread
std::atomic<DWORD> NextThreadId{0x100};
std::atomic<int> NextThreadName{1};

// What GetProcAddress gives for kernel32's SetDefaultDllDirectories.
BOOL WINAPI SetDefaultDllDirectories(DWORD flags) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(flags));
    Record(std::string("SetDefaultDllDirectories ") + text);
    return TRUE;
}

const bool DefaultDllDirectoriesDefined = [] {
    DefineEntryPoint(
        "kernel32.dll", "SetDefaultDllDirectories",
        reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&SetDefaultDllDirectories)), 0);
    return true;
}();

struct Event : KernelObject {
    bool manualReset;
    bool state;
    Event(bool manual, bool initial) : manualReset(manual), state(initial) {}
    bool Waitable() const override { return true; }
    bool Signalled() const override { return state; }
    void Consume() override {
        if (!manualReset) {
            state = false;
        }
    }
};

struct Thread : KernelObject {
    bool ended = false;
    bool Waitable() const override { return true; }
    bool Signalled() const override { return ended; }
};

} // namespace

HANDLE InsertHandle(HandleKind kind, std::shared_ptr<KernelObject> object) {
    auto& table = Kernel();
    std::lock_guard<std::mutex> guard(table.lock);
    std::uintptr_t value = table.next;
    table.next += 4;
    table.entries[value] = Entry{kind, std::move(object)};
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle, HandleKind kind) {
    auto& table = Kernel();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.entries.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == table.entries.end() || found->second.kind != kind) {
        return nullptr;
    }
    return found->second.object;
}

std::size_t OpenHandles(HandleKind kind) {
    auto& table = Kernel();
    std::lock_guard<std::mutex> guard(table.lock);
    return static_cast<std::size_t>(
        std::count_if(table.entries.begin(), table.entries.end(),
                      [kind](const auto& entry) { return entry.second.kind == kind; }));
}

void ChangeWaitState(const std::function<void()>& change) {
    auto& table = Kernel();
    {
        std::lock_guard<std::mutex> guard(table.waitLock);
        change();
        ++table.changes;
    }
    table.waitChanged.notify_all();
}

ULONGLONG MachineTime() {
    std::lock_guard<std::mutex> guard(Kernel().clockLock);
    return Kernel().now;
}

void UseMachineTime(bool on) {
    std::lock_guard<std::mutex> guard(Kernel().clockLock);
    Kernel().machineTime = on;
}

void AdvanceMachineTime(DWORD milliseconds) {
    auto& table = Kernel();
    std::vector<std::function<void()>> due;
    {
        std::lock_guard<std::mutex> guard(table.clockLock);
        table.now += milliseconds;
        auto end = table.timers.upper_bound(table.now);
        for (auto timer = table.timers.begin(); timer != end; ++timer) {
            due.push_back(std::move(timer->second));
        }
        table.timers.erase(table.timers.begin(), end);
    }
    for (auto& action : due) {
        action();
    }
}

void AtMachineTime(DWORD delay, std::function<void()> action) {
    std::lock_guard<std::mutex> guard(Kernel().clockLock);
    Kernel().timers.emplace(Kernel().now + delay, std::move(action));
}

void AddBusyCheck(std::function<bool()> busy) {
    std::lock_guard<std::mutex> guard(Kernel().clockLock);
    Kernel().busyChecks.push_back(std::move(busy));
}

void AddQuietCheck(std::function<std::uint64_t()> idle) {
    std::lock_guard<std::mutex> guard(Kernel().clockLock);
    Kernel().quietChecks.push_back(std::move(idle));
}

namespace {

bool OnMachineTime() {
    std::lock_guard<std::mutex> guard(Kernel().clockLock);
    return Kernel().machineTime;
}

bool MachineBusy() {
    std::vector<std::function<bool()>> checks;
    {
        std::lock_guard<std::mutex> guard(Kernel().clockLock);
        checks = Kernel().busyChecks;
    }
    return std::any_of(checks.begin(), checks.end(), [](auto& busy) { return busy(); });
}

// The areas' idle stamps; nothing while one of them has work in flight.
std::optional<std::vector<std::uint64_t>> QuietStamps() {
    std::vector<std::function<std::uint64_t()>> checks;
    {
        std::lock_guard<std::mutex> guard(Kernel().clockLock);
        checks = Kernel().quietChecks;
    }
    std::vector<std::uint64_t> stamps;
    for (auto& idle : checks) {
        stamps.push_back(idle());
        if (stamps.back() == 0) {
            return std::nullopt;
        }
    }
    return stamps;
}

// Under the wait lock: every live thread of CreateThread parked with nothing to wake it for.
bool ThreadsParked(const Table& table) {
    if (static_cast<int>(table.parked.size()) != table.liveThreads) {
        return false;
    }
    return std::none_of(table.parked.begin(), table.parked.end(), [&table](const Waiter* waiter) {
        auto signalled = [](auto& object) { return object->Signalled(); };
        auto& objects = *waiter->objects;
        bool ready = waiter->waitAll ? std::all_of(objects.begin(), objects.end(), signalled)
                                     : std::any_of(objects.begin(), objects.end(), signalled);
        return ready || (waiter->alertable && table.apcs.count(waiter->thread) != 0);
    });
}

// The wait-state count while every thread is parked; nothing otherwise.
std::optional<std::uint64_t> ParkedAt() {
    auto& table = Kernel();
    std::lock_guard<std::mutex> guard(table.waitLock);
    if (!ThreadsParked(table)) {
        return std::nullopt;
    }
    return table.changes;
}

// Quiet at one moment: the threads parked and the wait state unchanged from the first look to the
// last (a parked thread that woke would have changed it), the areas idle with the same stamps
// before and after the audio system's look (new work for an area moves its stamp). Nothing idle
// can start work on its own: only a thread that runs, a control or a notification can.
bool Quiet() {
    auto changes = ParkedAt();
    if (!changes) {
        return false;
    }
    auto stamps = QuietStamps();
    if (!stamps || MachineBusy()) {
        return false;
    }
    return QuietStamps() == stamps && ParkedAt() == changes;
}

} // namespace

void QueueApc(DWORD threadId, std::function<void()> apc) {
    ChangeWaitState([&] { Kernel().apcs[threadId].push_back(std::move(apc)); });
}

bool InApc() {
    return RunningApc;
}

bool WaitQuiet(DWORD timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!Quiet()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The system DLLs the machine knows by name, each at a made-up base address.
const std::pair<const char*, std::uintptr_t> SystemModules[] = {
    {"kernel32.dll", 0x7FF810000000},
    {"advapi32.dll", 0x7FF820000000},
};

void DefineEntryPoint(const std::string& module, const std::string& name, FARPROC entry,
                      DWORD fromMajor) {
    std::lock_guard<std::mutex> guard(Kernel().lock);
    Kernel().entryPoints[{module, name}] = {entry, fromMajor};
}

void SetWindowsVersion(DWORD major, DWORD minor) {
    std::lock_guard<std::mutex> guard(Kernel().lock);
    Kernel().major = major;
    Kernel().minor = minor;
}

platform::WideString ModulePath() {
    std::lock_guard<std::mutex> guard(Kernel().lock);
    return Kernel().modulePath;
}

void SetModulePath(const platform::WideString& path) {
    std::lock_guard<std::mutex> guard(Kernel().lock);
    Kernel().modulePath = path;
}

void SetDefaultDllDirectoriesExported(bool exported) {
    std::lock_guard<std::mutex> guard(Kernel().lock);
    Kernel().defaultDllDirectories = exported;
}

} // namespace sim

namespace platform {

DWORD WINAPI GetLastError() {
    return sim::LastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
    sim::LastError = dwErrCode;
}

DWORD WINAPI GetCurrentThreadId() {
    if (sim::ThreadId == 0) {
        sim::ThreadId = sim::NextThreadId++;
    }
    return sim::ThreadId;
}

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR) {
    if (sim::ShouldFail("CreateEventW")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto event = std::make_shared<sim::Event>(bManualReset != FALSE, bInitialState != FALSE);
    return sim::InsertHandle(sim::HandleKind::Event, event);
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
    auto object = sim::LookupHandle(hEvent, sim::HandleKind::Event);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    sim::Record("SetEvent");
    auto* event = static_cast<sim::Event*>(object.get());
    sim::ChangeWaitState([event] { event->state = true; });
    return TRUE;
}

DWORD WINAPI WaitForMultipleObjectsEx(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                      DWORD dwMilliseconds, BOOL bAlertable) {
    std::vector<std::shared_ptr<sim::KernelObject>> objects;
    for (DWORD i = 0; i < nCount; ++i) {
        std::shared_ptr<sim::KernelObject> object;
        for (auto kind : {sim::HandleKind::Event, sim::HandleKind::Thread}) {
            if (!object) {
                object = sim::LookupHandle(lpHandles[i], kind);
            }
        }
        if (!object || !object->Waitable()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objects.push_back(std::move(object));
    }
    if (objects.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    auto& table = sim::Kernel();
    std::unique_lock<std::mutex> guard(table.waitLock);
    DWORD result = WAIT_TIMEOUT;
    auto ready = [&] {
        if (bWaitAll) {
            if (std::all_of(objects.begin(), objects.end(),
                            [](auto& object) { return object->Signalled(); })) {
                for (auto& object : objects) {
                    object->Consume();
                }
                result = WAIT_OBJECT_0;
                return true;
            }
            return false;
        }
        for (std::size_t i = 0; i < objects.size(); ++i) {
            if (objects[i]->Signalled()) {
                objects[i]->Consume();
                result = WAIT_OBJECT_0 + static_cast<DWORD>(i);
                return true;
            }
        }
        return false;
    };
    DWORD thread = GetCurrentThreadId();
    std::deque<std::function<void()>> apcs;
    auto readyOrAlerted = [&] {
        if (ready()) {
            return true;
        }
        auto queued = table.apcs.find(thread);
        if (!bAlertable || queued == table.apcs.end()) {
            return false;
        }
        apcs = std::move(queued->second);
        table.apcs.erase(queued);
        result = WAIT_IO_COMPLETION;
        return true;
    };
    bool timed = dwMilliseconds != INFINITE && dwMilliseconds != 0;
    if (dwMilliseconds == INFINITE) {
        // Parked for WaitQuiet only here: a timed wait ends by itself.
        sim::Waiter waiter{thread, &objects, bWaitAll != FALSE, bAlertable != FALSE};
        if (sim::Created) {
            table.parked.push_back(&waiter);
        }
        table.waitChanged.wait(guard, readyOrAlerted);
        if (sim::Created) {
            table.parked.erase(std::find(table.parked.begin(), table.parked.end(), &waiter));
        }
    } else if (!timed || !sim::OnMachineTime()) {
        table.waitChanged.wait_for(guard, std::chrono::milliseconds(dwMilliseconds),
                                   readyOrAlerted);
    } else {
        // On machine time: only the machine's own work in flight is waited for, in real time.
        while (!readyOrAlerted()) {
            guard.unlock();
            bool busy = sim::MachineBusy();
            guard.lock();
            if (!busy ||
                table.waitChanged.wait_for(guard, std::chrono::milliseconds(1), readyOrAlerted)) {
                break;
            }
        }
    }
    guard.unlock();
    if (timed && result == WAIT_TIMEOUT) {
        sim::AdvanceMachineTime(dwMilliseconds);
    }
    for (auto& apc : apcs) {
        sim::RunningApc = true;
        apc();
        sim::RunningApc = false;
    }
    return result;
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                    DWORD dwMilliseconds) {
    return WaitForMultipleObjectsEx(nCount, lpHandles, bWaitAll, dwMilliseconds, FALSE);
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    return WaitForMultipleObjectsEx(1, &hHandle, FALSE, dwMilliseconds, FALSE);
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    auto& table = sim::Kernel();
    std::shared_ptr<sim::KernelObject> object;
    {
        std::lock_guard<std::mutex> guard(table.lock);
        auto found = table.entries.find(reinterpret_cast<std::uintptr_t>(hObject));
        if (found == table.entries.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = std::move(found->second.object);
        table.entries.erase(found);
    }
    object->Closed();
    return TRUE;
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    sim::PausePoint("Sleep");
    if (dwMilliseconds == 0 || !sim::OnMachineTime()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
    }
    if (dwMilliseconds != 0) {
        sim::AdvanceMachineTime(dwMilliseconds);
    }
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress,
                           LPVOID lpParameter, DWORD, LPDWORD lpThreadId) {
    if (sim::ShouldFail("CreateThread")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto thread = std::make_shared<sim::Thread>();
    DWORD id = sim::NextThreadId++;
    std::string name = "thread-" + std::to_string(sim::NextThreadName++);
    sim::Record("CreateThread " + name);
    // Live for WaitQuiet from here, before the thread runs, until its end is signalled.
    sim::ChangeWaitState([] { ++sim::Kernel().liveThreads; });
    std::thread([thread, id, name, lpStartAddress, lpParameter] {
        sim::ThreadId = id;
        sim::Created = true;
        sim::SetThreadName(name);
        lpStartAddress(lpParameter);
        sim::ChangeWaitState([&thread] {
            thread->ended = true;
            --sim::Kernel().liveThreads;
        });
    }).detach();
    if (lpThreadId) {
        *lpThreadId = id;
    }
    return sim::InsertHandle(sim::HandleKind::Thread, thread);
}

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
    sim::PausePoint("GetVersionExW");
    // The plain or the extended record (OSVERSIONINFOEXW, 8 bytes longer), as Microsoft's
    // GetVersionExW page allows; the extended fields are left as they were. A wrong size sets
    // ERROR_INSUFFICIENT_BUFFER on Windows (Wine's kernel32 version test; Wine 8 itself sets none).
    DWORD size = lpVersionInformation->dwOSVersionInfoSize;
    if ((size != sizeof(OSVERSIONINFOW) && size != sizeof(OSVERSIONINFOW) + 8) ||
        sim::ShouldFail("GetVersionExW")) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(sim::Kernel().lock);
    lpVersionInformation->dwMajorVersion = sim::Kernel().major;
    lpVersionInformation->dwMinorVersion = sim::Kernel().minor;
    lpVersionInformation->dwBuildNumber = 2600;
    lpVersionInformation->dwPlatformId = 2;
    lpVersionInformation->szCSDVersion[0] = 0;
    return TRUE;
}

// As Windows Vista and later (Microsoft's GetModuleFileNameW page): a path that does not fit is
// cut to nSize - 1 characters and a terminator, the result is nSize and the error
// ERROR_INSUFFICIENT_BUFFER. Wine leaves the cut path unterminated, as Windows XP did.
DWORD WINAPI GetModuleFileNameW(HMODULE, LPWSTR lpFilename, DWORD nSize) {
    if (sim::ShouldFail("GetModuleFileNameW")) {
        SetLastError(ERROR_GEN_FAILURE);
        return 0;
    }
    platform::WideString path;
    {
        std::lock_guard<std::mutex> guard(sim::Kernel().lock);
        path = sim::Kernel().modulePath;
    }
    if (nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() >= nSize) {
        std::copy_n(path.begin(), nSize - 1, lpFilename);
        lpFilename[nSize - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::copy(path.begin(), path.end(), lpFilename);
    lpFilename[path.size()] = 0;
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
}

namespace {
WCHAR Fold(WCHAR c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
        return static_cast<WCHAR>(c + 0x20);
    }
    return c;
}
} // namespace

// Null sorts before every string, as on Windows.
int WINAPI lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2) {
    if (!lpString1 || !lpString2) {
        return lpString1 == lpString2 ? 0 : (lpString1 ? 1 : -1);
    }
    for (;; ++lpString1, ++lpString2) {
        WCHAR a = Fold(*lpString1);
        WCHAR b = Fold(*lpString2);
        if (a != b) {
            return a < b ? -1 : 1;
        }
        if (a == 0) {
            return 0;
        }
    }
}

// The executable's own module for null; the system DLLs the machine knows; null and
// ERROR_MOD_NOT_FOUND for any other name.
HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
    if (!lpModuleName) {
        return reinterpret_cast<HMODULE>(0x140000000);
    }
    platform::WideString name = sim::FoldCase(lpModuleName);
    for (auto& [file, base] : sim::SystemModules) {
        if (name == sim::Widen(file)) {
            sim::Record("GetModuleHandleW " + sim::Narrow(lpModuleName));
            return reinterpret_cast<HMODULE>(base);
        }
    }
    sim::Record("GetModuleHandleW " + sim::Narrow(lpModuleName) + " failed 126");
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

// The entry points the machine's system DLLs export at its Windows version; kernel32's
// SetDefaultDllDirectories only where the machine has it.
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    auto& table = sim::Kernel();
    FARPROC entry = nullptr;
    // A value below 0x10000 is an ordinal, which none of the machine's entry points has.
    bool named = reinterpret_cast<std::uintptr_t>(lpProcName) >= 0x10000;
    std::string name =
        named
            ? std::string(lpProcName)
            : std::string("#").append(std::to_string(reinterpret_cast<std::uintptr_t>(lpProcName)));
    {
        std::lock_guard<std::mutex> guard(table.lock);
        for (auto& [file, base] : sim::SystemModules) {
            if (reinterpret_cast<HMODULE>(base) != hModule || !named) {
                continue;
            }
            auto found = table.entryPoints.find({file, name});
            if (found != table.entryPoints.end() && table.major >= found->second.fromMajor &&
                (name != "SetDefaultDllDirectories" || table.defaultDllDirectories)) {
                entry = found->second.entry;
            }
        }
    }
    sim::Record("GetProcAddress " + name + (entry ? "" : " failed 127"));
    if (!entry) {
        SetLastError(ERROR_PROC_NOT_FOUND);
    }
    return entry;
}

BOOL WINAPI SetDllDirectoryW(LPCWSTR lpPathName) {
    std::string path = lpPathName ? sim::Narrow(lpPathName) : std::string();
    sim::Record(lpPathName ? "SetDllDirectoryW \"" + path + "\"" : "SetDllDirectoryW null");
    return TRUE;
}

} // namespace platform
