// Contract cases of winmm's mixers: devices and their capabilities, opening with a window
// callback, lines, controls, control values, change messages to the windows, and closed handles.
#include "contract.h"
#include "contract_window.h"
#include "winmm_fixture.h"

#include "platform/winmm.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

namespace {

using contract::RecordingClass;

// With MIXER_GETLINEINFOF_DESTINATION, MIXER_GETLINECONTROLSF_ALL or the _VALUE queries (all 0).
constexpr DWORD ByHandle = MIXER_OBJECTF_HMIXER;

std::u16string Name(const WCHAR* text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text));
}

// The identifier of the mixer whose product name is name, or -1.
int FindMixer(const std::u16string& name) {
    UINT count = platform::mixerGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        MIXERCAPSW caps{};
        if (platform::mixerGetDevCapsW(id, &caps, sizeof caps) == MMSYSERR_NOERROR &&
            Name(caps.szPname) == name) {
            return static_cast<int>(id);
        }
    }
    return -1;
}

// The line's controls, as the scan reads them; empty when the query fails.
std::vector<MIXERCONTROLW> Controls(HMIXER mixer, const MIXERLINEW& line) {
    std::vector<MIXERCONTROLW> controls(line.cControls);
    MIXERLINECONTROLSW request{};
    request.cbStruct = sizeof request;
    request.dwLineID = line.dwLineID;
    request.cControls = line.cControls;
    request.cbmxctrl = sizeof(MIXERCONTROLW);
    request.pamxctrl = controls.data();
    if (platform::mixerGetLineControlsW(mixer, &request, ByHandle) != MMSYSERR_NOERROR) {
        controls.clear();
    }
    return controls;
}

MIXERCONTROLW OfType(const std::vector<MIXERCONTROLW>& controls, DWORD type) {
    auto found = std::find_if(controls.begin(), controls.end(), [type](const auto& control) {
        return control.dwControlType == type;
    });
    return found == controls.end() ? MIXERCONTROLW{} : *found;
}

// The virtual device's mixer, open, with its speakers destination and that line's volume and
// mute controls.
class OpenMixer : public ::testing::Test {
  protected:
    void SetUp() override {
        contract::InstallMixers();
        device = FindMixer(u"Speakers (Orvane)");
        ASSERT_GE(device, 0);
        ASSERT_EQ(platform::mixerOpen(&mixer, static_cast<UINT>(device), 0, 0, 0),
                  MMSYSERR_NOERROR);
        speakers.cbStruct = sizeof speakers;
        ASSERT_EQ(platform::mixerGetLineInfoW(mixer, &speakers, ByHandle), MMSYSERR_NOERROR);
        ASSERT_EQ(speakers.dwComponentType,
                  static_cast<DWORD>(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS));
        auto controls = Controls(mixer, speakers);
        volume = OfType(controls, MIXERCONTROL_CONTROLTYPE_VOLUME);
        mute = OfType(controls, MIXERCONTROL_CONTROLTYPE_MUTE);
        ASSERT_EQ(volume.dwControlType, static_cast<DWORD>(MIXERCONTROL_CONTROLTYPE_VOLUME));
        ASSERT_EQ(mute.dwControlType, static_cast<DWORD>(MIXERCONTROL_CONTROLTYPE_MUTE));
    }
    void TearDown() override {
        if (mixer) {
            EXPECT_EQ(platform::mixerClose(mixer), MMSYSERR_NOERROR);
        }
    }

    static MMRESULT Details(bool set, HMIXER handle, DWORD control, std::vector<DWORD>& values) {
        MIXERCONTROLDETAILS details{};
        details.cbStruct = sizeof details;
        details.dwControlID = control;
        details.cChannels = static_cast<DWORD>(values.size());
        details.cbDetails = sizeof(DWORD);
        details.paDetails = values.data();
        return set ? platform::mixerSetControlDetails(handle, &details, ByHandle)
                   : platform::mixerGetControlDetailsW(handle, &details, ByHandle);
    }

