// Contract cases of kernel32: events, waits, threads, handles, version, module path and string
// comparison.
#include "contract.h"

#include "platform/kernel.h"

namespace {

TEST(KernelEvents, AutoResetEventReleasesOneWaitThenTimesOut) {
    HANDLE event = platform::CreateEventW(nullptr, FALSE, TRUE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(platform::WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(platform::CloseHandle(event));
}

} // namespace
