// The simulated mixers' handles, values and change notices, as the mixer sync relies on them.
#include "mixer_devices.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using namespace mixer_devices;

HWND Window(std::uintptr_t value) {
    return reinterpret_cast<HWND>(value);
}

HMIXER OpenMixer(UINT device, HWND window, DWORD flags = CALLBACK_WINDOW) {
    HMIXER handle = nullptr;
    EXPECT_EQ(platform::mixerOpen(&handle, device, reinterpret_cast<DWORD_PTR>(window), 0, flags),
              MMSYSERR_NOERROR);
    return handle;
}

MMRESULT Details(bool set, HMIXER mixer, DWORD control, std::vector<DWORD>& values,
                 DWORD cbDetails = 4) {
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof details;
    details.dwControlID = control;
    details.cChannels = static_cast<DWORD>(values.size());
    details.cbDetails = cbDetails;
    details.paDetails = values.data();
    return set ? platform::mixerSetControlDetails(mixer, &details, 0x80000000)
               : platform::mixerGetControlDetailsW(mixer, &details, 0x80000000);
}

using Notice = std::tuple<HWND, HMIXER, DWORD>;

class SimulatedMixers : public ::testing::Test {
  protected:
    void SetUp() override {
        previous =
            sim::winmm::SetControlChangeSink([this](HWND window, HMIXER mixer, DWORD control) {
                notices.emplace_back(window, mixer, control);
            });
    }
    void TearDown() override { sim::winmm::SetControlChangeSink(previous); }

    sim::winmm::ControlChangeSink previous;
    std::vector<Notice> notices;
};

TEST_F(SimulatedMixers, ChangeByAnyHandleIsToldToEveryWindowThatOpenedTheMixer) {
    sim::winmm::AddMixer(CodecMixer());
    sim::winmm::AddMixer(CodecMixer());
    HMIXER first = OpenMixer(0, Window(0xA1));
    HMIXER silent = OpenMixer(0, nullptr, 0);
    HMIXER other = OpenMixer(1, Window(0xC3));
    HMIXER second = OpenMixer(0, Window(0xB2));
    HMIXER closed = OpenMixer(0, Window(0xD4));
    platform::mixerClose(closed);

    std::vector<DWORD> values = {123, 456};
    EXPECT_EQ(Details(true, silent, 10, values), MMSYSERR_NOERROR);
    sim::winmm::UserSetControl(1, 11, {0, 0});

    EXPECT_EQ(notices, (std::vector<Notice>{{Window(0xA1), first, 10},
                                            {Window(0xB2), second, 10},
                                            {Window(0xC3), other, 11}}));
    EXPECT_EQ(sim::winmm::ControlValues(0, 10), (std::vector<DWORD>{123, 456}));
    EXPECT_EQ(sim::winmm::ControlValues(1, 11), (std::vector<DWORD>{0, 0}));
    EXPECT_EQ(sim::winmm::OpenMixerHandles(), 4u);
    for (HMIXER handle : {first, silent, other, second}) {
        platform::mixerClose(handle);
    }
    EXPECT_EQ(sim::winmm::OpenMixerHandles(), 0u);
}

TEST_F(SimulatedMixers, FailedWriteChangesNothingAndTellsNobody) {
    sim::winmm::AddMixer(CodecMixer());
    HMIXER mixer = OpenMixer(0, Window(0xA1));
    sim::winmm::FailMixerCall(0, "mixerSetControlDetails", 10);

    std::vector<DWORD> values = {1, 1};
    EXPECT_EQ(Details(true, mixer, 10, values), static_cast<MMRESULT>(MMSYSERR_ERROR));
    EXPECT_EQ(Details(true, mixer, 12345, values), static_cast<MMRESULT>(MIXERR_INVALCONTROL));

    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(sim::winmm::ControlValues(0, 10), (std::vector<DWORD>{1000, 2000}));
    platform::mixerClose(mixer);
}