    int device = -1;
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
    ASSERT_GT(platform::mixerGetNumDevs(), 0u);
    MIXERCAPS2W caps;
    std::memset(&caps, 0xCC, sizeof caps);
    EXPECT_EQ(platform::mixerGetDevCapsW(0, reinterpret_cast<LPMIXERCAPSW>(&caps), 0),
              MMSYSERR_NOERROR);
    EXPECT_EQ(caps.cDestinations, 0xCCCCCCCCu);

    EXPECT_EQ(
        platform::mixerGetDevCapsW(0, reinterpret_cast<LPMIXERCAPSW>(&caps), sizeof(MIXERCAPSW)),
        MMSYSERR_NOERROR);
    EXPECT_GE(caps.cDestinations, 1u);
    EXPECT_LT(caps.cDestinations, 0xCCCCCCCCu);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&caps);
    for (std::size_t i = sizeof(MIXERCAPSW); i < sizeof caps; ++i) {
        EXPECT_EQ(bytes[i], 0xCC) << "byte " << i;
    }
}

TEST(MixerCapabilities, TheWholeRecordCarriesTheProductGuid) {
    CONTRACT_WINE_DIFFERS("mixerGetDevCaps copies up to cbmxcaps bytes, and a MIXERCAPS2W of "
                          "that size carries ProductGuid (learn.microsoft.com, mixerGetDevCaps "
                          "and MIXERCAPS2W); Wine fills a MIXERCAPSW alone");
    constexpr GUID Product = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
    UINT id = contract::InstallMixerWithProductGuid(Product);
    MIXERCAPS2W caps;
    std::memset(&caps, 0xCC, sizeof caps);
    EXPECT_EQ(platform::mixerGetDevCapsW(id, reinterpret_cast<LPMIXERCAPSW>(&caps), sizeof caps),
              MMSYSERR_NOERROR);
    EXPECT_TRUE(platform::SameGuid(caps.ProductGuid, Product));
}

TEST(MixerCapabilities, BadDeviceAndMissingRecordAreRefused) {
    contract::InstallMixers();
    UINT count = platform::mixerGetNumDevs();
    MIXERCAPSW caps{};
    EXPECT_EQ(platform::mixerGetDevCapsW(count + 1, &caps, sizeof caps),
              static_cast<MMRESULT>(MMSYSERR_BADDEVICEID));
    EXPECT_EQ(platform::mixerGetDevCapsW(0, nullptr, sizeof caps),
              static_cast<MMRESULT>(MMSYSERR_INVALPARAM));
    HMIXER handle = nullptr;
    EXPECT_EQ(platform::mixerOpen(&handle, count + 1, 0, 0, 0),
              static_cast<MMRESULT>(MMSYSERR_BADDEVICEID));
}

TEST(MixerOpen, AWindowCallbackMustBeAWindow) {
    contract::InstallMixers();
    HMIXER handle = nullptr;
    EXPECT_EQ(platform::mixerOpen(&handle, 0, 0xDEADBEEF, 0, CALLBACK_WINDOW),
              static_cast<MMRESULT>(MMSYSERR_INVALPARAM));
    RecordingClass windowClass(WIDE("ContractMixerOpenClass"));
    HWND window = windowClass.Create();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(
        platform::mixerOpen(&handle, 0, reinterpret_cast<DWORD_PTR>(window), 0, CALLBACK_WINDOW),
        MMSYSERR_NOERROR);
    EXPECT_NE(handle, nullptr);
    EXPECT_EQ(platform::mixerClose(handle), MMSYSERR_NOERROR);
    EXPECT_TRUE(platform::DestroyWindow(window));
}

