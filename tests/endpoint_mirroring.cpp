// VolumeChange on its own: registration, the echo drop, the writes a notification causes, and the
// COM contract of an object that is not reference counted.
#include "endpoint_fixture.h"

#include <cstddef>

namespace endpoint_test {
namespace {

const platform::WideString SourceId = WIDE("{0.0.0.00000000}.{source}");
const platform::WideString TargetId = WIDE("{0.0.0.00000000}.{target}");
const std::string Tgt = sim::Narrow(TargetId);

// A notification as the platform lays it out: the levels continue past the declared field.
class Notification {
  public:
    Notification(const GUID& context, BOOL muted, float master, std::vector<float> levels)
        : memory_(::operator new(offsetof(AUDIO_VOLUME_NOTIFICATION_DATA, afChannelVolumes) +
                                 (levels.empty() ? 1 : levels.size()) * sizeof(float))) {
        data()->guidEventContext = context;
        data()->bMuted = muted;
        data()->fMasterVolume = master;
        data()->nChannels = static_cast<UINT>(levels.size());
        float* channel = data()->afChannelVolumes;
        for (float level : levels) {
            *channel++ = level;
        }
    }
    ~Notification() { ::operator delete(memory_); }
    AUDIO_VOLUME_NOTIFICATION_DATA* data() {
        return static_cast<AUDIO_VOLUME_NOTIFICATION_DATA*>(memory_);
    }

  private:
    void* memory_;
};

class MirroringTest : public EndpointTest {
  protected:
    void SetUp() override {
        EndpointTest::SetUp();
        AddDevice(WIDE("Source Device"), SourceId);
        sim::audio::AddRenderDevice({.description = WIDE("Target Device"),
                                     .module = TargetId,
                                     .masterLevel = 0.75f,
                                     .channelLevels = {0.5f, 0.75f}});
        source = Bind(WIDE("Source"), NoName);
        target = Bind(WIDE("Target"), NoName);
        change = std::make_unique<VolumeChange>(source.get(), target.get());
    }
    void TearDown() override {
        change.reset();
        target.reset();
        source.reset();
        EndpointTest::TearDown();
    }

    HRESULT Notify(const GUID& context, BOOL muted, float master, std::vector<float> levels) {
        Notification notification(context, muted, master, std::move(levels));
        return change->OnNotify(notification.data());
    }