TEST_F(SimulatedMixers, ClosedHandleFailsEveryCall) {
    sim::winmm::AddMixer(CodecMixer());
    HMIXER mixer = OpenMixer(0, Window(0xA1));
    ASSERT_EQ(platform::mixerClose(mixer), MMSYSERR_NOERROR);

    MIXERCAPSW caps{};
    MIXERLINEW line{};
    line.cbStruct = sizeof line;
    std::vector<DWORD> values = {0, 0};
    EXPECT_EQ(platform::mixerGetDevCapsW(reinterpret_cast<UINT_PTR>(mixer), &caps, sizeof caps),
              static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    EXPECT_EQ(platform::mixerGetLineInfoW(mixer, &line, 0x80000000),
              static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    EXPECT_EQ(Details(false, mixer, 10, values), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    EXPECT_EQ(Details(true, mixer, 10, values), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    EXPECT_TRUE(sim::Faults().empty());

    EXPECT_EQ(platform::mixerClose(mixer), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    EXPECT_EQ(sim::Faults(), (std::vector<std::string>{"mixerClose: handle closed twice"}));
}

TEST_F(SimulatedMixers, ChannelCountsOtherThanTheLinesAreReadAsOneUniformChannel) {
    sim::winmm::AddMixer(
        MakeMixer({MakeLine(SpeakersDestination, SpeakersLine, {Volume(1, {40, 50})},
                            {MakeLine(WaveOutSource, WaveOutLine, {Volume(10, {70})}, {}, 1)})}));
    HMIXER mixer = OpenMixer(0, Window(0xA1));

    std::vector<DWORD> mono = {0xEE, 0xEE};
    std::vector<DWORD> uniform = {0xEE};
    EXPECT_EQ(Details(false, mixer, 10, mono), MMSYSERR_NOERROR);
    EXPECT_EQ(Details(false, mixer, 1, uniform), MMSYSERR_NOERROR);
    EXPECT_EQ(mono, (std::vector<DWORD>{70, 70}));
    EXPECT_EQ(uniform, (std::vector<DWORD>{40}));

    std::vector<DWORD> both = {90};
    EXPECT_EQ(Details(true, mixer, 1, both), MMSYSERR_NOERROR);
    EXPECT_EQ(sim::winmm::ControlValues(0, 1), (std::vector<DWORD>{90, 90}));
    platform::mixerClose(mixer);
}

TEST_F(SimulatedMixers, MisusedRecordsAreRefusedAndReported) {
    sim::winmm::AddMixer(CodecMixer());
    HMIXER mixer = OpenMixer(0, Window(0xA1));

    std::vector<DWORD> none;
    std::vector<DWORD> values = {0, 0};
    EXPECT_EQ(Details(false, mixer, 10, none), static_cast<MMRESULT>(MMSYSERR_INVALPARAM));
    EXPECT_EQ(Details(false, mixer, 10, values, 8), static_cast<MMRESULT>(MMSYSERR_INVALPARAM));
    MIXERLINEW line{};
    line.cbStruct = 280;
    EXPECT_EQ(platform::mixerGetLineInfoW(mixer, &line, 0x80000000),
              static_cast<MMRESULT>(MMSYSERR_INVALPARAM));
    MIXERLINECONTROLSW request{};
    request.cbStruct = sizeof request;
    request.dwLineID = SpeakersLine;
    request.cbmxctrl = sizeof(MIXERCONTROLW);
    EXPECT_EQ(platform::mixerGetLineControlsW(mixer, &request, 0x80000000),
              static_cast<MMRESULT>(MMSYSERR_INVALPARAM));

    EXPECT_EQ(sim::Faults().size(), 4u);
    platform::mixerClose(mixer);
}

TEST_F(SimulatedMixers, CapabilitiesFitTheSizeAskedFor) {
    Mixer mixer = CodecMixer();
    mixer.productGuid = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    sim::winmm::AddMixer(mixer);
    HMIXER handle = OpenMixer(0, Window(0xA1));

    MIXERCAPS2W full{};
    MIXERCAPS2W prefix;
    std::memset(&prefix, 0xCC, sizeof prefix);
    EXPECT_EQ(platform::mixerGetDevCapsW(0, reinterpret_cast<LPMIXERCAPSW>(&full), sizeof full),
              MMSYSERR_NOERROR);
    EXPECT_EQ(platform::mixerGetDevCapsW(reinterpret_cast<UINT_PTR>(handle),
                                         reinterpret_cast<LPMIXERCAPSW>(&prefix),
                                         sizeof(MIXERCAPSW)),
              MMSYSERR_NOERROR);

    EXPECT_TRUE(platform::SameGuid(full.ProductGuid, mixer.productGuid));
    EXPECT_EQ(sim::Narrow(prefix.szPname), "Realtek HD Audio output");
    EXPECT_EQ(prefix.cDestinations, 2u);
    EXPECT_EQ(prefix.ProductGuid.Data1, 0xCCCCCCCCu);
    platform::mixerClose(handle);
}

TEST_F(SimulatedMixers, HandlesOfARemovedMixerFailUntilClosed) {
    sim::winmm::AddMixer(CodecMixer());
    Mixer second = CodecMixer();
    second.name = WIDE("Orvane");
    sim::winmm::AddMixer(second);
    HMIXER mixer = OpenMixer(0, Window(0xA1));
    sim::winmm::RemoveMixer(0);

    std::vector<DWORD> values = {0, 0};
    EXPECT_EQ(Details(false, mixer, 10, values), static_cast<MMRESULT>(MMSYSERR_NODRIVER));
    EXPECT_EQ(platform::mixerClose(mixer), MMSYSERR_NOERROR);
    EXPECT_EQ(platform::mixerGetNumDevs(), 1u);
    MIXERCAPSW caps{};
    EXPECT_EQ(platform::mixerGetDevCapsW(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_EQ(sim::Narrow(caps.szPname), "Orvane");
}

} // namespace