TEST_F(OpenMixer, AnOpenHandleStandsForTheDeviceInCapabilities) {
    MIXERCAPSW byId{};
    MIXERCAPSW byHandle{};
    ASSERT_EQ(platform::mixerGetDevCapsW(static_cast<UINT>(device), &byId, sizeof byId),
              MMSYSERR_NOERROR);
    ASSERT_EQ(
        platform::mixerGetDevCapsW(reinterpret_cast<UINT_PTR>(mixer), &byHandle, sizeof byHandle),
        MMSYSERR_NOERROR);
    EXPECT_EQ(Name(byHandle.szPname), Name(byId.szPname));
    EXPECT_EQ(byHandle.cDestinations, byId.cDestinations);
}

// The scan's path: the speakers destination's sources, the wave output among them, and its
// controls, whose identifiers are the mixer's own (no control of another line shares one).
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
    EXPECT_GE(wave.cChannels, 1u);
    auto controls = Controls(mixer, wave);
    auto waveVolume = OfType(controls, MIXERCONTROL_CONTROLTYPE_VOLUME);
    EXPECT_EQ(waveVolume.dwControlType, static_cast<DWORD>(MIXERCONTROL_CONTROLTYPE_VOLUME));
    EXPECT_NE(waveVolume.dwControlID, volume.dwControlID);
    EXPECT_NE(waveVolume.dwControlID, mute.dwControlID);
}

TEST_F(OpenMixer, LineQueriesOutsideTheMixerAreRefused) {
    MIXERLINEW line{};
    EXPECT_EQ(platform::mixerGetLineInfoW(mixer, &line, ByHandle),
              static_cast<MMRESULT>(MMSYSERR_INVALPARAM)); // cbStruct 0
    line.cbStruct = sizeof line;
    line.dwDestination = 0x100;
    EXPECT_EQ(platform::mixerGetLineInfoW(mixer, &line, ByHandle),
              static_cast<MMRESULT>(MIXERR_INVALLINE));
}

