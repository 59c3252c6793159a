// Contract cases of DirectSound's device enumeration, through which the endpoint binding finds the
// two render devices by their descriptions.
#include "audio_fixture.h"
#include "contract.h"

#include <gmock/gmock.h>

#include "platform/dsound.h"
#include "platform/guids.h"

#include <optional>
#include <vector>

namespace {

struct Entry {
    std::optional<GUID> guid;
    platform::WideString description;
    platform::WideString module;
};

struct Listing {
    std::vector<Entry> entries;
    std::size_t stopAfter = 0; // 0: never stop
};

BOOL CALLBACK Collect(LPGUID guid, LPCWSTR description, LPCWSTR module, LPVOID context) {
    auto& entries = static_cast<Listing*>(context)->entries;
    entries.push_back({guid ? std::optional<GUID>(*guid) : std::nullopt,
                       description ? description : WIDE("(null)"),
                       module ? module : WIDE("(null)")});
    return entries.size() != static_cast<Listing*>(context)->stopAfter;
}

class DirectSound : public ::testing::Test {
  protected:
    void SetUp() override {
        contract::audio::AddRenderDevices();
        ASSERT_EQ(platform::DirectSoundEnumerateW(Collect, &listing), S_OK);
        ASSERT_GE(listing.entries.size(), 3u);
    }
    Listing listing;
};

// The primary device first: no GUID and no module, so the binding can never take it for a device.
TEST_F(DirectSound, PrimaryDeviceComesFirstWithoutGuidOrModule) {
    EXPECT_FALSE(listing.entries[0].guid);
    EXPECT_EQ(listing.entries[0].module, WIDE(""));
    for (std::size_t i = 1; i < listing.entries.size(); ++i) {
        ASSERT_TRUE(listing.entries[i].guid);
        EXPECT_FALSE(platform::SameGuid(*listing.entries[i].guid, platform::GUID_NULL));
    }
}

TEST_F(DirectSound, DescriptionsNameTheDevices) {
    std::vector<platform::WideString> descriptions;
    for (auto& entry : listing.entries) {
        descriptions.push_back(entry.description);
    }
    EXPECT_THAT(descriptions,
                ::testing::Contains(WIDE("Speakers (Realtek High Definition Audio)")));
    EXPECT_THAT(descriptions, ::testing::Contains(WIDE("Speakers (Orvane)")));
}

TEST_F(DirectSound, FalseFromTheCallbackEndsTheEnumeration) {
    Listing first{{}, 2};
    ASSERT_EQ(platform::DirectSoundEnumerateW(Collect, &first), S_OK);
    EXPECT_EQ(first.entries.size(), 2u);
}

TEST_F(DirectSound, ModuleOfADeviceIsItsEndpointId) {
    CONTRACT_WINE_DIFFERS("above version 5 the module string is the Core Audio endpoint id "
                          "(\"{0.0.0.00000000}.{guid}\"); Wine 8 gives \"winemm.vxd\"");
    for (std::size_t i = 1; i < listing.entries.size(); ++i) {
        const auto& module = listing.entries[i].module;
        EXPECT_EQ(
            contract::OnSim ? module.substr(0, 7) : module,
            contract::WindowsOrWine<platform::WideString>(WIDE("{0.0.0."), WIDE("winemm.vxd")));
    }
}

} // namespace
