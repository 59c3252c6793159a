// Contract cases of user32: window classes, windows and their creation and destruction messages,
// per-thread queues, posting, thread messages, WM_QUIT, and device notifications to a window.
#include "contract.h"
#include "contract_window.h"

#include "platform/guids.h"

#include <chrono>
#include <cstring>

namespace {

using contract::RecordingClass;
using contract::WindowThread;

std::vector<UINT> SeenIds() {
    std::vector<UINT> ids;
    for (const auto& seen : contract::AllSeen()) {
        ids.push_back(seen.message);
    }
    return ids;
}

TEST(User32Classes, SecondRegistrationFailsWhateverTheLetterCase) {
    RecordingClass first(WIDE("ContractCaseClass"));
    platform::SetLastError(0xDEADBEEF);
    EXPECT_EQ(contract::RegisterRecordingClass(WIDE("CONTRACTCASECLASS")), 0);
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    HWND hwnd = platform::CreateWindowExW(0, WIDE("contractcaseclass"), nullptr, 0, 0, 0, 1, 1,
                                          nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE(hwnd, nullptr);
    EXPECT_TRUE(platform::DestroyWindow(hwnd));
}

// The mixer thread registers its class at every start; from the second start on the class is
// there already, from a thread that has ended, and the window is still made.
TEST(User32Classes, RegistrationOutlivesTheThreadThatMadeIt) {
    RecordingClass windowClass(WIDE("ContractThreadClass"));
    WindowThread first(windowClass);
    ASSERT_NE(first.hwnd(), nullptr);
    EXPECT_EQ(first.Finish(), contract::QuitCode);
    WindowThread second(windowClass);
    EXPECT_NE(second.hwnd(), nullptr);
}

// Whether WM_DESTROY follows is left open: Wine sends none, Windows documents none.
TEST(User32Windows, WmCreateAnsweringMinusOneFailsTheCreation) {
    RecordingClass windowClass(WIDE("ContractRefuseClass"));
    contract::CreateAnswer = -1;
    EXPECT_EQ(windowClass.Create(), nullptr);
    ASSERT_FALSE(SeenIds().empty());
    EXPECT_EQ(SeenIds()[0], static_cast<UINT>(WM_CREATE));
}

// The mirroring starts in WM_CREATE and stops in WM_DESTROY: both run on the caller's thread
// before the call returns.
TEST(User32Windows, CreationAndDestructionSendTheirMessagesInsideTheCalls) {
    RecordingClass windowClass(WIDE("ContractCreateClass"));
    HWND hwnd = windowClass.Create();
    ASSERT_NE(hwnd, nullptr);
    auto seen = contract::AllSeen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].message, static_cast<UINT>(WM_CREATE));
    EXPECT_EQ(seen[0].hwnd, hwnd);
    EXPECT_EQ(seen[0].thread, platform::GetCurrentThreadId());
    EXPECT_TRUE(platform::DestroyWindow(hwnd));
    EXPECT_EQ(SeenIds(), (std::vector<UINT>{WM_CREATE, WM_DESTROY}));
    // The mixer thread's stop relies on the failure alone; the error is left open (Wine answers
    // ERROR_ACCESS_DENIED, Windows documents none).
    EXPECT_FALSE(platform::DestroyWindow(hwnd));
    platform::SetLastError(0xDEADBEEF);
    EXPECT_FALSE(platform::PostMessageW(hwnd, WM_APP, 0, 0));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(User32Windows, AnotherThreadsWindowCannotBeDestroyed) {
    RecordingClass windowClass(WIDE("ContractOwnerClass"));
    WindowThread owner(windowClass);
    ASSERT_NE(owner.hwnd(), nullptr);
    contract::ExpectMisuse();
    platform::SetLastError(0xDEADBEEF);
    EXPECT_FALSE(platform::DestroyWindow(owner.hwnd()));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(owner.Finish(), contract::QuitCode); // still alive, and its owner can end it
    EXPECT_EQ(SeenIds(), (std::vector<UINT>{WM_CREATE, contract::FinishMessage, WM_DESTROY}));
}

TEST(User32Queues, PostedMessagesArriveInOrderOnTheOwningThread) {
    RecordingClass windowClass(WIDE("ContractOrderClass"));
    WindowThread owner(windowClass);
    ASSERT_NE(owner.hwnd(), nullptr);
    constexpr UINT Count = 20;
    for (UINT i = 0; i < Count; ++i) {
        ASSERT_TRUE(platform::PostMessageW(owner.hwnd(), WM_APP + i, i, 1000 + i));
    }
    owner.Finish();
    auto seen = contract::AllSeen();
    ASSERT_EQ(seen.size(), Count + 3); // WM_CREATE, the posts, FinishMessage, WM_DESTROY
    for (UINT i = 0; i < Count; ++i) {
        EXPECT_EQ(seen[i + 1].message, WM_APP + i);
        EXPECT_EQ(seen[i + 1].wParam, static_cast<WPARAM>(i));
        EXPECT_EQ(seen[i + 1].lParam, static_cast<LPARAM>(1000 + i));
    }
    for (const auto& message : seen) {
        EXPECT_EQ(message.thread, owner.id());
    }
}

TEST(User32Queues, QuitComesAfterMessagesPostedBeforeIt) {
    RecordingClass windowClass(WIDE("ContractQuitClass"));
    HWND hwnd = windowClass.Create();
    ASSERT_NE(hwnd, nullptr);
    ASSERT_TRUE(platform::PostMessageW(hwnd, WM_APP, 0, 0));
    platform::PostQuitMessage(3);
    ASSERT_TRUE(platform::PostMessageW(hwnd, WM_APP + 1, 0, 0));
    MSG msg{};
    ASSERT_GT(platform::GetMessageW(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP));
    ASSERT_GT(platform::GetMessageW(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP + 1));
    std::memset(&msg, 0xCC, sizeof msg);
    EXPECT_EQ(platform::GetMessageW(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_TRUE(platform::DestroyWindow(hwnd));
}

// How the stop reaches the mixer thread: a thread message fails until the thread has a queue,
// then arrives with no window.
TEST(User32Queues, ThreadMessagesNeedTheThreadsQueue) {
    std::promise<void> go;
    std::promise<DWORD> started;
    MSG msg{};
    std::thread thread([&] {
        started.set_value(platform::GetCurrentThreadId());
        go.get_future().wait();
        platform::GetMessageW(&msg, nullptr, 0, 0);
    });
    DWORD id = started.get_future().get();
    platform::SetLastError(0xDEADBEEF);
    EXPECT_FALSE(platform::PostThreadMessageW(id, WM_APP + 5, 1, 2));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
    go.set_value();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!platform::PostThreadMessageW(id, WM_APP + 5, 1, 2) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    thread.join();
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP + 5));
    EXPECT_EQ(msg.wParam, 1u);
    EXPECT_EQ(msg.lParam, 2);
}

TEST(User32DeviceNotifications, WindowRegistersForAnInterfaceClassAndUnregisters) {
    RecordingClass windowClass(WIDE("ContractNotifyClass"));
    HWND hwnd = windowClass.Create();
    ASSERT_NE(hwnd, nullptr);
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = platform::KSCATEGORY_RENDER;
    HDEVNOTIFY registration =
        platform::RegisterDeviceNotificationW(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    EXPECT_NE(registration, nullptr) << platform::GetLastError();
    EXPECT_TRUE(platform::UnregisterDeviceNotification(registration));
    EXPECT_TRUE(platform::DestroyWindow(hwnd));
}

} // namespace
