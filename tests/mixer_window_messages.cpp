// The simulated windows and message queues that the mixer sync window relies on: creation and
// destruction messages, posting order, thread ownership, quit, device-change delivery, the
// creation gate and failure injection.
#include "platform/guids.h"
#include "platform/kernel.h"
#include "platform/sim/machine.h"
#include "platform/sim/user32.h"
#include "platform/user32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::string thread;
};

std::mutex ReceivedLock;
std::vector<Received> ReceivedMessages;
LRESULT CreateResult = 0;
DEV_BROADCAST_DEVICEINTERFACE_W LastDeviceData{};

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard<std::mutex> guard(ReceivedLock);
        ReceivedMessages.push_back(Received{msg, wParam, lParam, sim::ThreadName()});
        if (msg == WM_DEVICECHANGE && lParam != 0) {
            LastDeviceData = *reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
        }
    }
    if (msg == WM_CREATE) {
        return CreateResult;
    }
    if (msg == WM_DESTROY) {
        platform::PostQuitMessage(7);
        return 0;
    }
    return platform::DefWindowProcW(hwnd, msg, wParam, lParam);
}

std::vector<Received> ReceivedCopy() {
    std::lock_guard<std::mutex> guard(ReceivedLock);
    return ReceivedMessages;
}

std::vector<UINT> ReceivedIds() {
    std::vector<UINT> ids;
    for (auto& received : ReceivedCopy()) {
        ids.push_back(received.message);
    }
    return ids;
}

ATOM RegisterTestClass() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = WIDE("TestWnd");
    return platform::RegisterClassExW(&wc);
}

HWND CreateTestWindow(HWND parent = nullptr) {
    return platform::CreateWindowExW(0, WIDE("TestWnd"), WIDE("Test"), WS_OVERLAPPEDWINDOW, 0, 0,
                                     100, 100, parent, nullptr, nullptr, nullptr);
}

// A thread named "worker" that creates a window and serves its messages until WM_QUIT.
class WindowThread {
  public:
    WindowThread() {
        std::promise<HWND> created;
        auto future = created.get_future();
        thread_ = std::thread([this, &created] {
            sim::SetThreadName("worker");
            id_ = platform::GetCurrentThreadId();
            RegisterTestClass();
            created.set_value(CreateTestWindow());
            MSG msg;
            BOOL got;
            while ((got = platform::GetMessageW(&msg, nullptr, 0, 0)) != 0) {
                platform::TranslateMessage(&msg);
                platform::DispatchMessageW(&msg);
            }
            quitCode_ = static_cast<int>(msg.wParam);
            lastMessage_ = msg.message;
        });
        hwnd_ = future.get();
    }
    ~WindowThread() {
        if (thread_.joinable()) {
            platform::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
            thread_.join();
        }
    }
    void Join() { thread_.join(); }
    HWND hwnd() const { return hwnd_; }
    DWORD id() const { return id_; }
    int quitCode() const { return quitCode_; }
    UINT lastMessage() const { return lastMessage_; }

  private:
    std::thread thread_;
    HWND hwnd_ = nullptr;
    DWORD id_ = 0;
    int quitCode_ = -1;
    UINT lastMessage_ = 0;
};

// Every test starts from windows that create and record nothing yet, whatever ran before it.
void ResetRecording() {
    std::lock_guard<std::mutex> guard(ReceivedLock);
    ReceivedMessages.clear();
    CreateResult = 0;
    LastDeviceData = {};
}

class WindowMessages : public ::testing::Test {
  protected:
    void SetUp() override { ResetRecording(); }
    void TearDown() override { EXPECT_TRUE(sim::Faults().empty()); }
};

// Tests of misuse that the machine reports as a fault.
class WindowOwnership : public ::testing::Test {
  protected:
    void SetUp() override { ResetRecording(); }
};

