// Simulated user32 and gdi32: window classes, windows, one message queue per thread, and what
// tests use to drive and read them.
//
// Behaviour the logic relies on, as on Windows:
// - A window belongs to the thread that created it; only that thread may destroy it, and its
//   procedure runs on that thread only (posted messages through DispatchMessageW; WM_CREATE
//   inside CreateWindowExW; WM_DESTROY inside DestroyWindow).
// - A thread gets its message queue at its first user32 call; PostThreadMessageW to a thread
//   without one fails with ERROR_INVALID_THREAD_ID. Unlike Windows, the machine does not notice
//   a thread's end: its queue and windows stay as they were (see user32.cpp for why).
// - Posted messages keep their order. WM_QUIT (PostQuitMessage) comes after every posted message
//   and makes GetMessageW return 0. GetMessageW blocks while the queue is empty.
// - PostMessageW with a null window posts a thread message to the caller's own queue;
//   PostMessageW to a destroyed or unknown window fails with ERROR_INVALID_WINDOW_HANDLE.
// - A device interface event reaches each window registered for it as a posted WM_DEVICECHANGE
//   (wParam the event, lParam a DEV_BROADCAST_DEVICEINTERFACE_W that stays valid until the
//   receiving thread's next GetMessageW); BroadcastDeviceChange posts an event such as
//   DBT_DEVNODES_CHANGED (lParam 0) to every top-level window.
// - mixerOpen asks the desktop whether a CALLBACK_WINDOW callback is a live window.
// - A mixer opened with CALLBACK_WINDOW reports its changes as posted MM_MIXM_LINE_CHANGE and
//   MM_MIXM_CONTROL_CHANGE messages (see sim/winmm.h): wParam the handle the window's mixer was
//   opened as, lParam the line or control identifier.
//
// Journal entries (each followed by " [thread name]"):
//   "RegisterClassExW <class> ok|exists|failed", "UnregisterClassW <class> ok|failed"
//   "CreateWindowExW <class> title=<title> style=0x<hex> -> 0x<hwnd>|failed"
//   "WM_CREATE 0x<hwnd> -> <result>", "WM_DESTROY 0x<hwnd>", "DestroyWindow 0x<hwnd>"
//   "PostMessageW 0x<hwnd> msg=0x<hex> wParam=0x<hex> lParam=0x<hex>" (+ " failed")
//   "PostThreadMessageW <thread name> msg=0x<hex> wParam=0x<hex> lParam=0x<hex>" (+ " failed")
//   "PostQuitMessage <code>"
//   "DispatchMessageW 0x<hwnd> msg=0x<hex> wParam=0x<hex> lParam=0x<hex>" (+ " dropped" when the
//   window is gone or the message is a thread message); recorded before the procedure runs.
// Messages posted by the simulated machine itself (device events, mixer changes) are journaled
// as PostMessageW by the thread that caused them.
//
// Failure injection (sim::FailCall): "RegisterClassExW", "CreateWindowExW" (fails before the
// window exists, ERROR_NOT_ENOUGH_MEMORY), "PostMessageW", "PostThreadMessageW".
#pragma once

#include "platform/types.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace sim::user32 {

struct WindowInfo {
    HWND hwnd;
    std::string className;
    std::string title;
    DWORD style;
    int x, y, width, height;
    DWORD threadId;
    std::string threadName; // of the creating thread
    bool topLevel;
    bool alive;
};

// Every window created since the last reset, destroyed ones included, in creation order.
std::vector<WindowInfo> Windows();
std::size_t LiveWindowCount();
bool ClassRegistered(const std::string& className);
// The record a class was registered with, its name and menu name cleared (the caller's strings
// need not outlive the registration); nothing when no such class is registered.
std::optional<WNDCLASSEXW> RegisteredClass(const std::string& className);

// Window creation gate: while held, CreateWindowExW blocks after the window exists and before
// WM_CREATE, so a test can act while a window's creation is still running. Release lets every
// held creation go on. WaitForHeldCreation returns true once some thread waits at the gate.
void HoldWindowCreation();
void ReleaseWindowCreation();
bool WaitForHeldCreation(DWORD timeoutMs);
// A pause inside every CreateWindowExW before WM_CREATE (0: none).
void SetWindowCreationDelay(DWORD milliseconds);

// Queue gate: while held, a thread whose name starts with threadNamePrefix stops at its first
// user32 call, before it has a message queue, so a test can post to a thread that has none yet.
void HoldQueueCreation(const std::string& threadNamePrefix);
void ReleaseQueueCreation();
bool WaitForHeldQueueCreation(DWORD timeoutMs);

// The first live window of the class, once there is one (it exists from inside
// CreateWindowExW, before its WM_CREATE); null when timeoutMs passes first.
HWND WaitForWindow(const std::string& className, DWORD timeoutMs);

// True once the thread that owns window waits in GetMessageW with nothing in its queue, false
// when timeoutMs passes first.
bool WaitUntilIdle(HWND window, DWORD timeoutMs);
bool ThreadHasQueue(DWORD threadId);
std::size_t QueueLength(DWORD threadId);

// Posts WM_DEVICECHANGE with eventType and lParam 0 to every live top-level window, as Windows
// broadcasts DBT_DEVNODES_CHANGED and other events without device data.
void BroadcastDeviceChange(DWORD eventType);

} // namespace sim::user32
