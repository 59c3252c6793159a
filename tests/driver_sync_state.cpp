// The driver flag: what a notification leaves behind when the driver refuses or answers short.
#include "driver/ks_channel.h"
#include "driver_fixture.h"

namespace {

using driver_test::DriverChannel;
using driver_test::FilterSteps;
using driver_test::PathOf;
using ::testing::ElementsAre;
using ::testing::SizeIs;

TEST_F(DriverChannel, RejectedSetLeavesNothingOpenAndTheNextNotificationScansAfresh) {
    auto rejecting = sim::ks::VirtualRenderInterface(PathOf("v"));
    rejecting.syncActiveError = ERROR_GEN_FAILURE;
    sim::ks::AddInterface(rejecting);

    NotifyDriverSyncState(1);
    EXPECT_EQ(sim::ks::OpenFilterHandles(), 0u);
    sim::ks::AddInterface(sim::ks::VirtualRenderInterface(PathOf("v")));
    NotifyDriverSyncState(1);

    EXPECT_THAT(FilterSteps(), ElementsAre("open v", "GET v", "SET v failed", "close v", "open v",
                                           "GET v", "SET v", "close v"));
    EXPECT_THAT(sim::JournalWith("SetupDiGetClassDevsW"), SizeIs(2));
    EXPECT_EQ(sim::ks::SyncActive(PathOf("v")), 1u);
}

TEST_F(DriverChannel, ShortReplyIsNotJudgedByAnEarlierFiltersBytes) {
    // Leaves the wanted product in the reply buffer but fails.
    auto failing = sim::ks::VirtualRenderInterface(PathOf("a"));
    failing.componentIdError = ERROR_GEN_FAILURE;
    // Succeeds having written only the manufacturer GUID.
    auto shortReply = sim::ks::VirtualRenderInterface(PathOf("b"));
    shortReply.componentIdBytes = 16;
    sim::ks::AddInterface(failing);
    sim::ks::AddInterface(shortReply);

    NotifyDriverSyncState(1);

    EXPECT_THAT(FilterSteps(),
                ElementsAre("open a", "GET a failed", "close a", "open b", "GET b", "close b"));
}

TEST_F(DriverChannel, ReplyEndingAfterTheProductStillSelects) {
    auto shortReply = sim::ks::VirtualRenderInterface(PathOf("a"));
    shortReply.componentIdBytes = 32;
    sim::ks::AddInterface(shortReply);

    NotifyDriverSyncState(0);

    EXPECT_EQ(sim::ks::SyncActive(PathOf("a")), 0u);
}

} // namespace