TEST_F(WindowMessages, CreateSendsWmCreateInsideTheCallAndDestroySendsWmDestroy) {
    ASSERT_NE(RegisterTestClass(), 0);
    HWND hwnd = CreateTestWindow();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(ReceivedIds(), std::vector<UINT>{WM_CREATE});
    ASSERT_EQ(sim::user32::LiveWindowCount(), 1u);
    auto info = sim::user32::Windows().front();
    EXPECT_EQ(info.className, "TestWnd");
    EXPECT_EQ(info.title, "Test");
    EXPECT_EQ(info.style, static_cast<DWORD>(WS_OVERLAPPEDWINDOW));
    EXPECT_TRUE(info.topLevel);
    EXPECT_EQ(info.threadId, platform::GetCurrentThreadId());

    EXPECT_TRUE(platform::DestroyWindow(hwnd));
    EXPECT_EQ(ReceivedIds(), (std::vector<UINT>{WM_CREATE, WM_DESTROY}));
    EXPECT_EQ(sim::user32::LiveWindowCount(), 0u);
    EXPECT_FALSE(platform::DestroyWindow(hwnd));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    MSG msg;
    EXPECT_EQ(platform::GetMessageW(&msg, nullptr, 0, 0), FALSE); // the WM_DESTROY's quit
}

TEST_F(WindowMessages, WmCreateReturningMinusOneFailsTheCreation) {
    ASSERT_NE(RegisterTestClass(), 0);
    CreateResult = -1;
    EXPECT_EQ(CreateTestWindow(), nullptr);
    EXPECT_EQ(ReceivedIds(), (std::vector<UINT>{WM_CREATE, WM_DESTROY}));
    EXPECT_EQ(sim::user32::LiveWindowCount(), 0u);
}

