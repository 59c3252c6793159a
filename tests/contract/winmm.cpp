// Contract cases of winmm's mixers: devices and their capabilities, opening with a window
// callback, lines, controls, control values, change messages to the windows, and closed handles.
#include "contract.h"
#include "contract_window.h"
#include "winmm_fixture.h"

#include "platform/winmm.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>

namespace {

using contract::RecordingClass;

// With MIXER_GETLINEINFOF_DESTINATION, MIXER_GETLINECONTROLSF_ALL or the _VALUE queries (all 0).
constexpr DWORD ByHandle = MIXER_OBJECTF_HMIXER;

std::u16string Name(const WCHAR* text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text));
}

// The identifier of the mixer whose product name is name, or -1.
int FindMixer(const std::u16string& name) {
    for (UINT id = 0; id < platform::mixerGetNumDevs(); ++id) {
        MIXERCAPSW caps{};
        if (platform::mixerGetDevCapsW(id, &caps, sizeof caps) == 0 && Name(caps.szPname) == name) {
            return static_cast<int>(id);
        }
    }
    return -1;
}

// The line's control of the type, as the scan reads them; zero when there is none.
MIXERCONTROLW ControlOf(HMIXER mixer, const MIXERLINEW& line, DWORD type) {
    std::vector<MIXERCONTROLW> controls(line.cControls);
    MIXERLINECONTROLSW request{sizeof request, line.dwLineID,         {0},
                               line.cControls, sizeof(MIXERCONTROLW), controls.data()};
    if (platform::mixerGetLineControlsW(mixer, &request, ByHandle) == MMSYSERR_NOERROR) {
        for (const auto& control : controls) {
            if (control.dwControlType == type) {
                return control;
            }
        }
    }
    return {};
}

MMRESULT Details(bool set, HMIXER handle, DWORD control, std::vector<DWORD>& values) {
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof details;
    details.dwControlID = control;
    details.cChannels = static_cast<DWORD>(values.size());
    details.cbDetails = sizeof(DWORD);
    details.paDetails = values.data();
    return set ? platform::mixerSetControlDetails(handle, &details, ByHandle)
               : platform::mixerGetControlDetailsW(handle, &details, ByHandle);
}

// The virtual device's mixer, open, with its speakers destination and that line's volume and
// mute controls.
class OpenMixer : public ::testing::Test {
  protected:
    void SetUp() override {
        contract::InstallMixers();
        device = static_cast<UINT>(FindMixer(u"Speakers (Orvane)"));
        ASSERT_EQ(platform::mixerOpen(&mixer, device, 0, 0, 0), MMSYSERR_NOERROR);
        speakers.cbStruct = sizeof speakers;
        ASSERT_EQ(platform::mixerGetLineInfoW(mixer, &speakers, ByHandle), MMSYSERR_NOERROR);
        ASSERT_EQ(speakers.dwComponentType,
                  static_cast<DWORD>(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS));
        volume = ControlOf(mixer, speakers, MIXERCONTROL_CONTROLTYPE_VOLUME);
        mute = ControlOf(mixer, speakers, MIXERCONTROL_CONTROLTYPE_MUTE);
        ASSERT_EQ(volume.dwControlType, static_cast<DWORD>(MIXERCONTROL_CONTROLTYPE_VOLUME));
        ASSERT_EQ(mute.dwControlType, static_cast<DWORD>(MIXERCONTROL_CONTROLTYPE_MUTE));
    }
    void TearDown() override {
        EXPECT_TRUE(!mixer || platform::mixerClose(mixer) == MMSYSERR_NOERROR);
    }
    HMIXER OpenWith(HWND window) const {
        HMIXER handle = nullptr;
        EXPECT_EQ(platform::mixerOpen(&handle, device, reinterpret_cast<DWORD_PTR>(window), 0,
                                      CALLBACK_WINDOW),
                  MMSYSERR_NOERROR);
        return handle;
    }

    UINT device = 0;
    HMIXER mixer = nullptr;
    MIXERLINEW speakers{};
    MIXERCONTROLW volume{};
    MIXERCONTROLW mute{};
};

TEST(MixerCapabilities, ProductNamesAreCutToThirtyOneCharacters) {
    contract::InstallMixers();
    // "Speakers (Realtek High Definition Audio)" as the 32 characters of szPname hold it.
    EXPECT_GE(FindMixer(u"Speakers (Realtek High Definiti"), 0);
    EXPECT_GE(FindMixer(u"Speakers (Orvane)"), 0);
    EXPECT_EQ(FindMixer(u"Speakers (Realtek High Definition Audio)"), -1);
}

