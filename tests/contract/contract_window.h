// Windows for the contract cases: a class whose procedure records the messages the logic relies
// on, and a thread that owns a window and serves its queue, as the mixer thread does.
#pragma once

#include "platform/kernel.h"
#include "platform/user32.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace contract {

struct Seen {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD thread;
};

// Posted to a recording window: it destroys itself. On a WindowThread its WM_DESTROY then posts
// WM_QUIT with QuitCode, as the mixer window does; a window of the case's own thread posts none,
// since on the real platform a quit left in that queue would end a later case's loop at once.
constexpr UINT FinishMessage = WM_APP + 99;
constexpr int QuitCode = 7;
inline thread_local bool QuitOnDestroy = false;

// What the recording procedure keeps: creation, destruction, the mixer's change message and
// WM_APP and above. The real platform sends many others (WM_NCCREATE, sizing, activation).
inline std::mutex SeenLock;
inline std::vector<Seen> SeenMessages;
inline LRESULT CreateAnswer = 0;

inline std::vector<Seen> AllSeen() {
    std::lock_guard<std::mutex> guard(SeenLock);
    return SeenMessages;
}

inline LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CREATE || msg == WM_DESTROY || msg == MM_MIXM_CONTROL_CHANGE ||
        (msg >= WM_APP && msg < 0xC000)) {
        std::lock_guard<std::mutex> guard(SeenLock);
        SeenMessages.push_back({hwnd, msg, wParam, lParam, platform::GetCurrentThreadId()});
    }
    if (msg == WM_CREATE) {
        return CreateAnswer;
    }
    if (msg == WM_DESTROY && QuitOnDestroy) {
        platform::PostQuitMessage(QuitCode);
    }
    if (msg == FinishMessage) {
        platform::DestroyWindow(hwnd);
    }
    return platform::DefWindowProcW(hwnd, msg, wParam, lParam);
}

inline ATOM RegisterRecordingClass(LPCWSTR name) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = RecordingProc;
    wc.hInstance = platform::GetModuleHandleW(nullptr);
    wc.lpszClassName = name;
    return platform::RegisterClassExW(&wc);
}

// A window class of the recording procedure, unregistered at the end of the case (on the real
// platform a class outlives the case otherwise). Each case names its own.
class RecordingClass {
  public:
    explicit RecordingClass(LPCWSTR name) : name_(name) {
        SeenMessages.clear();
        CreateAnswer = 0;
        EXPECT_NE(RegisterRecordingClass(name), 0) << platform::GetLastError();
    }
    ~RecordingClass() {
        EXPECT_TRUE(platform::UnregisterClassW(name_, platform::GetModuleHandleW(nullptr)))
            << platform::GetLastError();
    }
    HWND Create() const {
        return platform::CreateWindowExW(0, name_, name_, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                         nullptr, nullptr, platform::GetModuleHandleW(nullptr),
                                         nullptr);
    }

  private:
    LPCWSTR name_;
};

// A thread that creates a window of the class and serves its queue until WM_QUIT, as the mixer
// thread does. Finish posts FinishMessage, waits for the thread and gives the quit code.
class WindowThread {
  public:
    explicit WindowThread(const RecordingClass& windowClass) {
        std::promise<HWND> created;
        thread_ = std::thread([&] {
            id_ = platform::GetCurrentThreadId();
            QuitOnDestroy = true;
            HWND hwnd = windowClass.Create();
            created.set_value(hwnd);
            MSG msg{};
            while (hwnd && platform::GetMessageW(&msg, nullptr, 0, 0) > 0) {
                platform::TranslateMessage(&msg);
                platform::DispatchMessageW(&msg);
            }
            quitCode_ = msg.message == WM_QUIT ? static_cast<int>(msg.wParam) : -1;
        });
        hwnd_ = created.get_future().get();
    }
    ~WindowThread() {
        if (thread_.joinable()) {
            Finish();
        }
    }
    int Finish() {
        EXPECT_TRUE(!hwnd_ || platform::PostMessageW(hwnd_, FinishMessage, 0, 0));
        thread_.join();
        return quitCode_;
    }
    HWND hwnd() const { return hwnd_; }
    DWORD id() const { return id_; }

  private:
    std::thread thread_;
    HWND hwnd_ = nullptr;
    DWORD id_ = 0;
    int quitCode_ = -1;
};

} // namespace contract
