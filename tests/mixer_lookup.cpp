// Finding and opening a mixer by product name or product GUID.
#include "mixer/mixer_lookup.h"
#include "mixer_devices.h"

#include "platform/user32.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace mixer_devices;

constexpr GUID Wanted = {
    0x3C1F0A42, 0x51D7, 0x4E0B, {0x9A, 0x61, 0x27, 0x4D, 0x08, 0xB3, 0xC5, 0x6E}};
constexpr GUID Other = {
    0x3C1F0A42, 0x51D7, 0x4E0B, {0x9A, 0x61, 0x27, 0x4D, 0x08, 0xB3, 0xC5, 0x6F}};

class FindMixerTest : public ::testing::Test {
  protected:
    // A real window: mixerOpen refuses a window callback that is no window.
    HWND window = nullptr;

    void SetUp() override {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = platform::DefWindowProcW;
        wc.lpszClassName = WIDE("LookupWnd");
        platform::RegisterClassExW(&wc);
        window = platform::CreateWindowExW(0, WIDE("LookupWnd"), nullptr, 0, 0, 0, 1, 1, nullptr,
                                           nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        sim::ClearJournal();
    }

    static MixerCriteria ByName(LPCWSTR name) {
        MixerCriteria criteria{};
        criteria.byName = 1;
        criteria.name = name;
        return criteria;
    }
    static MixerCriteria ByGuid(const GUID& guid) {
        MixerCriteria criteria{};
        criteria.byName = 0;
        criteria.productGuid = guid;
        return criteria;
    }
    static UINT AddNamed(const platform::WideString& name, const GUID& product = {},
                         const GUID& manufacturer = {}, const GUID& nameGuid = {}) {
        Mixer mixer;
        mixer.name = name;
        mixer.productGuid = product;
        mixer.manufacturerGuid = manufacturer;
        mixer.nameGuid = nameGuid;
        return sim::winmm::AddMixer(mixer);
    }
    // The device that the one open of the search went to, after checking how it was opened.
    UINT OpenedDevice(HMIXER found) const {
        auto opens = sim::winmm::Opens();
        EXPECT_EQ(opens.size(), 1u);
        if (opens.size() != 1) {
            return ~0u;
        }
        EXPECT_EQ(found, opens[0].handle);
        EXPECT_EQ(opens[0].callback, reinterpret_cast<DWORD_PTR>(window));
        EXPECT_EQ(opens[0].instance, 0u);
        EXPECT_EQ(opens[0].flags, static_cast<DWORD>(CALLBACK_WINDOW));
        return opens[0].device;
    }
    void TearDown() override {
        for (const auto& open : sim::winmm::Opens()) {
            if (!open.closed) {
                platform::mixerClose(open.handle);
            }
        }
        EXPECT_EQ(sim::Faults(), std::vector<std::string>{});
    }
};

TEST_F(FindMixerTest, WithoutDevicesOpensNothing) {
    EXPECT_EQ(FindMixer(window, ByName(WIDE("Realtek HD Audio output"))), nullptr);
    EXPECT_EQ(FindMixer(window, ByGuid(Wanted)), nullptr);
    EXPECT_TRUE(sim::JournalWith("mixerGetDevCapsW").empty());
    EXPECT_TRUE(sim::JournalWith("mixerOpen").empty());
}

TEST_F(FindMixerTest, OpensTheFirstOfTwoMatchesWithTheWindowAndLooksNoFurther) {
    AddNamed(WIDE("Orvane"));
    AddNamed(WIDE("Realtek HD Audio output"));
    AddNamed(WIDE("Realtek HD Audio output"));

    HMIXER found = FindMixer(window, ByName(WIDE("Realtek HD Audio output")));
    std::ostringstream callback;
    callback << "callback=0x" << std::uppercase << std::hex
             << reinterpret_cast<std::uintptr_t>(window);

    ASSERT_NE(found, nullptr);
    EXPECT_EQ(OpenedDevice(found), 1u);
    EXPECT_EQ(sim::Journal(),
              (std::vector<std::string>{
                  "mixerGetNumDevs -> 3 [test]",
                  "mixerGetDevCapsW id=0 cb=128 -> 0 [test]",
                  "mixerGetDevCapsW id=1 cb=128 -> 0 [test]",
                  "mixerOpen id=1 " + callback.str() + " instance=0 flags=0x10000 -> 0 [test]",
              }));
}

TEST_F(FindMixerTest, FailedOpenOfTheFirstMatchEndsTheSearch) {
    AddNamed(WIDE("Orvane"), Other);
    AddNamed(WIDE("Orvane"), Wanted);
    AddNamed(WIDE("Orvane"), Wanted);
    sim::winmm::FailMixerCall(1, "mixerOpen", {}, MMSYSERR_ALLOCATED);

    EXPECT_EQ(FindMixer(window, ByGuid(Wanted)), nullptr);

    auto opens = sim::JournalWith("mixerOpen");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_NE(opens[0].find("mixerOpen id=1 "), std::string::npos) << opens[0];
    EXPECT_EQ(sim::winmm::OpenMixerHandles(), 0u);
}

TEST_F(FindMixerTest, DeviceWhoseCapabilitiesFailMatchesNothingAndTheSearchGoesOn) {
    AddNamed(WIDE("Realtek HD Audio output"), Wanted);
    AddNamed(WIDE("Realtek HD Audio output"), Wanted);
    sim::winmm::FailMixerCall(0, "mixerGetDevCapsW");

    EXPECT_EQ(OpenedDevice(FindMixer(window, ByGuid(Wanted))), 1u);
}

TEST_F(FindMixerTest, NameMatchesAsAWholeWithoutRegardToCase) {
    AddNamed(WIDE("Realtek HD Audio output rear"));
    AddNamed(WIDE("Realtek HD Audio outpu"));
    AddNamed(WIDE("REALTEK hd AUDIO Output"));

    EXPECT_EQ(OpenedDevice(FindMixer(window, ByName(WIDE("Realtek HD Audio output")))), 2u);
}

TEST_F(FindMixerTest, NameMatchesTheThirtyOneCharactersADeviceReports) {
    AddNamed(WIDE("Speakers (Realtek High Definition Audio)"));

    EXPECT_EQ(FindMixer(window, ByName(WIDE("Speakers (Realtek High Definition Audio)"))), nullptr);
    EXPECT_EQ(OpenedDevice(FindMixer(window, ByName(WIDE("speakers (realtek high definiti")))), 0u);
}

TEST_F(FindMixerTest, GuidMatchesOnlyTheProductGuid) {
    AddNamed(WIDE("Orvane"), Other, Wanted, Wanted);
    AddNamed(WIDE("Orvane"), Wanted);

    EXPECT_EQ(OpenedDevice(FindMixer(window, ByGuid(Wanted))), 1u);
}

TEST_F(FindMixerTest, DeviceWithoutProductGuidNeverMatches) {
    AddNamed(WIDE("Orvane"));
    AddNamed(WIDE("Orvane"), GUID{}, Wanted, Wanted);

    EXPECT_EQ(FindMixer(window, ByGuid(Wanted)), nullptr);
    EXPECT_TRUE(sim::JournalWith("mixerOpen").empty());
}

} // namespace