TEST(MixerCapabilities, OnlyTheSizeGivenIsWritten) {
    contract::InstallMixers();
    MIXERCAPS2W caps;
    std::memset(&caps, 0xCC, sizeof caps);
    auto* record = reinterpret_cast<LPMIXERCAPSW>(&caps);
    EXPECT_EQ(platform::mixerGetDevCapsW(0, record, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.cDestinations, 0xCCCCCCCCu);
    EXPECT_EQ(platform::mixerGetDevCapsW(0, record, sizeof(MIXERCAPSW)), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.cDestinations, 1u);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&caps);
    for (std::size_t i = sizeof(MIXERCAPSW); i < sizeof caps; ++i) {
        EXPECT_EQ(bytes[i], 0xCC) << "byte " << i;
    }
}

TEST(MixerCapabilities, TheWholeRecordCarriesTheProductGuid) {
    CONTRACT_WINE_DIFFERS("mixerGetDevCaps copies up to cbmxcaps bytes, and a MIXERCAPS2W of "
                          "that size carries ProductGuid (learn.microsoft.com, mixerGetDevCaps "
                          "and MIXERCAPS2W); Wine's mixers carry none");
    contract::InstallMixers();
    MIXERCAPS2W caps;
    std::memset(&caps, 0xCC, sizeof caps);
    EXPECT_EQ(platform::mixerGetDevCapsW(static_cast<UINT>(FindMixer(u"Speakers (Orvane)")),
                                         reinterpret_cast<LPMIXERCAPSW>(&caps), sizeof caps),
              MMSYSERR_NOERROR);
    // Wine 8 fills the record past MIXERCAPSW with bytes that are no GUID of the device.
    EXPECT_EQ(platform::SameGuid(caps.ProductGuid, contract::OrvaneProductGuid), contract::OnSim);
}

