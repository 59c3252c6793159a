// Starting, stopping and rebuilding the endpoint sync, called directly on one COM thread.
#include "endpoint_sync_devices.h"

#include "platform/com.h"
#include "platform/sim/com.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace sync_test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

class EndpointSync : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(platform::CoInitialize(nullptr), S_OK);
        AddOtherRenderDevices();
    }

    // Every test leaves the process-wide slots empty and the machine clean.
    void TearDown() override {
        StopEndpointSync();
        platform::CoUninitialize();
        EXPECT_TRUE(sim::audio::WaitIdle());
        EXPECT_EQ(sim::audio::LiveObjects(), 0u);
        EXPECT_EQ(sim::audio::Registrations(HardwareId), 0u);
        EXPECT_EQ(sim::audio::Registrations(VirtualId), 0u);
        EXPECT_EQ(sim::ks::OpenFilterHandles(), 0u);
        EXPECT_EQ(sim::ks::OpenDeviceInfoSets(), 0u);
        EXPECT_THAT(sim::Faults(), ::testing::IsEmpty());
    }
};

TEST_F(EndpointSync, StartMakesItsEffectsInOrder) {
    PlugHardware();
    PlugVirtual();
    sim::ClearJournal();
    StartEndpointSync();

    ASSERT_TRUE(Running());
    auto positions = InOrder({EnumeratorCreated, Bound(Hardware), Bound(Virtual),
                              Registered(Virtual), Registered(Hardware), FlagOn,
                              "GetMasterVolumeLevelScalar " + Hardware, EnumeratorReleased});
    EXPECT_THAT(positions, Not(Contains(-1)));
    // The copy's writes all come after the flag, and the enumerator goes after the last of them.
    auto journal = Untagged();
    std::string lastCopy = "SetChannelVolumeLevelScalar " + Virtual + " 1 0.75 " + SyncContext;
    auto copy = std::find(journal.begin(), journal.end(), lastCopy);
    ASSERT_NE(copy, journal.end());
    EXPECT_GT(copy - journal.begin(), positions[5]);
    EXPECT_LT(copy - journal.begin(), positions[7]);
    EXPECT_EQ(Count(EnumeratorCreated), 1);
    EXPECT_EQ(Count(EnumeratorReleased), 1);
    EXPECT_EQ(sim::audio::LiveObjects("IMMDeviceEnumerator"), 0u);

    EXPECT_TRUE(
        SameSettings(sim::audio::ReadEndpoint(VirtualId), sim::audio::ReadEndpoint(HardwareId)));
    EXPECT_FLOAT_EQ(sim::audio::ReadEndpoint(HardwareId).masterLevel, 0.75f);
    EXPECT_EQ(sim::audio::Registrations(HardwareId), 1u);
    EXPECT_EQ(sim::audio::Registrations(VirtualId), 1u);
    EXPECT_EQ(sim::ks::SyncActive(VirtualPath), 1u);
}

// The copy's echoes reach the virtual-to-hardware callback marked as ours: nothing is written back.
TEST_F(EndpointSync, StartCopyIsNotMirroredBack) {
    PlugHardware();
    PlugVirtual();
    StartEndpointSync();
    ASSERT_TRUE(sim::audio::WaitIdle());
    EXPECT_THAT(sim::audio::SetCalls(HardwareId), ::testing::IsEmpty());
    EXPECT_EQ(sim::audio::SetCalls(VirtualId).size(), 4u); // master, mute, two channels
}

TEST_F(EndpointSync, StartWithoutDriverFilterStillRuns) {
    sim::audio::AddRenderDevice(HardwareDevice());
    sim::audio::AddRenderDevice(VirtualDevice());
    StartEndpointSync();
    EXPECT_TRUE(Running());
    EXPECT_TRUE(sim::ks::Requests().empty());
    EXPECT_TRUE(
        SameSettings(sim::audio::ReadEndpoint(VirtualId), sim::audio::ReadEndpoint(HardwareId)));
}

// A callback whose registration failed, or a copy that cannot read, leave the sync running.
TEST_F(EndpointSync, LaterStepFailuresLeaveItRunning) {
    PlugHardware();
    PlugVirtual();
    sim::audio::FailCall(VirtualId, "RegisterControlChangeNotify", E_OUTOFMEMORY, 1);
    sim::audio::FailCall(HardwareId, "GetChannelCount", E_FAIL, 1);
    StartEndpointSync();
    EXPECT_TRUE(Running());
    EXPECT_THAT(DriverFlags(), ElementsAre("1"));
    EXPECT_EQ(sim::audio::Registrations(VirtualId), 0u);
    EXPECT_EQ(sim::audio::Registrations(HardwareId), 1u);
    // The callback that never registered is unregistered all the same; the failure is not looked
    // at.
    StopEndpointSync();
    EXPECT_THAT(sim::JournalWith(Unregistered(Virtual)),
                ElementsAre(::testing::HasSubstr("-> 0x80070057")));
    EXPECT_TRUE(Idle());
    EXPECT_THAT(DriverFlags(), ElementsAre("1", "0"));
}

