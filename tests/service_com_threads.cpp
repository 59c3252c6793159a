// On which threads the service host initialises and releases COM.
#include "platform/sim/com.h"
#include "platform/sim/machine.h"
#include "platform/sim/scm.h"
#include "service/service.h"
#include "support/service_runner.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

long JournalIndex(const std::string& entry) {
    auto journal = sim::Journal();
    auto found = std::find(journal.begin(), journal.end(), entry);
    return found == journal.end() ? -1 : static_cast<long>(found - journal.begin());
}

// Journal entries equal to entry after the one at index from.
long CountAfter(const std::string& entry, long from) {
    auto journal = sim::Journal();
    return static_cast<long>(std::count(journal.begin() + from + 1, journal.end(), entry));
}

TEST(ServiceCom, HandlerThreadInitialisesAtTheFirstControlOnly) {
    sim::SetWindowsVersion(5, 1);
    support::ServiceRunner runner;
    runner.Start();
    ASSERT_TRUE(runner.WaitForRunning());
    EXPECT_EQ(sim::com::Counts("main").initialize, 0);
    runner.Control(SERVICE_CONTROL_INTERROGATE);
    runner.Control(SERVICE_CONTROL_INTERROGATE);
    EXPECT_EQ(sim::com::Counts("main").initialize, 1);
    ASSERT_TRUE(runner.Stop());

    EXPECT_EQ(sim::com::Counts("main").initialize, 1);
    EXPECT_EQ(sim::com::Counts("main").uninitialize, 1);
    EXPECT_EQ(sim::com::Counts("service").initialize, 0);
    EXPECT_EQ(sim::com::Counts("service").uninitialize, 0);
    EXPECT_TRUE(sim::Faults().empty());
}

// A refused control initialises COM too: the flag is looked at before the control code.
TEST(ServiceCom, RefusedControlInitialises) {
    sim::SetWindowsVersion(5, 1);
    support::ServiceRunner runner;
    runner.Start();
    ASSERT_TRUE(runner.WaitForRunning());
    EXPECT_EQ(runner.Control(0x80), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_EQ(sim::com::Counts("main").initialize, 1);
    EXPECT_FALSE(HandlerComInitPending);
}

// When the stop is the first control, COM is initialised before the stop sequence runs.
TEST(ServiceCom, StopAsFirstControlInitialisesFirst) {
    support::ServiceRunner runner;
    runner.Start();
    ASSERT_TRUE(runner.WaitForRunning());
    ASSERT_TRUE(runner.Stop());
    long control = JournalIndex("ServiceControl 1 0 [main]");
    long initialise = JournalIndex("CoInitialize [main]");
    long signal = JournalIndex("SetEvent [main]");
    ASSERT_GE(control, 0);
    EXPECT_GT(initialise, control);
    EXPECT_GT(signal, initialise);
    EXPECT_EQ(sim::com::Counts("main").initialize, 1);
    EXPECT_TRUE(sim::Faults().empty());
}

// Above version 5: the service thread initialises once for the endpoint sync's start and never
// releases; on the handler's thread the endpoint sync's end releases the apartment before
// StopEvent is signalled, and the stop sequence releases once more after it (a call that finds the
// apartment closed and does nothing).
TEST(ServiceCom, EndpointPathTable) {
    support::ServiceRunner runner;
    runner.Start();
    ASSERT_TRUE(runner.WaitForRunning());
    EXPECT_EQ(sim::com::Counts("service").initialize, 1);
    runner.Control(SERVICE_CONTROL_INTERROGATE);
    // No arrival: an arrival that binds nothing would start the recovery watcher's retry run.
    sim::scm::DeviceEvent(DBT_DEVNODES_CHANGED);
    ASSERT_TRUE(runner.Stop());

    EXPECT_EQ(sim::com::Counts("service").initialize, 1);
    EXPECT_EQ(sim::com::Counts("service").uninitialize, 0);
    EXPECT_EQ(sim::com::Counts("main").initialize, 1);
    EXPECT_EQ(sim::com::Counts("main").uninitialize, 2);
    long signal = JournalIndex("SetEvent [main]");
    long uninitialize = JournalIndex("CoUninitialize [main]");
    ASSERT_GE(signal, 0);
    EXPECT_LT(uninitialize, signal);
    EXPECT_EQ(CountAfter("CoUninitialize [main]", signal), 1);
    EXPECT_LT(JournalIndex("CoInitialize [service]"),
              JournalIndex("SetServiceStatus SERVICE_RUNNING [service]"));
    EXPECT_TRUE(sim::Faults().empty());
}

// At version 5 and below exactly one CoUninitialize follows the signal.
TEST(ServiceCom, MixerStopReleasesOnceAfterStopEvent) {
    sim::SetWindowsVersion(5, 0);
    support::ServiceRunner runner;
    runner.Start();
    ASSERT_TRUE(runner.WaitForRunning());
    ASSERT_TRUE(runner.Stop());
    long signal = JournalIndex("SetEvent [main]");
    ASSERT_GE(signal, 0);
    EXPECT_EQ(CountAfter("CoUninitialize [main]", signal), 1);
}

// The first control after a stop initialises COM again (a second run in the same process).
TEST(ServiceCom, FirstControlAfterEachStopInitialisesAgain) {
    sim::SetWindowsVersion(5, 1);
    for (int run = 0; run < 2; ++run) {
        support::ServiceRunner runner;
        runner.Start({}, true, run == 0);
        ASSERT_TRUE(runner.WaitForRunning());
        runner.Control(SERVICE_CONTROL_INTERROGATE);
        ASSERT_TRUE(runner.Stop());
    }
    EXPECT_EQ(sim::com::Counts("main").initialize, 2);
    EXPECT_EQ(sim::com::Counts("main").uninitialize, 2);
    EXPECT_TRUE(sim::Faults().empty());
}

} // namespace