TEST_F(WindowMessages, ClassRegistrationRefusesDuplicatesAndUnknownClassesFail) {
    ASSERT_NE(RegisterTestClass(), 0);
    EXPECT_EQ(RegisterTestClass(), 0);
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    EXPECT_TRUE(sim::user32::ClassRegistered("testwnd"));
    EXPECT_EQ(platform::CreateWindowExW(0, WIDE("Other"), WIDE("x"), 0, 0, 0, 1, 1, nullptr,
                                        nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
}

TEST_F(WindowMessages, InjectedFailuresOfRegistrationAndCreation) {
    sim::FailCall("RegisterClassExW");
    EXPECT_EQ(RegisterTestClass(), 0);
    EXPECT_FALSE(sim::user32::ClassRegistered("TestWnd"));
    ASSERT_NE(RegisterTestClass(), 0);
    sim::FailCall("CreateWindowExW");
    EXPECT_EQ(CreateTestWindow(), nullptr);
    EXPECT_TRUE(ReceivedIds().empty()); // failed before the window existed: no WM_CREATE
    EXPECT_NE(CreateTestWindow(), nullptr);
}

TEST_F(WindowMessages, PostedMessagesAreDispatchedInOrderOnTheWindowsThread) {
    WindowThread worker;
    for (UINT i = 0; i < 50; ++i) {
        ASSERT_TRUE(platform::PostMessageW(worker.hwnd(), WM_APP + i, i, 1000 + i));
    }
    ASSERT_TRUE(sim::user32::WaitUntilIdle(worker.hwnd(), 10000));
    auto received = ReceivedCopy();
    ASSERT_EQ(received.size(), 51u);
    EXPECT_EQ(received[0].message, static_cast<UINT>(WM_CREATE));
    for (UINT i = 0; i < 50; ++i) {
        EXPECT_EQ(received[i + 1].message, WM_APP + i);
        EXPECT_EQ(received[i + 1].wParam, i);
        EXPECT_EQ(received[i + 1].lParam, static_cast<LPARAM>(1000 + i));
    }
    for (auto& message : received) {
        EXPECT_EQ(message.thread, "worker");
    }
    auto dispatched = sim::JournalWith("DispatchMessageW");
    ASSERT_EQ(dispatched.size(), 50u);
    EXPECT_NE(dispatched.front().find("msg=0x8000 "), std::string::npos);
    EXPECT_NE(dispatched.front().find("[worker]"), std::string::npos);
}

TEST_F(WindowMessages, GetMessageBlocksUntilSomethingIsPosted) {
    WindowThread worker;
    ASSERT_TRUE(sim::user32::WaitUntilIdle(worker.hwnd(), 10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ReceivedIds(), std::vector<UINT>{WM_CREATE});
    EXPECT_TRUE(sim::JournalWith("DispatchMessageW").empty());
    ASSERT_TRUE(platform::PostMessageW(worker.hwnd(), WM_APP, 0, 0));
    ASSERT_TRUE(sim::user32::WaitUntilIdle(worker.hwnd(), 10000));
    EXPECT_EQ(ReceivedIds(), (std::vector<UINT>{WM_CREATE, WM_APP}));
}

TEST_F(WindowMessages, QuitComesAfterEveryPostedMessageAndEndsTheLoop) {
    WindowThread worker;
    platform::PostMessageW(worker.hwnd(), WM_APP, 0, 0);
    platform::PostMessageW(worker.hwnd(), WM_CLOSE, 0, 0); // DestroyWindow, then quit 7
    worker.Join();
    EXPECT_EQ(ReceivedIds(), (std::vector<UINT>{WM_CREATE, WM_APP, WM_CLOSE, WM_DESTROY}));
    EXPECT_EQ(worker.lastMessage(), static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(worker.quitCode(), 7);
}

TEST_F(WindowMessages, QuitWaitsForMessagesPostedBeforeAndAfterIt) {
    ASSERT_NE(RegisterTestClass(), 0);
    HWND hwnd = CreateTestWindow();
    platform::PostQuitMessage(3);
    platform::PostMessageW(hwnd, WM_APP, 0, 0);
    MSG msg;
    ASSERT_TRUE(platform::GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP));
    EXPECT_EQ(platform::GetMessageW(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(WindowMessages, PostingToANullWindowPostsToTheCallersOwnQueue) {
    WindowThread worker;
    ASSERT_TRUE(platform::PostMessageW(nullptr, WM_APP + 1, 0, 0));
    EXPECT_EQ(sim::user32::QueueLength(platform::GetCurrentThreadId()), 1u);
    ASSERT_TRUE(sim::user32::WaitUntilIdle(worker.hwnd(), 10000));
    EXPECT_EQ(ReceivedIds(), std::vector<UINT>{WM_CREATE}); // the window never sees it
    MSG msg;
    ASSERT_TRUE(platform::GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP + 1));
}

TEST_F(WindowMessages, PostingToADestroyedWindowFails) {
    ASSERT_NE(RegisterTestClass(), 0);
    HWND hwnd = CreateTestWindow();
    ASSERT_TRUE(platform::DestroyWindow(hwnd));
    EXPECT_FALSE(platform::PostMessageW(hwnd, WM_APP, 0, 0));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(sim::JournalWith("PostMessageW").back().find("failed") != std::string::npos, true);
}

TEST_F(WindowMessages, ThreadMessagesNeedTheThreadsQueue) {
    std::promise<DWORD> started;
    std::promise<void> touch;
    std::promise<void> finish;
    std::promise<MSG> got;
    std::thread thread([&] {
        started.set_value(platform::GetCurrentThreadId());
        touch.get_future().wait();
        platform::LoadIconW(nullptr, IDI_APPLICATION);
        finish.get_future().wait();
        MSG msg;
        platform::GetMessageW(&msg, nullptr, 0, 0);
        got.set_value(msg);
    });
    DWORD id = started.get_future().get();
    EXPECT_FALSE(platform::PostThreadMessageW(id, WM_APP, 0, 0));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
    touch.set_value();
    while (!sim::user32::ThreadHasQueue(id)) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(platform::PostThreadMessageW(id, WM_APP + 5, 1, 2));
    finish.set_value();
    MSG msg = got.get_future().get();
    thread.join();
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP + 5));
    EXPECT_EQ(msg.wParam, 1u);
}

TEST_F(WindowOwnership, DestroyingAnotherThreadsWindowIsRefused) {
    WindowThread worker;
    EXPECT_FALSE(platform::DestroyWindow(worker.hwnd()));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(sim::Faults(),
              std::vector<std::string>{"DestroyWindow of a window of another thread"});
    EXPECT_EQ(sim::user32::LiveWindowCount(), 1u);
}

TEST_F(WindowMessages, RegisteredDeviceEventsArriveAsPostedDeviceChange) {
    WindowThread worker;
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = platform::KSCATEGORY_RENDER;
    HDEVNOTIFY registration =
        platform::RegisterDeviceNotificationW(worker.hwnd(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    ASSERT_NE(registration, nullptr);

    sim::RaiseDeviceInterfaceEvent(DBT_DEVICEARRIVAL, platform::GUID_NULL); // other class
    sim::RaiseDeviceInterfaceEvent(DBT_DEVICEREMOVECOMPLETE, platform::KSCATEGORY_RENDER);
    ASSERT_TRUE(sim::user32::WaitUntilIdle(worker.hwnd(), 10000));
    auto received = ReceivedCopy();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].message, static_cast<UINT>(WM_DEVICECHANGE));
    EXPECT_EQ(received[1].wParam, static_cast<WPARAM>(DBT_DEVICEREMOVECOMPLETE));
    EXPECT_EQ(received[1].thread, "worker");
    EXPECT_EQ(LastDeviceData.dbcc_devicetype, static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE));
    EXPECT_TRUE(platform::SameGuid(LastDeviceData.dbcc_classguid, platform::KSCATEGORY_RENDER));
    EXPECT_TRUE(platform::UnregisterDeviceNotification(registration));
}

TEST_F(WindowMessages, BroadcastDeviceChangeReachesTopLevelWindowsOnly) {
    WindowThread worker; // has registered the class
    HWND child = CreateTestWindow(worker.hwnd());
    ASSERT_NE(child, nullptr);
    EXPECT_FALSE(sim::user32::Windows().back().topLevel);
    sim::user32::BroadcastDeviceChange(DBT_DEVNODES_CHANGED);
    ASSERT_TRUE(sim::user32::WaitUntilIdle(worker.hwnd(), 10000));
    auto received = ReceivedCopy();
    ASSERT_EQ(received.size(), 3u); // two WM_CREATE and one broadcast
    EXPECT_EQ(received[2].message, static_cast<UINT>(WM_DEVICECHANGE));
    EXPECT_EQ(received[2].wParam, static_cast<WPARAM>(DBT_DEVNODES_CHANGED));
    EXPECT_EQ(received[2].lParam, 0);
    EXPECT_EQ(received[2].thread, "worker");
    EXPECT_EQ(sim::user32::QueueLength(platform::GetCurrentThreadId()), 0u);
    EXPECT_TRUE(platform::DestroyWindow(child));
    MSG msg;
    EXPECT_EQ(platform::GetMessageW(&msg, nullptr, 0, 0), FALSE); // its WM_DESTROY's quit
}

TEST_F(WindowMessages, HeldCreationWaitsBeforeWmCreateUntilReleased) {
    sim::user32::HoldWindowCreation();
    std::promise<HWND> created;
    std::thread thread([&] {
        sim::SetThreadName("creator");
        RegisterTestClass();
        created.set_value(CreateTestWindow());
    });
    ASSERT_TRUE(sim::user32::WaitForHeldCreation(10000));
    EXPECT_TRUE(ReceivedIds().empty());
    EXPECT_EQ(sim::user32::LiveWindowCount(), 1u); // the window exists, WM_CREATE has not run
    sim::user32::ReleaseWindowCreation();
    HWND hwnd = created.get_future().get();
    thread.join();
    EXPECT_NE(hwnd, nullptr);
    EXPECT_EQ(ReceivedIds(), std::vector<UINT>{WM_CREATE});
    EXPECT_EQ(ReceivedCopy()[0].thread, "creator");
}

} // namespace

namespace {

TEST_F(WindowMessages, TheQueueGateHoldsAThreadBeforeItHasAQueue) {
    sim::user32::HoldQueueCreation("gated");
    std::promise<DWORD> started;
    std::thread thread([&] {
        sim::SetThreadName("gated-1");
        started.set_value(platform::GetCurrentThreadId());
        platform::LoadIconW(nullptr, IDI_APPLICATION);
    });
    DWORD id = started.get_future().get();
    ASSERT_TRUE(sim::user32::WaitForHeldQueueCreation(10000));
    EXPECT_FALSE(sim::user32::ThreadHasQueue(id));
    EXPECT_FALSE(platform::PostThreadMessageW(id, WM_APP, 0, 0)); // this thread is not gated
    sim::user32::ReleaseQueueCreation();
    thread.join();
    EXPECT_EQ(sim::JournalWith("PostThreadMessageW").size(), 1u);
}

TEST_F(WindowMessages, WaitForWindowFindsAWindowWhoseCreationIsStillRunning) {
    EXPECT_EQ(sim::user32::WaitForWindow("TestWnd", 0), nullptr);
    sim::user32::HoldWindowCreation();
    std::promise<HWND> created;
    std::thread thread([&] {
        RegisterTestClass();
        created.set_value(CreateTestWindow());
    });
    HWND found = sim::user32::WaitForWindow("TestWnd", 10000);
    EXPECT_NE(found, nullptr);
    EXPECT_TRUE(ReceivedIds().empty());
    sim::user32::ReleaseWindowCreation();
    EXPECT_EQ(created.get_future().get(), found);
    thread.join();
}

} // namespace
