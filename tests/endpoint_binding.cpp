// Opening the matched endpoint: the calls made, the references held, and what each failure leaves.
#include "endpoint_fixture.h"

namespace endpoint_test {
namespace {

const std::string Hw = sim::Narrow(HardwareId);

class BindingTest : public EndpointTest {
  protected:
    void SetUp() override {
        EndpointTest::SetUp();
        AddDevice(WIDE("Speakers (Realtek High Definition Audio)"), HardwareId);
        sim::ClearJournal();
    }
};

TEST_F(BindingTest, BoundRecordOwnsOneReferenceOnEachInterface) {
    BoundEndpoint bound = Bind(HardwarePrimary, HardwareSecondary);
    EXPECT_EQ(Untagged(sim::Journal()),
              (std::vector<std::string>{"DirectSoundEnumerateW", "DirectSoundEnumerateW primary",
                                        "DirectSoundEnumerateW entry 0", "GetDevice " + Hw,
                                        "Activate " + Hw + " IAudioEndpointVolume clsctx=23"}));
    EXPECT_EQ(sim::audio::RefCount(bound->device.get()), 1u);
    EXPECT_EQ(sim::audio::RefCount(bound->endpointVolume.get()), 1u);
    // The enumerator is borrowed: no reference taken, none kept.
    EXPECT_EQ(sim::audio::RefCount(enumerator.get()), 1u);

    sim::ClearJournal();
    bound.reset();
    EXPECT_EQ(Untagged(sim::Journal()),
              (std::vector<std::string>{"Release IAudioEndpointVolume " + Hw + " refs=0",
                                        "Release IMMDevice " + Hw + " refs=0"}));
}

// The simulated audio system knows these identifiers only through the code's own constants, so
// they are pinned here as the platform publishes them (mmdeviceapi.h, endpointvolume.h).
TEST(CoreAudioIdentifiers, AreThePlatformsPublishedValues) {
    EXPECT_EQ(sim::FormatGuid(platform::CLSID_MMDeviceEnumerator),
              "{BCDE0395-E52F-467C-8E3D-C4579291692E}");
    EXPECT_EQ(sim::FormatGuid(platform::IID_IMMDeviceEnumerator),
              "{A95664D2-9614-4F35-A746-DE8DB63617E6}");
    EXPECT_EQ(sim::FormatGuid(platform::IID_IAudioEndpointVolume),
              "{5CDF2C82-841E-4546-9722-0CF74078229A}");
}

struct StepFailure {
    const char* name;
    const char* call; // the failing call, or null for a device missing from Core Audio
    HRESULT thrown;
    std::vector<std::string> journal; // after the enumeration, until the HRESULT is thrown
};

void PrintTo(const StepFailure& test, std::ostream* out) {
    *out << test.name;
}

class BindingFailureTest : public BindingTest, public ::testing::WithParamInterface<StepFailure> {};

TEST_P(BindingFailureTest, ThrowsTheStepsResultHoldingNothing) {
    const StepFailure& step = GetParam();
    if (step.call) {
        sim::audio::FailCall(HardwareId, step.call, step.thrown);
    } else {
        sim::audio::RemoveRenderDevice(HardwareId);
        sim::audio::AddRenderDevice(
            {.description = WIDE("Speakers (Realtek High Definition Audio)"),
             .module = HardwareId,
             .endpoint = false});
    }
    EXPECT_EQ(BindFailure(HardwarePrimary, HardwareSecondary), step.thrown);
    std::vector<std::string> journal = Untagged(sim::Journal());
    ASSERT_GE(journal.size(), 3u); // the enumeration, its primary device and the matching entry
    EXPECT_EQ(std::vector<std::string>(journal.begin() + 3, journal.end()), step.journal);
    EXPECT_EQ(sim::audio::LiveObjects("IMMDevice"), 0u);
    EXPECT_EQ(sim::audio::LiveObjects("IAudioEndpointVolume"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, BindingFailureTest,
    ::testing::Values(
        StepFailure{"UnknownEndpoint", nullptr, E_NOTFOUND, {"GetDevice " + Hw + " -> 0x80070490"}},
        StepFailure{
            "GetDevice", "GetDevice", E_OUTOFMEMORY, {"GetDevice " + Hw + " -> 0x8007000E"}},
        StepFailure{"Activate",
                    "Activate",
                    sim::audio::DeviceInvalidated,
                    {"GetDevice " + Hw,
                     "Activate " + Hw + " IAudioEndpointVolume clsctx=23 -> 0x88890004",
                     "Release IMMDevice " + Hw + " refs=0"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace endpoint_test
