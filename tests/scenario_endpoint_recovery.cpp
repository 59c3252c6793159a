// What real machines do without any device-interface event (endpoints disabled and enabled, a late
// endpoint builder, the audio service restarting): the service recovers and mirrors again.
#include "scenario_endpoint_service.h"
#include "service/recovery.h"

#include <iterator>
#include <thread>

namespace {

using namespace scenario_endpoint;

class EndpointRecovery : public EndpointService {
  protected:
    void SetUp() override {
        EndpointService::SetUp();
        sim::ClearFailures();
        // Retry delays run on the machine's clock, in no real time.
        sim::UseMachineTime(true);
        PlugHardware();
        PlugVirtual();
    }

    // Until the machine, the watcher and the handler are done with what happened.
    static void Settle() { ASSERT_TRUE(sim::WaitQuiet()); }

    static long RecoveryControls() {
        auto all = sim::scm::Controls();
        return std::count_if(all.begin(), all.end(),
                             [](auto& c) { return c.code == RecoveryControl; });
    }
    // The driver flag's last write since the journal was cleared ("" for none).
    static std::string LastFlag() { return DriverFlags().empty() ? "" : DriverFlags().back(); }

    // The sync runs and mirrors a user change from the virtual endpoint to the hardware one.
    static void ExpectMirroring(float level) {
        ASSERT_TRUE(Running());
        EXPECT_EQ(LastFlag(), "1");
        ASSERT_EQ(sim::audio::UserSetMasterLevel(VirtualId, level), S_OK);
        ASSERT_TRUE(sim::audio::WaitIdle());
        EXPECT_FLOAT_EQ(sim::audio::ReadEndpoint(HardwareId).masterLevel, level);
    }
};

constexpr long RetryRun = std::size(RecoveryRetryDelays);

TEST_F(EndpointRecovery, VirtualEndpointEnabledAfterTheStart) {
    ASSERT_TRUE(sim::audio::SetEndpointState(VirtualId, DEVICE_STATE_DISABLED));
    StartService();
    Settle();
    EXPECT_TRUE(Idle());
    // The service's own start is never followed by a retry.
    EXPECT_EQ(RecoveryControls(), 0);
    ASSERT_TRUE(sim::audio::SetEndpointState(VirtualId, DEVICE_STATE_ACTIVE));
    Settle();
    EXPECT_EQ(RecoveryControls(), 1);
    ExpectMirroring(0.25f);
}

// Each endpoint in turn: disabled, the sync ends and a bounded retry run follows; enabled again,
// the old objects stay dead and the sync is built afresh.
TEST_F(EndpointRecovery, EitherEndpointDisabledAndEnabledWhileMirroring) {
    StartService();
    for (const auto* id : {&HardwareId, &VirtualId}) {
        SCOPED_TRACE(sim::Narrow(*id));
        sim::ClearJournal();
        long before = RecoveryControls();
        ASSERT_TRUE(sim::audio::SetEndpointState(*id, DEVICE_STATE_DISABLED));
        Settle();
        EXPECT_TRUE(Idle());
        EXPECT_EQ(LastFlag(), "0");
        EXPECT_EQ(RecoveryControls(), before + 1 + RetryRun);
        ASSERT_TRUE(sim::audio::SetEndpointState(*id, DEVICE_STATE_ACTIVE));
        Settle();
        EXPECT_EQ(RecoveryControls(), before + 2 + RetryRun);
        ExpectMirroring(id == &HardwareId ? 0.5f : 0.75f);
    }
}

// The virtual device's driver installed again: its interface event comes before its endpoint,
// which the endpoint builder makes two seconds later, during the retry run after the event.
TEST_F(EndpointRecovery, LateEndpointBuilderAfterADriverInstall) {
    StartService();
    ASSERT_TRUE(sim::audio::UnplugRenderDevice(VirtualId));
    Settle();
    sim::audio::SetLateEndpointBuilder(true);
    PlugVirtual();
    Settle();
    ExpectMirroring(0.375f);
}

TEST_F(EndpointRecovery, AudioServiceRestarted) {
    StartService();
    sim::audio::RestartAudioService();
    Settle();
    EXPECT_EQ(RecoveryControls(), 1);
    // The watcher's first client went silent with the old service; its new one hears this.
    ASSERT_TRUE(sim::audio::SetEndpointState(VirtualId, DEVICE_STATE_UNPLUGGED));
    ASSERT_TRUE(sim::audio::SetEndpointState(VirtualId, DEVICE_STATE_ACTIVE));
    Settle();
    ExpectMirroring(0.125f);
}

// The stop comes while the handler runs a recovery, and the watcher is inside the control that
// brought it there: the stop waits for no one, the flag's last write is 0, nothing stays open.
TEST_F(EndpointRecovery, StopDuringARecovery) {
    StartService();
    sim::PauseAt("GetVersionExW");
    ASSERT_TRUE(sim::audio::SetEndpointState(VirtualId, DEVICE_STATE_DISABLED));
    ASSERT_TRUE(sim::WaitUntilPaused("GetVersionExW"));
    std::thread stop([this] { StopService(); });
    sim::Resume("GetVersionExW");
    stop.join();
    EXPECT_EQ(LastFlag(), "0");
}

} // namespace
