// Simulated user32 and gdi32: classes, windows, per-thread message queues, and the window side of
// device notifications and mixer change messages. Nothing else lives here.
#include "platform/sim/user32.h"
#include "platform/kernel.h"
#include "platform/sim/machine.h"
#include "platform/sim/winmm.h"
#include "platform/user32.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace sim {
namespace {

struct Posted {
    MSG msg;
    // Data that lParam points to, kept alive until the receiver's next GetMessageW.
    std::shared_ptr<void> payload;
};

struct Queue {
    DWORD threadId = 0;
    std::string threadName;
    std::deque<Posted> posted;
    bool quitPosted = false;
    int quitCode = 0;
    bool waiting = false; // the owner is blocked in GetMessageW with nothing to take
    // Data of the message the owner took last, kept until its next GetMessageW.
    std::shared_ptr<void> currentPayload;
};

struct Window {
    std::string className;
    std::string title;
    DWORD style = 0;
    int x = 0, y = 0, width = 0, height = 0;
    WNDPROC procedure = nullptr;
    DWORD threadId = 0;
    std::string threadName;
    bool topLevel = true;
    bool alive = true;
    bool destroying = false;
};

struct Desktop {
    std::mutex lock;
    // Signalled on every change of a queue, of the creation gate or of a window.
    std::condition_variable changed;
    std::map<platform::WideString, WNDCLASSEXW> classes; // by class name folded to lower case
    std::map<std::uintptr_t, Window> windows;
    std::vector<std::uintptr_t> creationOrder;
    std::uintptr_t nextWindow = 0x10010;
    std::map<DWORD, std::shared_ptr<Queue>> queues;
    bool creationHeld = false;
    int creationsWaiting = 0;
    DWORD creationDelay = 0;
    bool queueGateHeld = false;
    std::string queueGatePrefix;
    int queuesWaiting = 0;
};

Desktop& TheDesktop();

// The calling thread's queue, owned by the desktop. A plain pointer on purpose: mingw-w64's
// emulated thread-local storage frees a thread's storage before it runs the destructors of its
// thread_local objects, so no thread_local here may have one.
thread_local Queue* CurrentQueue = nullptr;

std::string Hex(std::uintptr_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string Hex(const void* value) {
    return Hex(reinterpret_cast<std::uintptr_t>(value));
}

std::string MessageText(UINT msg, WPARAM wParam, LPARAM lParam) {
    return "msg=" + Hex(msg) + " wParam=" + Hex(static_cast<std::uintptr_t>(wParam)) +
           " lParam=" + Hex(static_cast<std::uintptr_t>(lParam));
}

// Called with the desktop lock held.
Window* FindLiveWindow(Desktop& desktop, HWND hwnd) {
    auto found = desktop.windows.find(reinterpret_cast<std::uintptr_t>(hwnd));
    if (found == desktop.windows.end() || !found->second.alive) {
        return nullptr;
    }
    return &found->second;
}

// Takes the desktop lock for a user32 call of the calling thread and gives the thread its queue
// at its first call, as on Windows; a held queue gate stops that first call first.
std::unique_lock<std::mutex> Enter(Desktop& desktop) {
    std::unique_lock<std::mutex> guard(desktop.lock);
    if (!CurrentQueue) {
        std::string name = ThreadName();
        auto gated = [&] {
            return desktop.queueGateHeld &&
                   name.compare(0, desktop.queueGatePrefix.size(), desktop.queueGatePrefix) == 0;
        };
        if (gated()) {
            ++desktop.queuesWaiting;
            desktop.changed.notify_all();
            desktop.changed.wait(guard, [&] { return !gated(); });
            --desktop.queuesWaiting;
        }
        auto queue = std::make_shared<Queue>();
        queue->threadId = platform::GetCurrentThreadId();
        queue->threadName = name;
        desktop.queues[queue->threadId] = queue;
        CurrentQueue = queue.get();
    }
    return guard;
}

void EnsureOwnQueue() {
    Enter(TheDesktop());
}

// Called with the desktop lock held.
void Enqueue(Desktop& desktop, Queue& queue, const MSG& msg, std::shared_ptr<void> payload) {
    queue.posted.push_back(Posted{msg, std::move(payload)});
    queue.waiting = false;
    desktop.changed.notify_all();
}

// Posts to a live window's thread; false when the window is gone. The journal line is written
// under the lock so that its place in the journal is the message's place in the queue.
bool PostToWindow(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                  std::shared_ptr<void> payload) {
    auto& desktop = TheDesktop();
    std::lock_guard<std::mutex> guard(desktop.lock);
    std::string entry = "PostMessageW " + Hex(hwnd) + " " + MessageText(msg, wParam, lParam);
    Window* window = FindLiveWindow(desktop, hwnd);
    std::shared_ptr<Queue> queue;
    if (window) {
        auto found = desktop.queues.find(window->threadId);
        if (found != desktop.queues.end()) {
            queue = found->second;
        }
    }
    if (!queue) {
        Record(entry + " failed");
        return false;
    }
    Record(entry);
    MSG posted{};
    posted.hwnd = hwnd;
    posted.message = msg;
    posted.wParam = wParam;
    posted.lParam = lParam;
    Enqueue(desktop, *queue, posted, std::move(payload));
    return true;
}

// Device interface events registered by a window arrive here (outside the registry's lock).
// Source: RegisterDeviceNotificationW and WM_DEVICECHANGE (learn.microsoft.com); Wine raises none.
void DeliverDeviceEvent(HANDLE recipient, DWORD eventType) {
    auto data = std::make_shared<DEV_BROADCAST_DEVICEINTERFACE_W>();
    data->dbcc_size = sizeof(DEV_BROADCAST_DEVICEINTERFACE_W);
    data->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    data->dbcc_reserved = 0;
    data->dbcc_classguid = GUID{};
    data->dbcc_name[0] = 0;
    for (auto& registration : DeviceRegistrations()) {
        if (registration.recipient == recipient) {
            data->dbcc_classguid = registration.filter.dbcc_classguid;
            break;
        }
    }
    auto lParam = reinterpret_cast<LPARAM>(data.get());
    PostToWindow(static_cast<HWND>(recipient), WM_DEVICECHANGE, eventType, lParam, std::move(data));
}

Desktop& TheDesktop() {
    static Desktop* desktop = [] {
        auto* created = new Desktop;
        OnReset([created] {
            std::lock_guard<std::mutex> guard(created->lock);
            created->classes.clear();
            created->windows.clear();
            created->creationOrder.clear();
            created->creationHeld = false;
            created->creationDelay = 0;
            created->queueGateHeld = false;
            // Queues belong to threads that live on; only what waits in them is dropped.
            for (auto& [id, queue] : created->queues) {
                queue->posted.clear();
                queue->quitPosted = false;
            }
            created->changed.notify_all();
        });
        SetWindowDeviceEventSink(DeliverDeviceEvent);
        // A mixer opened with CALLBACK_WINDOW tells its window of every control change.
        winmm::SetControlChangeSink([](HWND window, HMIXER mixer, DWORD controlId) {
            PostToWindow(window, MM_MIXM_CONTROL_CHANGE, reinterpret_cast<WPARAM>(mixer),
                         static_cast<LPARAM>(controlId), nullptr);
        });
        return created;
    }();
    return *desktop;
}

// The mixers ask whether a callback window exists. Set at start-up rather than with the desktop,
// so a mixer opened before any window is checked too.
const bool MixerWindowCheckSet = [] {
    winmm::SetWindowCheck([](HWND hwnd) {
        auto& desktop = TheDesktop();
        std::lock_guard<std::mutex> guard(desktop.lock);
        return FindLiveWindow(desktop, hwnd) != nullptr;
    });
    return true;
}();

LRESULT CallProcedure(WNDPROC procedure, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return procedure(hwnd, msg, wParam, lParam);
}

} // namespace

namespace user32 {

std::vector<WindowInfo> Windows() {
    auto& desktop = TheDesktop();
    std::lock_guard<std::mutex> guard(desktop.lock);
    std::vector<WindowInfo> all;
    for (auto id : desktop.creationOrder) {
        const Window& window = desktop.windows.at(id);
        all.push_back(WindowInfo{reinterpret_cast<HWND>(id), window.className, window.title,
                                 window.style, window.x, window.y, window.width, window.height,
                                 window.threadId, window.threadName, window.topLevel,
                                 window.alive});
    }
    return all;
}

std::size_t LiveWindowCount() {
    std::size_t count = 0;
    for (auto& window : Windows()) {
        count += window.alive ? 1 : 0;
    }
    return count;
}

bool ClassRegistered(const std::string& className) {
    auto& desktop = TheDesktop();
    std::lock_guard<std::mutex> guard(desktop.lock);
    platform::WideString wide = Widen(className);
    return desktop.classes.count(FoldCase(wide.c_str())) != 0;
}

std::optional<WNDCLASSEXW> RegisteredClass(const std::string& className) {
    auto& desktop = TheDesktop();
    std::lock_guard<std::mutex> guard(desktop.lock);
    platform::WideString wide = Widen(className);
    auto found = desktop.classes.find(FoldCase(wide.c_str()));
    return found == desktop.classes.end() ? std::nullopt : std::optional(found->second);
}

void HoldWindowCreation() {
    auto& desktop = TheDesktop();
    std::lock_guard<std::mutex> guard(desktop.lock);
    desktop.creationHeld = true;
}

void ReleaseWindowCreation() {
    auto& desktop = TheDesktop();
    std::lock_guard<std::mutex> guard(desktop.lock);
    desktop.creationHeld = false;
    desktop.changed.notify_all();
}

bool WaitForHeldCreation(DWORD timeoutMs) {
    auto& desktop = TheDesktop();
    std::unique_lock<std::mutex> guard(desktop.lock);
    return desktop.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                    [&] { return desktop.creationsWaiting > 0; });
}

void SetWindowCreationDelay(DWORD milliseconds) {
    auto& desktop = TheDesktop();
    std::lock_guard<std::mutex> guard(desktop.lock);
    desktop.creationDelay = milliseconds;
}

void HoldQueueCreation(const std::string& threadNamePrefix) {
    auto& desktop = TheDesktop();
    std::lock_guard<std::mutex> guard(desktop.lock);
    desktop.queueGateHeld = true;
    desktop.queueGatePrefix = threadNamePrefix;
}

void ReleaseQueueCreation() {
    auto& desktop = TheDesktop();
    std::lock_guard<std::mutex> guard(desktop.lock);
    desktop.queueGateHeld = false;
    desktop.changed.notify_all();
}

bool WaitForHeldQueueCreation(DWORD timeoutMs) {
    auto& desktop = TheDesktop();
    std::unique_lock<std::mutex> guard(desktop.lock);
    return desktop.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                    [&] { return desktop.queuesWaiting > 0; });
}

