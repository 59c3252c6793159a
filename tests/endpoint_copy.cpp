// CopyEndpointVolume: the one-way start copy from the hardware endpoint to the virtual endpoint.
#include "endpoint_fixture.h"

namespace endpoint_test {
namespace {

const std::string Virt = sim::Narrow(VirtualId);

class CopyTest : public EndpointTest {
  protected:
    void SetUp() override {
        EndpointTest::SetUp();
        sim::audio::AddRenderDevice(
            {.description = WIDE("Speakers (Realtek High Definition Audio)"),
             .module = HardwareId,
             .masterLevel = 0.75f,
             .muted = TRUE,
             .channelLevels = {0.5f, 0.75f}});
        sim::audio::AddRenderDevice({.description = VirtualPrimary,
                                     .module = VirtualId,
                                     .masterLevel = 1.0f,
                                     .channelLevels = {1.0f, 1.0f}});
        hardware = Bind(HardwarePrimary, HardwareSecondary);
        virtualDevice = Bind(VirtualPrimary, NoName);
        before = sim::audio::ReadEndpoint(HardwareId);
    }
    void TearDown() override {
        // The copy only reads the hardware endpoint.
        EXPECT_TRUE(sim::audio::SetCalls(HardwareId).empty());
        sim::audio::EndpointState after = sim::audio::ReadEndpoint(HardwareId);
        EXPECT_EQ(after.masterLevel, before.masterLevel);
        EXPECT_EQ(after.muted, before.muted);
        EXPECT_EQ(after.channelLevels, before.channelLevels);
        virtualDevice.reset();
        hardware.reset();
        EndpointTest::TearDown();
    }

    BoundEndpoint hardware;
    BoundEndpoint virtualDevice;
    sim::audio::EndpointState before;
};

TEST_F(CopyTest, WritesMasterMuteThenChannels) {
    CopyEndpointVolume(hardware.get(), virtualDevice.get());
    EXPECT_EQ(sim::audio::SetCalls(VirtualId),
              (std::vector<std::string>{
                  "SetMasterVolumeLevelScalar " + Virt + " 0.75 " + SyncContext,
                  "SetMute " + Virt + " 1 " + SyncContext,
                  "SetChannelVolumeLevelScalar " + Virt + " 0 0.5 " + SyncContext,
                  "SetChannelVolumeLevelScalar " + Virt + " 1 0.75 " + SyncContext}));
    sim::audio::EndpointState copied = sim::audio::ReadEndpoint(VirtualId);
    EXPECT_EQ(copied.masterLevel, 0.75f);
    EXPECT_EQ(copied.muted, TRUE);
    EXPECT_EQ(copied.channelLevels, (std::vector<float>{0.5f, 0.75f}));
}

struct FailedRead {
    const char* call;
    int skip;
    std::size_t writes;
    float masterLevel;
    BOOL muted;
    std::vector<float> channelLevels;
};

void PrintTo(const FailedRead& test, std::ostream* out) {
    *out << test.call << " after " << test.skip;
}

class FailedReadTest : public CopyTest, public ::testing::WithParamInterface<FailedRead> {};

TEST_P(FailedReadTest, LeavesOnlyItsOwnWriteOut) {
    const FailedRead& read = GetParam();
    sim::audio::FailCall(HardwareId, read.call, E_OUTOFMEMORY, 1, read.skip);
    CopyEndpointVolume(hardware.get(), virtualDevice.get());
    EXPECT_EQ(sim::audio::SetCalls(VirtualId).size(), read.writes);
    sim::audio::EndpointState copied = sim::audio::ReadEndpoint(VirtualId);
    EXPECT_EQ(copied.masterLevel, read.masterLevel);
    EXPECT_EQ(copied.muted, read.muted);
    EXPECT_EQ(copied.channelLevels, read.channelLevels);
}

INSTANTIATE_TEST_SUITE_P(
    Reads, FailedReadTest,
    ::testing::Values(FailedRead{"GetMasterVolumeLevelScalar", 0, 3, 0.75f, TRUE, {0.5f, 0.75f}},
                      FailedRead{"GetMute", 0, 3, 0.75f, FALSE, {0.5f, 0.75f}},
                      FailedRead{"GetChannelCount", 0, 2, 0.75f, TRUE, {0.75f, 0.75f}},
                      FailedRead{"GetChannelVolumeLevelScalar", 0, 3, 0.75f, TRUE, {0.75f, 0.75f}},
                      FailedRead{"GetChannelVolumeLevelScalar", 1, 3, 0.75f, TRUE, {0.5f, 0.75f}}),
    [](const auto& info) {
        return std::string(info.param.call) + std::to_string(info.param.skip);
    });

TEST_F(CopyTest, FailedWriteDoesNotStopTheCopy) {
    sim::audio::FailCall(VirtualId, "SetMasterVolumeLevelScalar", E_OUTOFMEMORY);
    CopyEndpointVolume(hardware.get(), virtualDevice.get());
    EXPECT_EQ(sim::audio::SetCalls(VirtualId).size(), 4u);
    sim::audio::EndpointState copied = sim::audio::ReadEndpoint(VirtualId);
    EXPECT_EQ(copied.masterLevel, 0.75f);
    EXPECT_EQ(copied.muted, TRUE);
    EXPECT_EQ(copied.channelLevels, (std::vector<float>{0.5f, 0.75f}));
}

} // namespace
} // namespace endpoint_test