TEST(MixerOpen, AWindowCallbackMustBeAWindow) {
    contract::InstallMixers();
    HMIXER handle = nullptr;
    EXPECT_EQ(platform::mixerOpen(&handle, 0, 0xDEADBEEF, 0, CALLBACK_WINDOW),
              static_cast<MMRESULT>(MMSYSERR_INVALPARAM));
    RecordingClass windowClass(WIDE("ContractMixerOpenClass"));
    HWND window = windowClass.Create();
    ASSERT_NE(window, nullptr) << platform::GetLastError();
    auto callback = reinterpret_cast<DWORD_PTR>(window);
    EXPECT_EQ(platform::mixerOpen(&handle, 0, callback, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    EXPECT_EQ(platform::mixerClose(handle), MMSYSERR_NOERROR);
    EXPECT_TRUE(platform::DestroyWindow(window));
}

TEST_F(OpenMixer, AnOpenHandleStandsForTheDeviceInCapabilities) {
    MIXERCAPSW byId{};
    MIXERCAPSW byHandle{};
    ASSERT_EQ(platform::mixerGetDevCapsW(device, &byId, sizeof byId), MMSYSERR_NOERROR);
    auto handle = reinterpret_cast<UINT_PTR>(mixer);
    ASSERT_EQ(platform::mixerGetDevCapsW(handle, &byHandle, sizeof byHandle), MMSYSERR_NOERROR);
    EXPECT_EQ(Name(byHandle.szPname), Name(byId.szPname));
    EXPECT_EQ(byHandle.cDestinations, byId.cDestinations);
}

// The scan's path: the speakers destination's sources, the wave output among them, and its
// volume, whose identifier no control of another line shares.
TEST_F(OpenMixer, TheSpeakersLeadToTheWaveOutputSourceAndItsControls) {
    MIXERLINEW wave{};
    for (DWORD s = 0; s < speakers.cConnections; ++s) {
        MIXERLINEW source{};
        source.cbStruct = sizeof source;
        source.dwSource = s;
        ASSERT_EQ(platform::mixerGetLineInfoW(mixer, &source, ByHandle | MIXER_GETLINEINFOF_SOURCE),
                  MMSYSERR_NOERROR);
        EXPECT_NE(source.fdwLine & MIXERLINE_LINEF_SOURCE, 0u);
        if (source.dwComponentType == static_cast<DWORD>(MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT)) {
            wave = source;
        }
    }
    ASSERT_EQ(wave.dwComponentType, static_cast<DWORD>(MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT));
    auto waveVolume = ControlOf(mixer, wave, MIXERCONTROL_CONTROLTYPE_VOLUME);
    EXPECT_EQ(waveVolume.dwControlType, static_cast<DWORD>(MIXERCONTROL_CONTROLTYPE_VOLUME));
    EXPECT_NE(waveVolume.dwControlID, volume.dwControlID);
    EXPECT_NE(waveVolume.dwControlID, mute.dwControlID);
}

// A uniform control takes one channel (MIXERCONTROLDETAILS, learn.microsoft.com); Wine's are.
TEST_F(OpenMixer, WrittenValuesReadBack) {
    DWORD channels = (volume.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : speakers.cChannels;
    std::vector<DWORD> saved(channels);
    std::vector<DWORD> written(channels, 0);
    std::vector<DWORD> read(channels, 0xCCCCCCCC);
    written[0] = 0xFFFF;
    ASSERT_EQ(Details(false, mixer, volume.dwControlID, saved), MMSYSERR_NOERROR);
    ASSERT_EQ(Details(true, mixer, volume.dwControlID, written), MMSYSERR_NOERROR);
    ASSERT_EQ(Details(false, mixer, volume.dwControlID, read), MMSYSERR_NOERROR);
    EXPECT_EQ(read, written);
    EXPECT_EQ(Details(true, mixer, volume.dwControlID, saved), MMSYSERR_NOERROR);

    std::vector<DWORD> muted = {1};
    std::vector<DWORD> state = {0xCCCCCCCC};
    ASSERT_EQ(Details(true, mixer, mute.dwControlID, muted), MMSYSERR_NOERROR);
    ASSERT_EQ(Details(false, mixer, mute.dwControlID, state), MMSYSERR_NOERROR);
    EXPECT_EQ(state, muted);
    muted = {0};
    EXPECT_EQ(Details(true, mixer, mute.dwControlID, muted), MMSYSERR_NOERROR);
}

TEST_F(OpenMixer, AControlTheMixerLacksIsRefused) {
    std::vector<DWORD> values(2, 0);
    EXPECT_EQ(Details(false, mixer, 0x7FFF0000, values),
              static_cast<MMRESULT>(MIXERR_INVALCONTROL));
    EXPECT_EQ(Details(true, mixer, 0x7FFF0000, values), static_cast<MMRESULT>(MIXERR_INVALCONTROL));
}

TEST_F(OpenMixer, AChangeByAnyHandleIsPostedToEveryWindowThatOpenedTheMixer) {
    CONTRACT_WINE_DIFFERS("a mixer opened with CALLBACK_WINDOW posts MM_MIXM_CONTROL_CHANGE, its "
                          "handle and the control, to that window when a control changes "
                          "(learn.microsoft.com, mixerOpen and MM_MIXM_CONTROL_CHANGE); Wine "
                          "posts none");
    RecordingClass windowClass(WIDE("ContractMixerClass"));
    contract::WindowThread first(windowClass);
    contract::WindowThread second(windowClass);
    HMIXER firstHandle = OpenWith(first.hwnd());
    HMIXER secondHandle = OpenWith(second.hwnd());
    std::vector<DWORD> values = {0x1234};
    ASSERT_EQ(Details(true, mixer, volume.dwControlID, values), MMSYSERR_NOERROR);
    first.Finish();
    second.Finish();
    EXPECT_EQ(platform::mixerClose(firstHandle), MMSYSERR_NOERROR);
    EXPECT_EQ(platform::mixerClose(secondHandle), MMSYSERR_NOERROR);

    using Change = std::tuple<HWND, WPARAM, LPARAM>;
    std::vector<Change> changes;
    for (const auto& seen : contract::AllSeen()) {
        if (seen.message == MM_MIXM_CONTROL_CHANGE) {
            changes.emplace_back(seen.hwnd, seen.wParam, seen.lParam);
        }
    }
    auto id = static_cast<LPARAM>(volume.dwControlID);
    std::vector<Change> expected = {{first.hwnd(), reinterpret_cast<WPARAM>(firstHandle), id},
                                    {second.hwnd(), reinterpret_cast<WPARAM>(secondHandle), id}};
    if (!contract::OnSim) {
        expected.clear();
    }
    std::sort(changes.begin(), changes.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(changes, expected);
}

TEST_F(OpenMixer, AClosedHandleFailsEveryCall) {
    CONTRACT_WINE_DIFFERS("every mixer call on an invalid handle answers MMSYSERR_INVALHANDLE "
                          "(learn.microsoft.com, mixerGetDevCaps, mixerGetLineInfo, "
                          "mixerGetControlDetails, mixerClose); Wine's stay usable after a close");
    contract::ExpectMisuse();
    HMIXER closed = std::exchange(mixer, nullptr);
    ASSERT_EQ(platform::mixerClose(closed), MMSYSERR_NOERROR);
    const auto Invalid = contract::WindowsOrWine<MMRESULT>(MMSYSERR_INVALHANDLE, MMSYSERR_NOERROR);
    EXPECT_EQ(platform::mixerGetLineInfoW(closed, &speakers, ByHandle), Invalid);
    EXPECT_EQ(ControlOf(closed, speakers, MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlType,
              contract::WindowsOrWine<DWORD>(0, MIXERCONTROL_CONTROLTYPE_VOLUME));
    std::vector<DWORD> values(speakers.cChannels, 0);
    EXPECT_EQ(Details(false, closed, volume.dwControlID, values), Invalid);
    EXPECT_EQ(Details(true, closed, volume.dwControlID, values), Invalid);
    MIXERCAPSW caps{};
    EXPECT_EQ(platform::mixerGetDevCapsW(reinterpret_cast<UINT_PTR>(closed), &caps, sizeof caps),
              Invalid);
    EXPECT_EQ(platform::mixerClose(closed), Invalid);
}

} // namespace