HWND WaitForWindow(const std::string& className, DWORD timeoutMs) {
    auto& desktop = TheDesktop();
    std::unique_lock<std::mutex> guard(desktop.lock);
    HWND found = nullptr;
    desktop.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
        for (auto id : desktop.creationOrder) {
            const Window& window = desktop.windows.at(id);
            if (window.alive && window.className == className) {
                found = reinterpret_cast<HWND>(id);
                return true;
            }
        }
        return false;
    });
    return found;
}

bool WaitUntilIdle(HWND hwnd, DWORD timeoutMs) {
    auto& desktop = TheDesktop();
    std::unique_lock<std::mutex> guard(desktop.lock);
    auto found = desktop.windows.find(reinterpret_cast<std::uintptr_t>(hwnd));
    if (found == desktop.windows.end()) {
        return false;
    }
    DWORD threadId = found->second.threadId;
    return desktop.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
        auto queue = desktop.queues.find(threadId);
        return queue == desktop.queues.end() || queue->second->waiting;
    });
}

bool ThreadHasQueue(DWORD threadId) {
    auto& desktop = TheDesktop();
    std::lock_guard<std::mutex> guard(desktop.lock);
    return desktop.queues.count(threadId) != 0;
}

std::size_t QueueLength(DWORD threadId) {
    auto& desktop = TheDesktop();
    std::lock_guard<std::mutex> guard(desktop.lock);
    auto found = desktop.queues.find(threadId);
    return found == desktop.queues.end() ? 0 : found->second->posted.size();
}