    BoundEndpoint source;
    BoundEndpoint target;
    std::unique_ptr<VolumeChange> change;
};

TEST_F(MirroringTest, RegisteredOnSourceForItsLifetime) {
    EXPECT_EQ(sim::audio::Registrations(SourceId), 1u);
    EXPECT_EQ(sim::audio::Registrations(TargetId), 0u);
    change.reset();
    EXPECT_EQ(sim::audio::Registrations(SourceId), 0u);
    EXPECT_EQ(Untagged(sim::JournalWith("UnregisterControlChangeNotify")),
              std::vector<std::string>{"UnregisterControlChangeNotify " + sim::Narrow(SourceId)});
}

TEST_F(MirroringTest, OwnEventContextWritesNothing) {
    EXPECT_EQ(Notify(VolumeSyncEventContext, TRUE, 0.125f, {0.125f, 0.125f}), S_OK);
    EXPECT_TRUE(sim::audio::SetCalls(TargetId).empty());
    EXPECT_TRUE(sim::audio::SetCalls(SourceId).empty());
}

class ForeignContextTest : public MirroringTest, public ::testing::WithParamInterface<GUID> {};

// Only the mute differs from the target, yet all three kinds are written, in this order.
TEST_P(ForeignContextTest, WritesMuteMasterAndEachChannel) {
    EXPECT_EQ(Notify(GetParam(), TRUE, 0.25f, {0.5f, 0.75f}), S_OK);
    EXPECT_EQ(sim::audio::SetCalls(TargetId),
              (std::vector<std::string>{
                  "SetMute " + Tgt + " 1 " + SyncContext,
                  "SetMasterVolumeLevelScalar " + Tgt + " 0.25 " + SyncContext,
                  "SetChannelVolumeLevelScalar " + Tgt + " 0 0.5 " + SyncContext,
                  "SetChannelVolumeLevelScalar " + Tgt + " 1 0.75 " + SyncContext}));
    EXPECT_TRUE(sim::audio::SetCalls(SourceId).empty());
    EXPECT_EQ(sim::audio::ReadEndpoint(TargetId).muted, TRUE);
}

GUID NearlySync() {
    GUID guid = VolumeSyncEventContext;
    guid.Data4[7] ^= 1;
    return guid;
}

INSTANTIATE_TEST_SUITE_P(Contexts, ForeignContextTest,
                         ::testing::Values(platform::GUID_NULL,
                                           GUID{0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}},
                                           NearlySync()));

TEST_F(MirroringTest, NoChannelsWritesMuteAndMasterOnly) {
    EXPECT_EQ(Notify(platform::GUID_NULL, FALSE, 0.5f, {}), S_OK);
    EXPECT_EQ(
        sim::audio::SetCalls(TargetId),
        (std::vector<std::string>{"SetMute " + Tgt + " 0 " + SyncContext,
                                  "SetMasterVolumeLevelScalar " + Tgt + " 0.5 " + SyncContext}));
}

TEST_F(MirroringTest, FailingWritesDoNotStopLaterOnes) {
    sim::audio::FailCall(TargetId, "SetMute", E_OUTOFMEMORY, 1);
    sim::audio::FailCall(TargetId, "SetChannelVolumeLevelScalar", E_OUTOFMEMORY, 1);
    EXPECT_EQ(Notify(platform::GUID_NULL, TRUE, 0.375f, {0.125f, 0.875f}), S_OK);
    EXPECT_EQ(sim::audio::SetCalls(TargetId).size(), 4u);
    sim::audio::EndpointState state = sim::audio::ReadEndpoint(TargetId);
    EXPECT_EQ(state.muted, FALSE);
    EXPECT_EQ(state.masterLevel, 0.875f);
    EXPECT_EQ(state.channelLevels, (std::vector<float>{0.25f, 0.875f}));
}

// The count comes from the notifying endpoint; writes beyond the target's channels fail quietly.
TEST_F(MirroringTest, MoreChannelsThanTargetAreAllWritten) {
    EXPECT_EQ(Notify(platform::GUID_NULL, FALSE, 1.0f, {0.125f, 0.25f, 0.375f, 0.5f}), S_OK);
    std::vector<std::string> calls = sim::audio::SetCalls(TargetId);
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[4],
              "SetChannelVolumeLevelScalar " + Tgt + " 2 0.375 " + SyncContext + " -> 0x80070057");
    EXPECT_EQ(calls[5],
              "SetChannelVolumeLevelScalar " + Tgt + " 3 0.5 " + SyncContext + " -> 0x80070057");
    EXPECT_EQ(sim::audio::ReadEndpoint(TargetId).channelLevels,
              (std::vector<float>{0.125f, 0.25f}));
}

// IUnknown and IAudioEndpointVolumeCallback as the platform publishes them (Unknwn.h,
// endpointvolume.h), not as the code spells them.
TEST_F(MirroringTest, QueryInterfaceAnswersOnlyItsTwoInterfaces) {
    IAudioEndpointVolumeCallback* self = change.get();
    const GUID unknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    const GUID callback = {
        0x657804FA, 0xD6AD, 0x4496, {0x8A, 0x60, 0x35, 0x27, 0x52, 0xAF, 0x4F, 0x89}};
    for (const GUID& iid : {unknown, callback}) {
        void* out = nullptr;
        EXPECT_EQ(change->QueryInterface(iid, &out), S_OK);
        EXPECT_EQ(out, static_cast<void*>(self));
    }
    GUID nearly = platform::IID_IUnknown;
    nearly.Data4[7] = 0x47;
    for (const GUID& iid : {platform::IID_IAudioEndpointVolume, platform::IID_IMMDeviceEnumerator,
                            nearly, VolumeSyncEventContext}) {
        void* poison = reinterpret_cast<void*>(0x5A5A5A5A);
        void* out = poison;
        EXPECT_EQ(change->QueryInterface(iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, poison);
    }
    EXPECT_EQ(change->QueryInterface(platform::IID_IUnknown, nullptr), E_POINTER);
}

} // namespace
} // namespace endpoint_test
