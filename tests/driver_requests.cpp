// The bytes of the component-id GET and the sync-active SET, and the request helpers' results.
#include "driver/ks_channel.h"
#include "driver_fixture.h"
#include "platform/kernel.h"

#include <cstring>

namespace {

using driver_test::DriverChannel;
using driver_test::PathOf;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const std::vector<BYTE> ComponentIdGet = {0xA5, 0xED, 0x64, 0x14, 0x8F, 0x6A, 0xD1, 0x11,
                                          0x9A, 0xA7, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96,
                                          0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
const std::vector<BYTE> SyncActiveSet = {0x26, 0xE0, 0xCE, 0x03, 0xB7, 0xE4, 0xDF, 0x4B,
                                         0x8F, 0x62, 0x93, 0xA0, 0xE6, 0xE3, 0x2E, 0x40,
                                         0x11, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00};
const BYTE VirtualProductBytes[16] = {0x1B, 0x33, 0xBC, 0x63, 0xC7, 0x0D, 0x1F, 0x44,
                                      0x85, 0x90, 0x2E, 0xA9, 0x31, 0x96, 0x29, 0xB3};

// The virtual device's filter, its Product GUID written as raw reply bytes 16 to 31.
sim::ks::RenderInterface VirtualFilterFromBytes(const std::string& name) {
    sim::ks::RenderInterface filter = sim::ks::CodecRenderInterface(PathOf(name));
    std::memcpy(reinterpret_cast<BYTE*>(&filter.componentId) + 16, VirtualProductBytes, 16);
    return filter;
}

TEST_F(DriverChannel, NotificationsSendTheWorkedBytes) {
    sim::ks::AddInterface(VirtualFilterFromBytes("virtual"));

    NotifyDriverSyncState(1);
    NotifyDriverSyncState(0);

    auto requests = sim::ks::Requests();
    ASSERT_EQ(requests.size(), 4u);
    for (std::size_t i : {0u, 2u}) {
        EXPECT_EQ(requests[i].controlCode, 0x2F0003u);
        EXPECT_THAT(requests[i].input, ElementsAreArray(ComponentIdGet));
        EXPECT_EQ(requests[i].inputSize, 24u);
        EXPECT_EQ(requests[i].outputSize, 72u);
    }
    for (std::size_t i : {1u, 3u}) {
        EXPECT_EQ(requests[i].controlCode, 0x2F0003u);
        EXPECT_THAT(requests[i].input, ElementsAreArray(SyncActiveSet));
        EXPECT_EQ(requests[i].inputSize, 24u);
        EXPECT_EQ(requests[i].outputSize, 4u);
        EXPECT_EQ(requests[i].error, 0u);
    }
    EXPECT_THAT(requests[1].output, ElementsAre(0x01, 0x00, 0x00, 0x00));
    EXPECT_THAT(requests[3].output, ElementsAre(0x00, 0x00, 0x00, 0x00));
    EXPECT_EQ(sim::ks::SyncActive(PathOf("virtual")), 0u);
    EXPECT_THAT(sim::JournalWith("KsSet"),
                ElementsAre("KsSet \\\\?\\root#media#virtual SyncActive=1 [test]",
                            "KsSet \\\\?\\root#media#virtual SyncActive=0 [test]"));
}

TEST_F(DriverChannel, FilterIsOpenedForSynchronousReading) {
    sim::ks::AddInterface(sim::ks::VirtualRenderInterface(PathOf("virtual")));

    NotifyDriverSyncState(1);

    EXPECT_THAT(sim::JournalWith("CreateFileW"),
                ElementsAre("CreateFileW \\\\?\\root#media#virtual access=0x80000000 share=0x3 "
                            "disposition=3 attributes=0x80 -> ok [test]"));
}

TEST_F(DriverChannel, RequestHelpersReportTheDriversAnswer) {
    auto rejecting = sim::ks::VirtualRenderInterface(PathOf("virtual"));
    rejecting.syncActiveError = ERROR_GEN_FAILURE;
    sim::ks::AddInterface(rejecting);
    HANDLE filter = FindVirtualRenderFilter(VirtualDeviceProductGuid);
    ASSERT_NE(filter, INVALID_HANDLE_VALUE);

    ULONG value = 1;
    EXPECT_FALSE(KsSetProperty(filter, SyncPropertySet, SyncActiveProperty, &value, 4));
    sim::ks::AddInterface(sim::ks::VirtualRenderInterface(PathOf("virtual")));
    EXPECT_TRUE(KsSetProperty(filter, SyncPropertySet, SyncActiveProperty, &value, 4));
    ULONG readBack = 7;
    EXPECT_TRUE(KsGetProperty(filter, SyncPropertySet, SyncActiveProperty, &readBack, 4));
    EXPECT_EQ(readBack, 1u);
    EXPECT_FALSE(SendKsProperty(filter, SyncPropertySet, SyncActiveProperty, 0x100, &value, 4));

    auto requests = sim::ks::Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[4].input[20], 0x00);
    EXPECT_EQ(requests[4].input[21], 0x01);
    EXPECT_TRUE(platform::CloseHandle(filter));
}

} // namespace
