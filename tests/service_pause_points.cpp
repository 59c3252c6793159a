// The pause points the service tests hold threads at. (The simulated service manager's database
// and refusals are contract cases, tests/contract/scm.cpp; its dispatcher is exercised by the
// service tests themselves.)
#include "platform/kernel.h"
#include "platform/sim/machine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace {

// A test that resumes a held thread and then waits for it at the same call again must see it
// held there anew, not the hold it just released: the service tests hand ServiceMain data while
// it is held.
TEST(SimulatedPausePoints, WaitAfterResumeSeesOnlyTheNextHold) {
    std::atomic<int> passed{0};
    std::promise<void> rearmed;
    sim::PauseAt("Sleep");
    std::thread sleeper([&, armed = rearmed.get_future()] {
        platform::Sleep(0);
        passed.fetch_add(1);
        armed.wait();
        platform::Sleep(0);
        passed.fetch_add(1);
    });
    ASSERT_TRUE(sim::WaitUntilPaused("Sleep"));
    EXPECT_EQ(passed.load(), 0);
    sim::Resume("Sleep");
    sim::PauseAt("Sleep");
    rearmed.set_value();
    ASSERT_TRUE(sim::WaitUntilPaused("Sleep"));
    EXPECT_EQ(passed.load(), 1);
    sim::Resume("Sleep");
    sleeper.join();
    EXPECT_EQ(passed.load(), 2);
}

} // namespace
