// Choosing the DirectSound entry: both texts, case, null descriptions, first match, module strings.
#include "endpoint_fixture.h"

namespace endpoint_test {
namespace {

struct MatchCase {
    const char* name;
    std::vector<const WCHAR*> descriptions; // null: an entry without description
    const WCHAR* primary;
    const WCHAR* secondary;
    int matched; // index of the bound entry, -1: none
};

void PrintTo(const MatchCase& test, std::ostream* out) {
    *out << test.name;
}

platform::WideString EntryId(int index) {
    return WIDE("{0.0.0.00000000}.{entry-") + sim::Widen(std::to_string(index)) + WIDE("}");
}

class MatchTest : public EndpointTest, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(MatchTest, BindsTheFirstEntryContainingBothTexts) {
    const MatchCase& test = GetParam();
    for (std::size_t i = 0; i < test.descriptions.size(); ++i) {
        AddDevice(test.descriptions[i], EntryId(static_cast<int>(i)));
    }
    if (test.matched < 0) {
        EXPECT_EQ(BindFailure(test.primary, test.secondary), E_FAIL);
        EXPECT_TRUE(sim::JournalWith("GetDevice").empty());
        EXPECT_EQ(sim::JournalWith("DirectSoundEnumerateW entry").size(), test.descriptions.size());
        return;
    }
    BoundEndpoint bound = Bind(test.primary, test.secondary);
    EXPECT_EQ(sim::Narrow(bound->endpointId), sim::Narrow(EntryId(test.matched)));
    // The enumeration ends at the match: later entries are never examined.
    EXPECT_EQ(sim::JournalWith("DirectSoundEnumerateW entry").size(),
              static_cast<std::size_t>(test.matched + 1));
}

const WCHAR* const Null = nullptr;

INSTANTIATE_TEST_SUITE_P(
    Descriptions, MatchTest,
    ::testing::Values(
        MatchCase{"HardwareWordsPrimaryInside",
                  {WIDE("Speakers (Realtek High Definition Audio)")},
                  HardwarePrimary,
                  HardwareSecondary,
                  0},
        MatchCase{"HardwareWordsPrimaryFirst",
                  {WIDE("Realtek High Definition Audio - Speakers")},
                  HardwarePrimary,
                  HardwareSecondary,
                  0},
        MatchCase{"HardwareNeedsBothTexts",
                  {WIDE("Realtek High Definition Audio"),
                   WIDE("Digital Output (Realtek High Definition Audio)"), VirtualPrimary,
                   WIDE("2- Speakers (Realtek High Definition Audio)")},
                  HardwarePrimary,
                  HardwareSecondary,
                  3},
        MatchCase{"HardwareOtherCase",
                  {WIDE("speakers (realtek high definition audio)"),
                   WIDE("SPEAKERS (Realtek High Definition Audio)")},
                  HardwarePrimary,
                  HardwareSecondary,
                  -1},
        MatchCase{
            "VirtualAmongOthers",
            {WIDE("Speakers (Realtek High Definition Audio)"), WIDE("Front Speakers (Orvane) #2")},
            VirtualPrimary,
            NoName,
            1},
        MatchCase{"VirtualOtherCaseOrSpacing",
                  {WIDE("Speakers (orvane)"), WIDE("Speakers(Orvane)"), WIDE("Orvane")},
                  VirtualPrimary,
                  NoName,
                  -1},
        MatchCase{"NullDescriptionSkipped", {Null, VirtualPrimary}, VirtualPrimary, NoName, 1},
        MatchCase{"OnlyNullDescription", {Null}, VirtualPrimary, NoName, -1},
        MatchCase{"FirstOfTwoMatchesWins",
                  {VirtualPrimary, WIDE("Speakers (Orvane) copy")},
                  VirtualPrimary,
                  NoName,
                  0},
        MatchCase{"EmptyList", {}, VirtualPrimary, NoName, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EndpointTest, EntryWithoutGuidBindsWithNullGuid) {
    sim::audio::AddRenderDevice({.description = VirtualPrimary, .module = VirtualId});
    BoundEndpoint bound = Bind(VirtualPrimary, NoName);
    EXPECT_TRUE(platform::SameGuid(bound->dsoundGuid, platform::GUID_NULL));
    EXPECT_TRUE(bound->endpointVolume);
}

TEST_F(EndpointTest, MatchedEntryGuidIsStored) {
    const GUID guid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
    sim::audio::AddRenderDevice({.description = VirtualPrimary, .module = VirtualId, .guid = guid});
    BoundEndpoint bound = Bind(VirtualPrimary, NoName);
    EXPECT_TRUE(platform::SameGuid(bound->dsoundGuid, guid));
}

// A matching entry without a usable module string ends the bind, even with a usable one after it.
void ExpectModuleFails(EndpointTest& test, std::optional<platform::WideString> module) {
    sim::audio::AddRenderDevice(
        {.description = VirtualPrimary, .module = std::move(module), .endpoint = false});
    sim::audio::AddRenderDevice({.description = VirtualPrimary, .module = VirtualId});
    EXPECT_EQ(test.BindFailure(VirtualPrimary, NoName), E_FAIL);
    EXPECT_TRUE(sim::JournalWith("GetDevice").empty());
    EXPECT_EQ(sim::JournalWith("DirectSoundEnumerateW entry").size(), 1u);
}

TEST_F(EndpointTest, EmptyModuleOfMatchFailsTheBind) {
    ExpectModuleFails(*this, WIDE(""));
}

TEST_F(EndpointTest, NullModuleOfMatchFailsTheBind) {
    ExpectModuleFails(*this, std::nullopt);
}

TEST_F(EndpointTest, EnumerationFailingWithoutCallbackFailsTheBind) {
    AddDevice(VirtualPrimary, VirtualId);
    sim::audio::FailCall(WIDE(""), "DirectSoundEnumerateW", static_cast<HRESULT>(0x88780078));
    EXPECT_EQ(BindFailure(VirtualPrimary, NoName), E_FAIL);
}

// The record keeps copies: the caller's buffers may change or go away after the bind.
TEST_F(EndpointTest, NamesAreCopied) {
    AddDevice(WIDE("Speakers (Realtek High Definition Audio)"), HardwareId);
    platform::WideString primary = HardwarePrimary;
    platform::WideString secondary = HardwareSecondary;
    BoundEndpoint bound = Bind(primary.c_str(), secondary.c_str());
    primary.assign(40, WIDE('x'));
    secondary.assign(40, WIDE('y'));
    EXPECT_EQ(sim::Narrow(bound->primaryName), "Realtek High Definition Audio");
    EXPECT_EQ(sim::Narrow(bound->secondaryName), "Speakers");
    EXPECT_EQ(sim::Narrow(bound->endpointId), sim::Narrow(HardwareId));
}

} // namespace
} // namespace endpoint_test