// A uniform control takes one channel (MIXERCONTROLDETAILS, learn.microsoft.com); Wine's are.
TEST_F(OpenMixer, WrittenValuesReadBack) {
    DWORD channels = (volume.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : speakers.cChannels;
    std::vector<DWORD> saved(channels);
    ASSERT_EQ(Details(false, mixer, volume.dwControlID, saved), MMSYSERR_NOERROR);
    std::vector<DWORD> written(channels, 0);
    written[0] = 0xFFFF;
    ASSERT_EQ(Details(true, mixer, volume.dwControlID, written), MMSYSERR_NOERROR);
    std::vector<DWORD> read(channels, 0xCCCCCCCC);
    ASSERT_EQ(Details(false, mixer, volume.dwControlID, read), MMSYSERR_NOERROR);
    EXPECT_EQ(read, written);
    EXPECT_EQ(Details(true, mixer, volume.dwControlID, saved), MMSYSERR_NOERROR);

    std::vector<DWORD> muted = {1};
    ASSERT_EQ(Details(true, mixer, mute.dwControlID, muted), MMSYSERR_NOERROR);
    std::vector<DWORD> state = {0xCCCCCCCC};
    ASSERT_EQ(Details(false, mixer, mute.dwControlID, state), MMSYSERR_NOERROR);
    EXPECT_EQ(state, std::vector<DWORD>{1});
    muted = {0};
    EXPECT_EQ(Details(true, mixer, mute.dwControlID, muted), MMSYSERR_NOERROR);
}

TEST_F(OpenMixer, AControlTheMixerLacksIsRefused) {
    std::vector<DWORD> values(2, 0);
    DWORD missing = 0x7FFF0000;
    EXPECT_EQ(Details(false, mixer, missing, values), static_cast<MMRESULT>(MIXERR_INVALCONTROL));
    EXPECT_EQ(Details(true, mixer, missing, values), static_cast<MMRESULT>(MIXERR_INVALCONTROL));
}

TEST_F(OpenMixer, AChangeByAnyHandleIsPostedToEveryWindowThatOpenedTheMixer) {
    CONTRACT_WINE_DIFFERS("a mixer opened with CALLBACK_WINDOW posts MM_MIXM_CONTROL_CHANGE, its "
                          "handle and the control, to that window when a control changes "
                          "(learn.microsoft.com, mixerOpen and MM_MIXM_CONTROL_CHANGE); Wine "
                          "posts none");
    RecordingClass windowClass(WIDE("ContractMixerClass"));
    contract::WindowThread first(windowClass);
    contract::WindowThread second(windowClass);
    ASSERT_NE(first.hwnd(), nullptr);
    ASSERT_NE(second.hwnd(), nullptr);
    HMIXER firstHandle = nullptr;
    HMIXER secondHandle = nullptr;
    ASSERT_EQ(platform::mixerOpen(&firstHandle, static_cast<UINT>(device),
                                  reinterpret_cast<DWORD_PTR>(first.hwnd()), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    ASSERT_EQ(platform::mixerOpen(&secondHandle, static_cast<UINT>(device),
                                  reinterpret_cast<DWORD_PTR>(second.hwnd()), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    std::vector<DWORD> values(1);
    ASSERT_EQ(Details(false, mixer, volume.dwControlID, values), MMSYSERR_NOERROR);
    values[0] = values[0] == 0xFFFF ? 0 : 0xFFFF;
    ASSERT_EQ(Details(true, mixer, volume.dwControlID, values), MMSYSERR_NOERROR);
    first.Finish();
    second.Finish();
    EXPECT_EQ(platform::mixerClose(firstHandle), MMSYSERR_NOERROR);
    EXPECT_EQ(platform::mixerClose(secondHandle), MMSYSERR_NOERROR);

    std::vector<std::tuple<HWND, WPARAM, LPARAM>> changes;
    for (const auto& seen : contract::AllSeen()) {
        if (seen.message == MM_MIXM_CONTROL_CHANGE) {
            changes.emplace_back(seen.hwnd, seen.wParam, seen.lParam);
        }
    }
    std::sort(changes.begin(), changes.end());
    auto id = static_cast<LPARAM>(volume.dwControlID);
    std::vector<std::tuple<HWND, WPARAM, LPARAM>> expected = {
        {first.hwnd(), reinterpret_cast<WPARAM>(firstHandle), id},
        {second.hwnd(), reinterpret_cast<WPARAM>(secondHandle), id}};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(changes, expected);
}

TEST_F(OpenMixer, AClosedHandleFailsEveryCall) {
    CONTRACT_WINE_DIFFERS("every mixer call on an invalid handle answers MMSYSERR_INVALHANDLE "
                          "(learn.microsoft.com, mixerGetLineInfo, mixerGetControlDetails, "
                          "mixerClose); Wine's handles stay usable after mixerClose");
    HMIXER closed = mixer;
    ASSERT_EQ(platform::mixerClose(closed), MMSYSERR_NOERROR);
    mixer = nullptr;
    MIXERLINEW line{};
    line.cbStruct = sizeof line;
    EXPECT_EQ(platform::mixerGetLineInfoW(closed, &line, ByHandle),
              static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    MIXERCONTROLW control{};
    MIXERLINECONTROLSW request{};
    request.cbStruct = sizeof request;
    request.dwLineID = speakers.dwLineID;
    request.cControls = 1;
    request.cbmxctrl = sizeof control;
    request.pamxctrl = &control;
    EXPECT_EQ(platform::mixerGetLineControlsW(closed, &request, ByHandle),
              static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    std::vector<DWORD> values(speakers.cChannels, 0);
    EXPECT_EQ(Details(false, closed, volume.dwControlID, values),
              static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    EXPECT_EQ(Details(true, closed, volume.dwControlID, values),
              static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    MIXERCAPSW caps{};
    EXPECT_EQ(platform::mixerGetDevCapsW(reinterpret_cast<UINT_PTR>(closed), &caps, sizeof caps),
              static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    EXPECT_EQ(platform::mixerClose(closed), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
}

} // namespace
