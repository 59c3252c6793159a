// The endpoint sync as the service starts it: the order of its effects, volume mirrored both ways
// without echoes, and a start that cannot build it.
#include "scenario_endpoint_service.h"

namespace {

using namespace scenario_endpoint;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST_F(EndpointService, StartsWithBothDevicesInOrder) {
    PlugHardware();
    PlugVirtual();
    StartService();

    EXPECT_TRUE(Running());
    // The whole start runs on the service main thread, before the device registration and the
    // running report.
    std::vector<std::string> steps = {
        "CoInitialize [service]",
        EnumeratorCreated + " [service]",
        Bound(Hardware) + " [service]",
        Bound(Virtual) + " [service]",
        Registered(Virtual) + " [service]",
        Registered(Hardware) + " [service]",
        FlagOn + " [service]",
        "SetMasterVolumeLevelScalar " + Virtual + " 0.75 " + SyncContext + " [service]",
        "SetMute " + Virtual + " 1 " + SyncContext + " [service]",
        "SetChannelVolumeLevelScalar " + Virtual + " 0 0.5 " + SyncContext + " [service]",
        "SetChannelVolumeLevelScalar " + Virtual + " 1 0.75 " + SyncContext + " [service]",
        EnumeratorReleased + " [service]",
        "RegisterDeviceNotificationW " + sim::FormatGuid(platform::KSCATEGORY_RENDER) +
            " flags=1 [service]",
        "SetServiceStatus SERVICE_RUNNING [service]"};
    auto journal = sim::Journal();
    auto from = journal.begin();
    for (auto& step : steps) {
        auto found = std::find(from, journal.end(), step);
        ASSERT_NE(found, journal.end()) << "missing, or out of order: " << step;
        from = found + 1;
    }
    EXPECT_TRUE(
        SameSettings(sim::audio::ReadEndpoint(VirtualId), sim::audio::ReadEndpoint(HardwareId)));
    EXPECT_EQ(sim::ks::SyncActive(VirtualPath), 1u);

    StopService();
    EXPECT_THAT(DriverFlags(), ElementsAre("1", "0"));
}

// A user change on either device arrives on the other, written on the audio system's thread with
// the service's context; the mirrored writes are not mirrored back.
TEST_F(EndpointService, MirrorsUserChangesBothWaysWithoutEcho) {
    PlugHardware();
    PlugVirtual();
    StartService();
    ASSERT_TRUE(sim::audio::WaitIdle());
    std::size_t hardwareWrites = sim::audio::SetCalls(HardwareId).size();
    std::size_t virtualWrites = sim::audio::SetCalls(VirtualId).size();

    ASSERT_EQ(sim::audio::UserSetMasterLevel(VirtualId, 0.375f), S_OK);
    ASSERT_TRUE(sim::audio::WaitIdle());
    auto hardware = sim::audio::ReadEndpoint(HardwareId);
    EXPECT_FLOAT_EQ(hardware.masterLevel, 0.375f);
    auto written = sim::audio::SetCalls(HardwareId);
    ASSERT_EQ(written.size(), hardwareWrites + 4); // mute, master, two channels
    EXPECT_EQ(written[hardwareWrites + 1],
              "SetMasterVolumeLevelScalar " + Hardware + " 0.375 " + SyncContext);
    EXPECT_EQ(sim::audio::SetCalls(VirtualId).size(), virtualWrites);
    EXPECT_THAT(sim::JournalWith("SetMasterVolumeLevelScalar " + Hardware + " 0.375"),
                ElementsAre(::testing::HasSubstr("[audio-")));

    ASSERT_EQ(sim::audio::UserSetChannelLevel(HardwareId, 1, 0.0625f), S_OK);
    ASSERT_EQ(sim::audio::UserSetMute(HardwareId, FALSE), S_OK);
    ASSERT_TRUE(sim::audio::WaitIdle());
    EXPECT_TRUE(
        SameSettings(sim::audio::ReadEndpoint(VirtualId), sim::audio::ReadEndpoint(HardwareId)));
    EXPECT_EQ(sim::audio::SetCalls(VirtualId).size(), virtualWrites + 8);
    EXPECT_EQ(sim::audio::SetCalls(HardwareId).size(), hardwareWrites + 4);
}

// Memory runs out while the start allocates its second callback: nothing leaves the service main
// thread, the service runs idle, and the next device event builds the sync.
TEST_F(EndpointService, MemoryExhaustedThenRebuilt) {
    PlugHardware();
    PlugVirtual();
    sim::FailCall("AllocateObject", 1, 3);
    StartService();
    EXPECT_TRUE(Idle());
    EXPECT_THAT(DriverFlags(), IsEmpty());
    EXPECT_EQ(sim::audio::LiveObjects(), WatcherObjects);
    RaiseRenderEvent(DBT_DEVNODES_CHANGED);
    EXPECT_TRUE(Running());
    EXPECT_THAT(DriverFlags(), ElementsAre("0", "1"));
}

} // namespace
