// Stopping the mixer sync with the service at Windows version 5: from a running window, while
// the window is still being created, before the mixer thread has a message queue, after its
// window could not be created, and without a mixer thread at all.
#include "scenario_mixer_service.h"

#include <chrono>
#include <future>
#include <thread>

namespace {

using namespace scenario_mixer;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

// Index of the first journal entry that starts with prefix, or the journal's size.
std::size_t FirstIndex(const std::vector<std::string>& journal, const std::string& prefix) {
    for (std::size_t i = 0; i < journal.size(); ++i) {
        if (journal[i].rfind(prefix, 0) == 0) {
            return i;
        }
    }
    return journal.size();
}

// Hang guard for a condition another thread brings about.
template <typename Condition> bool Eventually(Condition condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST_F(MixerService, StopClosesTheMixersClearsTheFlagAndEndsTheThread) {
    AddDevices();
    StartService();
    sim::ClearJournal();
    ASSERT_TRUE(runner_.Stop());
    ExpectEverythingClosed();
    EXPECT_THAT(DriverFlags(), ElementsAre("0"));
    EXPECT_THAT(sim::JournalWith("mixerClose"), SizeIs(2));

    // The stop reached the mixer thread's queue; the window destroyed itself there, and all of
    // it happened before the service reported its stop.
    auto journal = sim::Journal();
    std::size_t post = FirstIndex(journal, "PostThreadMessageW " + mixerThread_ + " msg=0x8001");
    std::size_t destroy = FirstIndex(journal, "WM_DESTROY " + HexOf(window_));
    std::size_t unregister = FirstIndex(journal, "UnregisterDeviceNotification");
    std::size_t flag = FirstIndex(journal, "KsSet");
    std::size_t quit = FirstIndex(journal, "PostQuitMessage 0");
    std::size_t stopped = FirstIndex(journal, "SetServiceStatus SERVICE_STOPPED");
    ASSERT_LT(post, journal.size());
    EXPECT_NE(journal[post].find("[main]"), std::string::npos);
    EXPECT_LT(post, destroy);
    EXPECT_LT(destroy, unregister);
    EXPECT_LT(unregister, flag);
    EXPECT_LT(flag, quit);
    std::size_t signal = FirstIndex(journal, "SetEvent");
    EXPECT_LT(quit, signal);
    EXPECT_LT(signal, stopped);
    EXPECT_NE(journal[destroy].find("[" + mixerThread_ + "]"), std::string::npos);
    // The stop never used the window handle, let alone a null one.
    EXPECT_THAT(sim::JournalWith("PostMessageW"), IsEmpty());

    // A second stop finds no thread and does nothing.
    sim::ClearJournal();
    StopMixerThread(ServiceState);
    EXPECT_THAT(sim::Journal(), IsEmpty());
}

TEST_F(MixerService, StopWithoutAMixerThreadDoesNothing) {
    ASSERT_EQ(ServiceState.MixerThreadHandle, nullptr);
    StopMixerThread(ServiceState);
    EXPECT_THAT(sim::Journal(), IsEmpty());
}

TEST_F(MixerService, AStopDuringTheWindowsCreationWaitsForItAndThenEndsEverything) {
    AddDevices();
    sim::user32::HoldWindowCreation();
    Launch();
    ASSERT_TRUE(sim::user32::WaitForHeldCreation(10000));
    auto stop = std::async(std::launch::async, [this] {
        sim::SetThreadName("stopper");
        return runner_.Stop();
    });
    ASSERT_TRUE(Eventually([] { return !sim::JournalWith("PostThreadMessageW").empty(); }));
    EXPECT_EQ(sim::JournalWith("PostThreadMessageW").front().find("failed"), std::string::npos);
    // The window's WM_CREATE has not run yet, so the stop cannot be done.
    EXPECT_EQ(stop.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    EXPECT_THAT(sim::JournalWith("mixerOpen"), IsEmpty());

    sim::user32::ReleaseWindowCreation();
    ASSERT_EQ(stop.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(stop.get());
    ExpectEverythingClosed();
    EXPECT_THAT(DriverFlags(), ElementsAre("1", "0"));
    EXPECT_THAT(sim::JournalWith("WM_DESTROY"), SizeIs(1));
}

TEST_F(MixerService, AStopBeforeTheMixerThreadHasAQueueIsRetriedUntilItArrives) {
    AddDevices();
    sim::user32::HoldQueueCreation("thread-");
    Launch();
    ASSERT_TRUE(sim::user32::WaitForHeldQueueCreation(10000));
    auto stop = std::async(std::launch::async, [this] { return runner_.Stop(); });
    ASSERT_TRUE(Eventually([] { return !sim::JournalWith("PostThreadMessageW").empty(); }));
    EXPECT_NE(sim::JournalWith("PostThreadMessageW").front().find("failed"), std::string::npos);
    EXPECT_EQ(stop.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);

    sim::user32::ReleaseQueueCreation();
    ASSERT_EQ(stop.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(stop.get());
    ExpectEverythingClosed();
    EXPECT_THAT(DriverFlags(), ElementsAre("1", "0"));
    auto posts = sim::JournalWith("PostThreadMessageW");
    EXPECT_EQ(posts.back().find("failed"), std::string::npos);
    for (std::size_t i = 0; i + 1 < posts.size(); ++i) {
        EXPECT_NE(posts[i].find("failed"), std::string::npos);
    }
}

// Stops that land anywhere in the mixer thread's start: before its queue, during a slow
// WM_CREATE, or after it. Every one must end with everything closed.
TEST_F(MixerService, StopsRightAfterStartEndEveryTime) {
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(round);
        sim::ResetMachine();
        SetUp();
        AddDevices();
        sim::user32::SetWindowCreationDelay(static_cast<DWORD>(round % 4) * 2);
        support::ServiceRunner runner;
        runner.Start();
        ASSERT_TRUE(runner.WaitForRunning());
        ASSERT_TRUE(runner.Stop());
        ExpectEverythingClosed();
        auto flags = DriverFlags();
        ASSERT_FALSE(flags.empty());
        EXPECT_EQ(flags.back(), "0");
        EXPECT_THAT(sim::Faults(), IsEmpty());
    }
}

TEST_F(MixerService, AStopAfterTheWindowCouldNotBeCreatedEndsTheThread) {
    AddDevices();
    sim::FailCall("CreateWindowExW");
    Launch();
    ASSERT_TRUE(runner_.Stop());
    ExpectEverythingClosed();
    EXPECT_EQ(ServiceState.SyncWindowHandle, nullptr);
    EXPECT_THAT(sim::JournalWith("mixerOpen"), IsEmpty());
    EXPECT_THAT(DriverFlags(), ElementsAre("0"));
    EXPECT_THAT(sim::JournalWith("UnregisterDeviceNotification"), IsEmpty());
}

TEST_F(MixerService, AStopAfterTheClassCouldNotBeRegisteredEndsTheThread) {
    AddDevices();
    sim::FailCall("RegisterClassExW");
    Launch();
    ASSERT_TRUE(runner_.Stop());
    ExpectEverythingClosed();
    EXPECT_THAT(sim::user32::Windows(), IsEmpty());
    EXPECT_THAT(DriverFlags(), ElementsAre("0"));
}

// The stop's version query fails and answers "above 5": the mixer thread still ends.
TEST_F(MixerService, AStopWhoseVersionQueryFailsStillEndsTheMixerThread) {
    AddDevices();
    StartService();
    sim::FailCall("GetVersionExW");
    ASSERT_TRUE(runner_.Stop());
    ExpectEverythingClosed();
}

TEST_F(MixerService, WithoutAMixerThreadTheServiceStillRunsAndStops) {
    AddDevices();
    sim::FailCall("CreateThread");
    Launch();
    ASSERT_TRUE(runner_.Stop());
    ExpectEverythingClosed();
    EXPECT_THAT(sim::JournalWith("PostThreadMessageW"), IsEmpty());
    EXPECT_THAT(sim::winmm::Opens(), IsEmpty());
}

} // namespace