void BroadcastDeviceChange(DWORD eventType) {
    std::vector<HWND> topLevel;
    for (auto& window : Windows()) {
        if (window.alive && window.topLevel) {
            topLevel.push_back(window.hwnd);
        }
    }
    for (HWND hwnd : topLevel) {
        PostToWindow(hwnd, WM_DEVICECHANGE, eventType, 0, nullptr);
    }
}

} // namespace user32
} // namespace sim

namespace platform {

ATOM WINAPI RegisterClassExW(const WNDCLASSEXW* lpwcx) {
    auto& desktop = sim::TheDesktop();
    auto guard = sim::Enter(desktop);
    std::string entry = "RegisterClassExW " + sim::Narrow(lpwcx ? lpwcx->lpszClassName : nullptr);
    if (!lpwcx || lpwcx->cbSize != sizeof(WNDCLASSEXW) || !lpwcx->lpfnWndProc ||
        !lpwcx->lpszClassName || sim::ShouldFail("RegisterClassExW")) {
        sim::Record(entry + " failed");
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto key = sim::FoldCase(lpwcx->lpszClassName);
    if (desktop.classes.count(key) != 0) {
        sim::Record(entry + " exists");
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    WNDCLASSEXW kept = *lpwcx;
    kept.lpszClassName = nullptr; // the caller's string need not outlive the call
    kept.lpszMenuName = nullptr;
    desktop.classes[key] = kept;
    sim::Record(entry + " ok");
    return static_cast<ATOM>(0xC000 + desktop.classes.size());
}

// The module is not compared: the machine runs one module.
BOOL WINAPI UnregisterClassW(LPCWSTR lpClassName, HINSTANCE) {
    auto& desktop = sim::TheDesktop();
    auto guard = sim::Enter(desktop);
    std::string entry = "UnregisterClassW " + sim::Narrow(lpClassName);
    auto found =
        lpClassName ? desktop.classes.find(sim::FoldCase(lpClassName)) : desktop.classes.end();
    if (found == desktop.classes.end()) {
        sim::Record(entry + " failed");
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    for (auto& [id, window] : desktop.windows) {
        if (window.alive && sim::FoldCase(sim::Widen(window.className).c_str()) == found->first) {
            sim::Record(entry + " failed");
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    }
    desktop.classes.erase(found);
    sim::Record(entry + " ok");
    return TRUE;
}

HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName,
                            DWORD dwStyle, int X, int Y, int nWidth, int nHeight, HWND hWndParent,
                            HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam) {
    auto& desktop = sim::TheDesktop();
    std::string entry = "CreateWindowExW " + sim::Narrow(lpClassName) +
                        " title=" + sim::Narrow(lpWindowName) + " style=" + sim::Hex(dwStyle);
    HWND hwnd = nullptr;
    WNDPROC procedure = nullptr;
    DWORD delay = 0;
    {
        auto guard = sim::Enter(desktop);
        if (sim::ShouldFail("CreateWindowExW")) {
            sim::Record(entry + " -> failed");
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        auto found = desktop.classes.find(sim::FoldCase(lpClassName));
        if (found == desktop.classes.end()) {
            sim::Record(entry + " -> failed");
            // Wine's user32 conformance test class.c, run on Windows (Wine: CLASS_DOES_NOT_EXIST).
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        if (hWndParent && !sim::FindLiveWindow(desktop, hWndParent)) {
            sim::Record(entry + " -> failed");
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        std::uintptr_t id = desktop.nextWindow;
        desktop.nextWindow += 0x10;
        sim::Window window;
        window.className = sim::Narrow(lpClassName);
        window.title = sim::Narrow(lpWindowName);
        window.style = dwStyle;
        window.x = X;
        window.y = Y;
        window.width = nWidth;
        window.height = nHeight;
        window.procedure = found->second.lpfnWndProc;
        window.threadId = GetCurrentThreadId();
        window.threadName = sim::ThreadName();
        window.topLevel = hWndParent == nullptr;
        desktop.windows[id] = window;
        desktop.creationOrder.push_back(id);
        hwnd = reinterpret_cast<HWND>(id);
        procedure = window.procedure;
        delay = desktop.creationDelay;
        sim::Record(entry + " -> " + sim::Hex(hwnd));
        if (desktop.creationHeld) {
            ++desktop.creationsWaiting;
            desktop.changed.notify_all();
            desktop.changed.wait(guard, [&] { return !desktop.creationHeld; });
            --desktop.creationsWaiting;
        }
    }
    if (delay != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
    CREATESTRUCTW create{};
    create.lpCreateParams = lpParam;
    create.hInstance = hInstance;
    create.hMenu = hMenu;
    create.hwndParent = hWndParent;
    create.cy = nHeight;
    create.cx = nWidth;
    create.y = Y;
    create.x = X;
    create.style = static_cast<LONG>(dwStyle);
    create.lpszName = lpWindowName;
    create.lpszClass = lpClassName;
    create.dwExStyle = dwExStyle;
    LRESULT result =
        sim::CallProcedure(procedure, hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create));
    sim::Record("WM_CREATE " + sim::Hex(hwnd) + " -> " + std::to_string(result));
    if (result == -1) {
        // Windows destroys a window whose WM_CREATE refuses it, WM_DESTROY included.
        platform::DestroyWindow(hwnd);
        return nullptr;
    }
    return hwnd;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    auto& desktop = sim::TheDesktop();
    WNDPROC procedure = nullptr;
    {
        auto guard = sim::Enter(desktop);
        sim::Record("DestroyWindow " + sim::Hex(hWnd));
        sim::Window* window = sim::FindLiveWindow(desktop, hWnd);
        if (!window) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (window->threadId != GetCurrentThreadId()) {
            sim::ReportFault("DestroyWindow of a window of another thread");
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (window->destroying) {
            return TRUE; // DestroyWindow from inside its own WM_DESTROY
        }
        window->destroying = true;
        procedure = window->procedure;
    }
    sim::Record("WM_DESTROY " + sim::Hex(hWnd));
    sim::CallProcedure(procedure, hWnd, WM_DESTROY, 0, 0);
    std::lock_guard<std::mutex> guard(desktop.lock);
    if (sim::Window* window = sim::FindLiveWindow(desktop, hWnd)) {
        window->alive = false;
    }
    desktop.changed.notify_all();
    return TRUE;
}

LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM, LPARAM) {
    sim::EnsureOwnQueue();
    if (Msg == WM_CLOSE) {
        platform::DestroyWindow(hWnd);
    }
    return 0;
}

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    if (hWnd || wMsgFilterMin || wMsgFilterMax) {
        sim::ReportFault("GetMessageW with a window or message filter is not simulated");
    }
    auto& desktop = sim::TheDesktop();
    auto guard = sim::Enter(desktop);
    sim::Queue& queue = *sim::CurrentQueue;
    queue.currentPayload.reset();
    for (;;) {
        if (!queue.posted.empty()) {
            sim::Posted next = std::move(queue.posted.front());
            queue.posted.pop_front();
            *lpMsg = next.msg;
            queue.currentPayload = std::move(next.payload);
            return lpMsg->message != WM_QUIT;
        }
        if (queue.quitPosted) {
            queue.quitPosted = false;
            *lpMsg = MSG{};
            lpMsg->message = WM_QUIT;
            lpMsg->wParam = static_cast<WPARAM>(queue.quitCode);
            return FALSE;
        }
        queue.waiting = true;
        desktop.changed.notify_all();
        desktop.changed.wait(guard);
        queue.waiting = false;
    }
}

BOOL WINAPI TranslateMessage(const MSG*) {
    sim::EnsureOwnQueue();
    return FALSE; // no keyboard input on the simulated machine
}

LRESULT WINAPI DispatchMessageW(const MSG* lpMsg) {
    auto& desktop = sim::TheDesktop();
    WNDPROC procedure = nullptr;
    {
        auto guard = sim::Enter(desktop);
        std::string entry = "DispatchMessageW " + sim::Hex(lpMsg->hwnd) + " " +
                            sim::MessageText(lpMsg->message, lpMsg->wParam, lpMsg->lParam);
        sim::Window* window = lpMsg->hwnd ? sim::FindLiveWindow(desktop, lpMsg->hwnd) : nullptr;
        if (!window) {
            sim::Record(entry + " dropped");
            SetLastError(lpMsg->hwnd ? ERROR_INVALID_WINDOW_HANDLE : ERROR_SUCCESS);
            return 0;
        }
        if (window->threadId != GetCurrentThreadId()) {
            sim::ReportFault("DispatchMessageW of a window of another thread");
            return 0;
        }
        sim::Record(entry);
        procedure = window->procedure;
    }
    return sim::CallProcedure(procedure, lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (sim::ShouldFail("PostMessageW")) {
        sim::Record("PostMessageW " + sim::Hex(hWnd) + " " + sim::MessageText(Msg, wParam, lParam) +
                    " failed");
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (!hWnd) {
        // Windows posts a thread message to the caller's own queue.
        auto& desktop = sim::TheDesktop();
        auto guard = sim::Enter(desktop);
        sim::Queue& queue = *sim::CurrentQueue;
        sim::Record("PostMessageW 0x0 " + sim::MessageText(Msg, wParam, lParam));
        MSG posted{};
        posted.message = Msg;
        posted.wParam = wParam;
        posted.lParam = lParam;
        sim::Enqueue(desktop, queue, posted, nullptr);
        return TRUE;
    }
    sim::EnsureOwnQueue();
    if (!sim::PostToWindow(hWnd, Msg, wParam, lParam, nullptr)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
    auto& desktop = sim::TheDesktop();
    auto guard = sim::Enter(desktop);
    auto found = desktop.queues.find(idThread);
    std::string target = found != desktop.queues.end() ? found->second->threadName
                                                       : "thread#" + std::to_string(idThread);
    std::string entry =
        "PostThreadMessageW " + target + " " + sim::MessageText(Msg, wParam, lParam);
    if (sim::ShouldFail("PostThreadMessageW") || found == desktop.queues.end()) {
        sim::Record(entry + " failed");
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    sim::Record(entry);
    MSG posted{};
    posted.message = Msg;
    posted.wParam = wParam;
    posted.lParam = lParam;
    sim::Enqueue(desktop, *found->second, posted, nullptr);
    return TRUE;
}

void WINAPI PostQuitMessage(int nExitCode) {
    auto& desktop = sim::TheDesktop();
    auto guard = sim::Enter(desktop);
    sim::Queue& queue = *sim::CurrentQueue;
    sim::Record("PostQuitMessage " + std::to_string(nExitCode));
    queue.quitPosted = true;
    queue.quitCode = nExitCode;
    queue.waiting = false;
    desktop.changed.notify_all();
}

// The system's shared icons, cursors and stock objects: fixed handles, no resources behind them.
HICON WINAPI LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName) {
    sim::EnsureOwnQueue();
    auto id = reinterpret_cast<std::uintptr_t>(lpIconName);
    if (hInstance || id < 32512 || id > 32518) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return reinterpret_cast<HICON>(0x20000 + id);
}

HCURSOR WINAPI LoadCursorW(HINSTANCE hInstance, LPCWSTR lpCursorName) {
    sim::EnsureOwnQueue();
    auto id = reinterpret_cast<std::uintptr_t>(lpCursorName);
    if (hInstance || id < 32512 || id > 32651) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return reinterpret_cast<HCURSOR>(0x30000 + id);
}

HGDIOBJ WINAPI GetStockObject(int i) {
    if (i < 0 || i > 19) {
        return nullptr;
    }
    return reinterpret_cast<HGDIOBJ>(static_cast<std::uintptr_t>(0x40000 + i));
}

} // namespace platform
