// Both directions at once, as the endpoint sync runs them: a change on either endpoint reaches the
// other through the audio system's threads, and the mirrored writes are not mirrored back.
#include "endpoint_fixture.h"

namespace endpoint_test {
namespace {

const std::string Hw = sim::Narrow(HardwareId);
const std::string Virt = sim::Narrow(VirtualId);

class RoundTripTest : public EndpointTest {
  protected:
    void SetUp() override {
        EndpointTest::SetUp();
        AddDevice(WIDE("Speakers (Realtek High Definition Audio)"), HardwareId);
        AddDevice(VirtualPrimary, VirtualId);
        hardware = Bind(HardwarePrimary, HardwareSecondary);
        virtualDevice = Bind(VirtualPrimary, NoName);
        virtualToHardware = std::make_unique<VolumeChange>(virtualDevice.get(), hardware.get());
        hardwareToVirtual = std::make_unique<VolumeChange>(hardware.get(), virtualDevice.get());
    }
    void TearDown() override {
        virtualToHardware.reset();
        hardwareToVirtual.reset();
        hardware.reset();
        virtualDevice.reset();
        EndpointTest::TearDown();
    }

    // Mirroring runs on audio-system threads only: never on the thread of the change.
    static void ExpectWritesFromAudioThreads() {
        for (const char* call :
             {"SetMute", "SetMasterVolumeLevelScalar", "SetChannelVolumeLevelScalar", "OnNotify"}) {
            for (auto& entry : sim::JournalWith(call)) {
                EXPECT_NE(entry.find("[audio-"), std::string::npos) << entry;
            }
        }
    }

    BoundEndpoint hardware;
    BoundEndpoint virtualDevice;
    std::unique_ptr<VolumeChange> virtualToHardware;
    std::unique_ptr<VolumeChange> hardwareToVirtual;
};

TEST_F(RoundTripTest, UserChangeOnVirtualReachesHardwareOnce) {
    ASSERT_EQ(sim::audio::UserSetMasterLevel(VirtualId, 0.25f), S_OK);
    ASSERT_TRUE(sim::audio::WaitIdle());
    EXPECT_EQ(sim::audio::ReadEndpoint(HardwareId).masterLevel, 0.25f);
    EXPECT_EQ(
        sim::audio::SetCalls(HardwareId),
        (std::vector<std::string>{"SetMute " + Hw + " 0 " + SyncContext,
                                  "SetMasterVolumeLevelScalar " + Hw + " 0.25 " + SyncContext,
                                  "SetChannelVolumeLevelScalar " + Hw + " 0 0.25 " + SyncContext,
                                  "SetChannelVolumeLevelScalar " + Hw + " 1 0.25 " + SyncContext}));
    EXPECT_TRUE(sim::audio::SetCalls(VirtualId).empty());
    // One notification of the user's change, one of the mirrored writes (the only one that changed
    // the hardware: the master carries the channels with it), dropped.
    EXPECT_EQ(Untagged(sim::JournalWith("OnNotify " + Virt)),
              std::vector<std::string>{"OnNotify " + Virt + " " + Context(platform::GUID_NULL)});
    EXPECT_EQ(Untagged(sim::JournalWith("OnNotify " + Hw)),
              std::vector<std::string>{"OnNotify " + Hw + " " + SyncContext});
    ExpectWritesFromAudioThreads();
}

TEST_F(RoundTripTest, UserChangeOnHardwareReachesVirtualOnce) {
    ASSERT_EQ(sim::audio::UserSetMute(HardwareId, TRUE), S_OK);
    ASSERT_EQ(sim::audio::UserSetChannelLevel(HardwareId, 1, 0.5f), S_OK);
    ASSERT_TRUE(sim::audio::WaitIdle());
    sim::audio::EndpointState mirrored = sim::audio::ReadEndpoint(VirtualId);
    EXPECT_EQ(mirrored.muted, TRUE);
    EXPECT_EQ(mirrored.channelLevels, (std::vector<float>{1.0f, 0.5f}));
    EXPECT_EQ(sim::audio::SetCalls(VirtualId).size(), 8u);
    EXPECT_TRUE(sim::audio::SetCalls(HardwareId).empty());
    ExpectWritesFromAudioThreads();
}

// Changes in turn on both sides: each costs exactly one set of writes on the other endpoint.
TEST_F(RoundTripTest, AlternatingChangesNeverEcho) {
    const float levels[] = {0.125f, 0.25f, 0.375f, 0.5f, 0.625f, 0.75f};
    for (std::size_t i = 0; i < std::size(levels); ++i) {
        const platform::WideString& changed = i % 2 ? HardwareId : VirtualId;
        ASSERT_EQ(sim::audio::UserSetMasterLevel(changed, levels[i]), S_OK);
        ASSERT_TRUE(sim::audio::WaitIdle());
        EXPECT_EQ(sim::audio::ReadEndpoint(HardwareId).masterLevel, levels[i]);
        EXPECT_EQ(sim::audio::ReadEndpoint(VirtualId).masterLevel, levels[i]);
    }
    EXPECT_EQ(sim::audio::SetCalls(HardwareId).size(), 12u);
    EXPECT_EQ(sim::audio::SetCalls(VirtualId).size(), 12u);
}

// A change that carries the service's own context is taken as already mirrored.
TEST_F(RoundTripTest, ChangeWithSyncContextIsNotMirrored) {
    ASSERT_EQ(sim::audio::UserSetMasterLevel(VirtualId, 0.5f, VolumeSyncEventContext), S_OK);
    ASSERT_TRUE(sim::audio::WaitIdle());
    EXPECT_EQ(sim::audio::ReadEndpoint(HardwareId).masterLevel, 1.0f);
    EXPECT_TRUE(sim::audio::SetCalls(HardwareId).empty());
}

} // namespace
} // namespace endpoint_test
