// The search for the virtual device's render filter among the present KS render interfaces.
#include "driver/ks_channel.h"
#include "driver_fixture.h"
#include "platform/kernel.h"

namespace {

using driver_test::DriverChannel;
using driver_test::FilterSteps;
using driver_test::PathOf;
using driver_test::PathPrefix;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

sim::ks::RenderInterface Virtual(const std::string& name) {
    return sim::ks::VirtualRenderInterface(PathOf(name));
}

TEST_F(DriverChannel, WithoutInterfacesNothingIsSent) {
    NotifyDriverSyncState(1);

    EXPECT_THAT(sim::Journal(),
                ElementsAre("SetupDiGetClassDevsW {65E8773E-8F56-11D0-A3B9-00A0C9223196} "
                            "flags=0x12 -> ok [test]",
                            "SetupDiEnumDeviceInterfaces index=0 -> error 259 [test]",
                            "SetupDiDestroyDeviceInfoList [test]"));
    EXPECT_THAT(sim::ks::Requests(), IsEmpty());
}

TEST_F(DriverChannel, OnlyTheProductGuidSelectsAFilter) {
    GUID otherProduct = {0x11111111, 0x2222, 0x3333, {4, 4, 5, 5, 6, 6, 7, 7}};
    // The virtual device's other component GUIDs with another product.
    sim::ks::RenderInterface sameFamily = Virtual("a");
    sameFamily.componentId.Product = otherProduct;
    // The wanted GUID everywhere but in the product field.
    sim::ks::RenderInterface elsewhere = Virtual("b");
    elsewhere.componentId = {VirtualDeviceProductGuid,
                             otherProduct,
                             VirtualDeviceProductGuid,
                             VirtualDeviceProductGuid,
                             1,
                             0};
    sim::ks::AddInterface(sameFamily);
    sim::ks::AddInterface(elsewhere);
    sim::ks::AddInterface(Virtual("c"));

    NotifyDriverSyncState(1);

    EXPECT_THAT(FilterSteps(), ElementsAre("open a", "GET a", "close a", "open b", "GET b",
                                           "close b", "open c", "GET c", "SET c", "close c"));
    EXPECT_EQ(sim::ks::SyncActive(PathOf("c")), 1u);
}

TEST_F(DriverChannel, LowerMemberIndexWinsAndTheOtherIsNeverOpened) {
    sim::ks::AddInterface(sim::ks::CodecRenderInterface(PathOf("codec")));
    sim::ks::AddInterface(Virtual("first"));
    sim::ks::AddInterface(Virtual("second"));

    HANDLE filter = FindVirtualRenderFilter(VirtualDeviceProductGuid);

    ASSERT_NE(filter, INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim::Narrow(sim::ks::HandlePath(filter)), sim::Narrow(PathOf("first")));
    EXPECT_EQ(sim::ks::OpenCount(PathOf("second")), 0u);
    EXPECT_EQ(sim::ks::OpenFilterHandles(), 1u);
    EXPECT_TRUE(platform::CloseHandle(filter));
}

TEST_F(DriverChannel, OpenAndComponentIdFailuresDoNotEndTheScan) {
    sim::ks::RenderInterface refusesOpen = Virtual("a");
    refusesOpen.openError = ERROR_ACCESS_DENIED;
    // Writes a full matching reply into the buffer and still fails the request.
    sim::ks::RenderInterface failsGet = Virtual("b");
    failsGet.componentIdError = ERROR_GEN_FAILURE;
    sim::ks::AddInterface(refusesOpen);
    sim::ks::AddInterface(failsGet);
    sim::ks::AddInterface(Virtual("c"));

    NotifyDriverSyncState(1);

    EXPECT_THAT(FilterSteps(), ElementsAre("open a failed", "open b", "GET b failed", "close b",
                                           "open c", "GET c", "SET c", "close c"));
    EXPECT_EQ(sim::ks::SyncActive(PathOf("b")), std::nullopt);
    EXPECT_EQ(sim::ks::SyncActive(PathOf("c")), 1u);
}

TEST_F(DriverChannel, EnumerationFailureEndsTheScan) {
    sim::ks::RenderInterface brokenEntry = Virtual("b");
    brokenEntry.enumerateError = ERROR_GEN_FAILURE;
    sim::ks::AddInterface(sim::ks::CodecRenderInterface(PathOf("a")));
    sim::ks::AddInterface(brokenEntry);
    sim::ks::AddInterface(Virtual("c"));

    EXPECT_EQ(FindVirtualRenderFilter(VirtualDeviceProductGuid), INVALID_HANDLE_VALUE);

    EXPECT_THAT(sim::JournalWith("SetupDiEnumDeviceInterfaces"),
                ElementsAre("SetupDiEnumDeviceInterfaces index=0 -> \\\\?\\root#media#a [test]",
                            "SetupDiEnumDeviceInterfaces index=1 -> error 31 [test]"));
    EXPECT_EQ(sim::ks::OpenCount(PathOf("c")), 0u);
}

TEST_F(DriverChannel, FailedClassQuerySendsNothing) {
    sim::ks::AddInterface(Virtual("a"));
    sim::FailCall("SetupDiGetClassDevsW");

    NotifyDriverSyncState(1);

    EXPECT_THAT(sim::Journal(), ElementsAre("SetupDiGetClassDevsW {65E8773E-8F56-11D0-A3B9-"
                                            "00A0C9223196} flags=0x12 -> error 8 [test]"));
}

TEST_F(DriverChannel, RemovedInterfaceIsNotScanned) {
    sim::ks::AddInterface(Virtual("a"));
    ASSERT_TRUE(sim::ks::RemoveInterface(PathOf("a")));

    NotifyDriverSyncState(1);

    EXPECT_THAT(sim::JournalWith("CreateFileW"), IsEmpty());
}

// A driver may ask for more than the path needs: the buffer has exactly the size it asked for.
TEST_F(DriverChannel, DetailBufferHasTheRequiredSizeTheFirstCallReported) {
    sim::ks::RenderInterface generous = Virtual("a");
    generous.requiredSize = 200;
    sim::ks::AddInterface(generous);

    NotifyDriverSyncState(1);

    const std::string call = "SetupDiGetDeviceInterfaceDetailW " + PathPrefix + "a size=";
    EXPECT_THAT(
        sim::JournalWith("SetupDiGetDeviceInterfaceDetailW"),
        ElementsAre(call + "0 -> error 122 required=200 [test]", call + "200 -> ok [test]"));
    EXPECT_EQ(sim::ks::SyncActive(PathOf("a")), 1u);
}

// One way the detail protocol can go wrong for the first interface; the second is then found.
struct DetailCase {
    const char* name;
    DWORD sizeQueryError;
    DWORD requiredSize;
    DWORD detailError;
};

class DetailFailure : public DriverChannel, public ::testing::WithParamInterface<DetailCase> {};

TEST_P(DetailFailure, SkipsTheInterface) {
    sim::ks::RenderInterface broken = Virtual("a");
    broken.sizeQueryError = GetParam().sizeQueryError;
    broken.requiredSize = GetParam().requiredSize;
    broken.detailError = GetParam().detailError;
    sim::ks::AddInterface(broken);
    sim::ks::AddInterface(Virtual("b"));

    NotifyDriverSyncState(1);

    EXPECT_EQ(sim::ks::OpenCount(PathOf("a")), 0u);
    EXPECT_EQ(sim::ks::SyncActive(PathOf("b")), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    DriverChannel, DetailFailure,
    ::testing::Values(DetailCase{"SizeQuerySucceeds", 0, 0, 0},
                      DetailCase{"SizeQueryFailsOtherwise", ERROR_GEN_FAILURE, 0, 0},
                      DetailCase{"SecondCallFails", ERROR_INSUFFICIENT_BUFFER, 0,
                                 ERROR_GEN_FAILURE},
                      // Too small for the header: writing its cbSize would overrun the buffer.
                      DetailCase{"RequiredSizeBelowPath", ERROR_INSUFFICIENT_BUFFER, 2, 0},
                      DetailCase{"RequiredSizeBelowHeader", ERROR_INSUFFICIENT_BUFFER, 6, 0},
                      DetailCase{"RequiredSizeBelowTrueSize", ERROR_INSUFFICIENT_BUFFER, 8, 0}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
