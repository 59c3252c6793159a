// A thousand device events: each rebuild replaces the whole endpoint sync and holds nothing
// beyond it, and COM is initialised and released per thread as the service host does it.
#include "scenario_endpoint_service.h"

namespace {

using namespace scenario_endpoint;
using ::testing::ElementsAre;

constexpr int Rebuilds = 1000;

TEST_F(EndpointService, ThousandRebuildsHoldOnlyTheCurrentSync) {
    PlugHardware();
    PlugVirtual();
    StartService();
    ASSERT_TRUE(Running());
    std::size_t threadHandles = sim::OpenHandles(sim::HandleKind::Thread);
    std::size_t eventHandles = sim::OpenHandles(sim::HandleKind::Event);
    const DWORD eventTypes[] = {DBT_DEVICEARRIVAL, DBT_DEVICEQUERYREMOVE, DBT_DEVICEREMOVECOMPLETE,
                                DBT_DEVNODES_CHANGED};

    for (int rebuild = 0; rebuild < Rebuilds; ++rebuild) {
        SCOPED_TRACE(rebuild);
        sim::ClearJournal();
        RaiseRenderEvent(eventTypes[rebuild % 4]);
        ASSERT_TRUE(Running());
        // Two records and two callbacks allocated, the flag cleared and set once, and one
        // enumerator made and let go.
        ASSERT_EQ(sim::JournalWith("AllocateObject").size(), 4u);
        ASSERT_THAT(DriverFlags(), ElementsAre("0", "1"));
        ASSERT_EQ(Count(EnumeratorCreated), 1);
        ASSERT_EQ(Count(EnumeratorReleased), 1);
        // What is alive: the two records' device and endpoint volume, one reference each, and one
        // registration per endpoint. A leaked record would keep its references, a leaked callback
        // its registration.
        ASSERT_EQ(sim::audio::LiveObjects(), 4u + WatcherObjects);
        ASSERT_EQ(sim::audio::LiveObjects("IMMDeviceEnumerator"), WatcherObjects);
        ASSERT_EQ(sim::audio::RefCount(HardwareEndpoint->endpointVolume.get()), 1u);
        ASSERT_EQ(sim::audio::RefCount(VirtualEndpoint->device.get()), 1u);
        ASSERT_EQ(sim::audio::Registrations(HardwareId), 1u);
        ASSERT_EQ(sim::audio::Registrations(VirtualId), 1u);
        ASSERT_EQ(sim::ks::OpenFilterHandles(), 0u);
        ASSERT_EQ(sim::ks::OpenDeviceInfoSets(), 0u);
        ASSERT_EQ(sim::OpenHandles(sim::HandleKind::File), 0u);
        ASSERT_EQ(sim::OpenHandles(sim::HandleKind::Thread), threadHandles);
        ASSERT_EQ(sim::OpenHandles(sim::HandleKind::Event), eventHandles);
        // Now and then the rebuilt sync is shown to mirror.
        if (rebuild % 100 == 99) {
            float level = static_cast<float>(rebuild % 1000) / 1000.0f;
            ASSERT_EQ(sim::audio::UserSetMasterLevel(VirtualId, level), S_OK);
            ASSERT_TRUE(sim::audio::WaitIdle());
            ASSERT_FLOAT_EQ(sim::audio::ReadEndpoint(HardwareId).masterLevel, level);
        }
    }
    ASSERT_THAT(sim::Faults(), ::testing::IsEmpty());
    EXPECT_EQ(sim::scm::Controls().size(), static_cast<std::size_t>(Rebuilds));

    StopService();
    // The service main thread opened its apartment once for the first start and keeps it until it
    // ends; the handler's thread opened one at the first control and released it in the stop
    // (inside the endpoint sync's end, and once more, to no effect, after StopEvent).
    EXPECT_EQ(sim::com::Counts("service").initialize, 1);
    EXPECT_EQ(sim::com::Counts("service").uninitialize, 0);
    EXPECT_EQ(sim::com::Counts("main").initialize, 1);
    EXPECT_EQ(sim::com::Counts("main").uninitialize, 2);
}

// The same service run twice in one process: each run's first control opens the handler thread's
// apartment again, and each stop releases it.
TEST_F(EndpointService, ApartmentsAcrossTwoRuns) {
    PlugHardware();
    PlugVirtual();
    for (int run = 0; run < 2; ++run) {
        support::ServiceRunner runner;
        runner.Start({}, true, run == 0);
        ASSERT_TRUE(runner.WaitForRunning());
        EXPECT_TRUE(Running());
        for (int event = 0; event < 3; ++event) {
            RaiseRenderEvent(DBT_DEVICEARRIVAL);
        }
        ASSERT_TRUE(runner.Stop());
        EXPECT_TRUE(Idle());
    }
    EXPECT_EQ(sim::com::Counts("service").initialize, 2);
    EXPECT_EQ(sim::com::Counts("service").uninitialize, 0);
    EXPECT_EQ(sim::com::Counts("main").initialize, 2);
    EXPECT_EQ(sim::com::Counts("main").uninitialize, 4);
    EXPECT_EQ(sim::audio::LiveObjects(), 0u);
}

} // namespace
