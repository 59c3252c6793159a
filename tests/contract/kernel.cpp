// Contract cases of kernel32: events, waits, threads, handles, version, module path and string
// comparison, as the service, the mixer thread and install rely on them.
#include "contract.h"

#include "platform/kernel.h"

#include <thread>

namespace {

constexpr DWORD Poison = 0xDEADBEEF;

TEST(KernelEvents, AutoResetEventReleasesOneWaitThenTimesOut) {
    HANDLE event = platform::CreateEventW(nullptr, FALSE, TRUE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(platform::WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(platform::CloseHandle(event));
}

// StopEvent: set once, every later wait returns at once.
TEST(KernelEvents, ManualResetEventStaysSignalled) {
    HANDLE event = platform::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(platform::WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(platform::SetEvent(event));
    EXPECT_EQ(platform::WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(platform::CloseHandle(event));
}

TEST(KernelWaits, AnyOfSeveralGivesTheSignalledIndex) {
    HANDLE events[] = {platform::CreateEventW(nullptr, TRUE, FALSE, nullptr),
                       platform::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    ASSERT_NE(events[0], nullptr);
    ASSERT_NE(events[1], nullptr);
    EXPECT_EQ(platform::WaitForMultipleObjects(2, events, FALSE, 0),
              static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(platform::SetEvent(events[1]));
    EXPECT_EQ(platform::WaitForMultipleObjects(2, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(platform::WaitForMultipleObjects(2, events, TRUE, 0),
              static_cast<DWORD>(WAIT_TIMEOUT));
    for (HANDLE event : events) {
        platform::CloseHandle(event);
    }
}

// A wait on a closed handle fails at once instead of blocking, and a second close fails.
TEST(KernelHandles, ClosedHandleFailsWaitAndClose) {
    HANDLE event = platform::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    ASSERT_TRUE(platform::CloseHandle(event));
    platform::SetLastError(Poison);
    EXPECT_EQ(platform::WaitForSingleObject(event, INFINITE), WAIT_FAILED);
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    platform::SetLastError(Poison);
    EXPECT_FALSE(platform::CloseHandle(event));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

DWORD WINAPI SetsItsEvent(LPVOID parameter) {
    platform::SetLastError(42);
    platform::SetEvent(static_cast<HANDLE>(parameter));
    return 0;
}

// The mixer thread: runs with its parameter, its handle is signalled when it ends, and the last
// error belongs to each thread.
TEST(KernelThreads, ThreadRunsAndItsHandleSignalsItsEnd) {
    HANDLE event = platform::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    platform::SetLastError(7);
    DWORD id = 0;
    HANDLE thread = platform::CreateThread(nullptr, 0, SetsItsEvent, event, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(platform::WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(platform::GetLastError(), 7u);
    EXPECT_TRUE(platform::CloseHandle(thread));
    EXPECT_TRUE(platform::CloseHandle(event));
}

// The record is checked by its size field: the plain and the extended record are accepted.
TEST(KernelVersion, SizeFieldDecides) {
    struct {
        OSVERSIONINFOW info;
        BYTE extension[8]; // OSVERSIONINFOEXW's further fields
    } record = {};
    record.info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    record.info.dwMajorVersion = Poison;
    ASSERT_TRUE(platform::GetVersionExW(&record.info));
    EXPECT_GE(record.info.dwMajorVersion, 5u);
    EXPECT_LT(record.info.dwMajorVersion, 100u);
    record.info.dwOSVersionInfoSize = sizeof(record);
    EXPECT_TRUE(platform::GetVersionExW(&record.info));
    record.info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW) - 1;
    EXPECT_FALSE(platform::GetVersionExW(&record.info));
}

// Install refuses a path that fills the buffer: it was cut short.
TEST(KernelModulePath, TooSmallBufferGivesItsSizeAndInsufficientBuffer) {
    WCHAR full[MAX_PATH];
    DWORD length = platform::GetModuleFileNameW(nullptr, full, MAX_PATH);
    ASSERT_GT(length, 4u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    EXPECT_EQ(full[length], 0);
    WCHAR cut[4] = {1, 1, 1, 1};
    platform::SetLastError(Poison);
    EXPECT_EQ(platform::GetModuleFileNameW(nullptr, cut, 4), 4u);
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(cut[0], full[0]);
    EXPECT_EQ(cut[2], full[2]);
}

TEST(KernelStrings, CompareIgnoresCase) {
    EXPECT_EQ(platform::lstrcmpiW(WIDE("Quenvar_Service"), WIDE("QUENVAR_SERVICE")), 0);
    EXPECT_EQ(platform::lstrcmpiW(WIDE("Realtek HD Audio output"), WIDE("realtek hd audio OUTPUT")),
              0);
    EXPECT_EQ(platform::lstrcmpiW(WIDE("\u00C4rger \u00D6l"), WIDE("\u00E4RGER \u00F6L")), 0);
    EXPECT_LT(platform::lstrcmpiW(WIDE("apple"), WIDE("BANANA")), 0);
    EXPECT_GT(platform::lstrcmpiW(WIDE("Speakers 2"), WIDE("speakers")), 0);
    EXPECT_NE(platform::lstrcmpiW(WIDE("Speakers"), WIDE("Speakers ")), 0);
    EXPECT_LT(platform::lstrcmpiW(nullptr, WIDE("a")), 0);
    EXPECT_EQ(platform::lstrcmpiW(nullptr, nullptr), 0);
}

} // namespace