TEST_F(EndpointSync, StopOnIdleOnlyClearsTheFlag) {
    PlugHardware();
    PlugVirtual();
    sim::ClearJournal();
    StopEndpointSync();
    EXPECT_TRUE(Idle());
    EXPECT_THAT(DriverFlags(), ElementsAre("0"));
    EXPECT_EQ(sim::JournalWith("Unregister").size(), 0u);
    EXPECT_EQ(sim::JournalWith("Release").size(), 0u);
    EXPECT_EQ(sim::JournalWith("CoCreateInstance").size(), 0u);
}

TEST_F(EndpointSync, StopOnIdleWithoutDriverWritesNothing) {
    StopEndpointSync();
    EXPECT_TRUE(sim::ks::Requests().empty());
    EXPECT_EQ(sim::JournalWith("SetupDiGetClassDevsW").size(), 1u);
}

TEST_F(EndpointSync, StopTearsDownInOrder) {
    PlugHardware();
    PlugVirtual();
    StartEndpointSync();
    ASSERT_TRUE(Running());
    sim::ClearJournal();
    StopEndpointSync();

    EXPECT_TRUE(Idle());
    EXPECT_THAT(InOrder({Unregistered(Virtual), Unregistered(Hardware), VolumeReleased(Hardware),
                         DeviceReleased(Hardware), VolumeReleased(Virtual), DeviceReleased(Virtual),
                         FlagOff}),
                Not(Contains(-1)));
    EXPECT_EQ(Count(Unregistered(Virtual)), 1);
    EXPECT_EQ(Count(Unregistered(Hardware)), 1);
    EXPECT_THAT(DriverFlags(), ElementsAre("0"));
    EXPECT_EQ(sim::audio::LiveObjects(), 0u);
    // A second stop finds nothing to destroy.
    StopEndpointSync();
    EXPECT_EQ(Count(Unregistered(Virtual)), 1);
}

// A rebuild with both devices present ends running, the virtual endpoint set from the hardware's.
TEST_F(EndpointSync, RestartOverwritesTheVirtualEndpoint) {
    PlugHardware();
    PlugVirtual();
    StartEndpointSync();
    StopEndpointSync();
    // Not mirrored: the sync is down.
    ASSERT_EQ(sim::audio::UserSetMasterLevel(VirtualId, 0.0625f), S_OK);
    ASSERT_EQ(sim::audio::UserSetMute(VirtualId, FALSE), S_OK);
    ASSERT_TRUE(sim::audio::WaitIdle());
    EXPECT_FALSE(
        SameSettings(sim::audio::ReadEndpoint(VirtualId), sim::audio::ReadEndpoint(HardwareId)));
    sim::ClearJournal();
    RestartEndpointSync();
    EXPECT_TRUE(Running());
    EXPECT_THAT(DriverFlags(), ElementsAre("0", "1"));
    EXPECT_TRUE(
        SameSettings(sim::audio::ReadEndpoint(VirtualId), sim::audio::ReadEndpoint(HardwareId)));
}

// The endpoint of the virtual device goes while its driver's filter stays (say, the endpoint was
// disabled): the rebuild ends idle with the flag at 0.
TEST_F(EndpointSync, RestartWithoutVirtualEndpointEndsIdleWithFlagCleared) {
    PlugHardware();
    PlugVirtual();
    StartEndpointSync();
    ASSERT_TRUE(Running());
    IAudioEndpointVolume* oldVolume = VirtualEndpoint->endpointVolume.get();
    ASSERT_TRUE(sim::audio::RemoveRenderDevice(VirtualId));
    RestartEndpointSync();
    EXPECT_TRUE(Idle());
    EXPECT_THAT(DriverFlags(), ElementsAre("1", "0"));
    EXPECT_EQ(sim::ks::SyncActive(VirtualPath), 0u);
    // The invalidated endpoint's objects were let go like any other.
    EXPECT_EQ(sim::audio::RefCount(oldVolume), 0u);
}

TEST_F(EndpointSync, BeginAndEndWrapTheCallingThreadsApartment) {
    PlugHardware();
    PlugVirtual();
    // The fixture opened an apartment on this thread; Begin and End nest one more.
    auto before = sim::com::Counts(sim::ThreadName());
    BeginEndpointSync();
    EXPECT_TRUE(Running());
    EXPECT_THAT(InOrder({"CoInitialize", EnumeratorCreated}), Not(Contains(-1)));
    EndEndpointSync();
    EXPECT_TRUE(Idle());
    EXPECT_THAT(InOrder({FlagOff, "CoUninitialize"}), Not(Contains(-1)));
    auto after = sim::com::Counts(sim::ThreadName());
    EXPECT_EQ(after.initialize - before.initialize, 1);
    EXPECT_EQ(after.uninitialize - before.uninitialize, 1);
    EXPECT_TRUE(sim::com::Initialized()); // the fixture's own apartment is still open
}

} // namespace
