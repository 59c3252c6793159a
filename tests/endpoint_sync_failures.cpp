// An endpoint sync that cannot be built: no enumerator, an endpoint that cannot be bound, memory
// exhausted while allocating a record or a callback. It stays idle, leaves the driver flag
// unwritten, holds nothing and throws nothing.
#include "endpoint_sync_devices.h"

#include "platform/com.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace sync_test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

class EndpointSyncFailure : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(platform::CoInitialize(nullptr), S_OK);
        AddOtherRenderDevices();
        PlugHardware();
        PlugVirtual();
    }

    void TearDown() override {
        StopEndpointSync();
        platform::CoUninitialize();
        EXPECT_TRUE(sim::audio::WaitIdle());
        EXPECT_EQ(sim::audio::LiveObjects(), 0u);
        EXPECT_THAT(sim::Faults(), IsEmpty());
    }

    // Starts a sync that is expected to fail and checks what every failed start leaves.
    void StartAndExpectIdle() {
        sim::ClearJournal();
        EXPECT_NO_THROW(StartEndpointSync());
        EXPECT_TRUE(Idle());
        EXPECT_THAT(DriverFlags(), IsEmpty());
        EXPECT_EQ(sim::audio::LiveObjects(), 0u);
        EXPECT_EQ(sim::audio::Registrations(HardwareId), 0u);
        EXPECT_EQ(sim::audio::Registrations(VirtualId), 0u);
    }

    // After the failure has passed, the next start succeeds: nothing was left half-built.
    void ExpectNextStartRuns() {
        sim::ClearFailures();
        StartEndpointSync();
        EXPECT_TRUE(Running());
        EXPECT_THAT(DriverFlags(), ElementsAre("1"));
    }
};

TEST_F(EndpointSyncFailure, NoEnumerator) {
    sim::audio::FailCall(WIDE(""), "CoCreateInstance", REGDB_E_CLASSNOTREG, 1);
    StartAndExpectIdle();
    EXPECT_EQ(Count(EnumeratorCreated + " -> 0x80040154"), 1);
    EXPECT_THAT(sim::JournalWith("DirectSoundEnumerateW"), IsEmpty());
    EXPECT_THAT(sim::JournalWith("Release"), IsEmpty());
    ExpectNextStartRuns();
}

// COM not initialised on the calling thread: CoCreateInstance refuses, the start is quiet.
TEST_F(EndpointSyncFailure, NoApartmentOnTheThread) {
    sim::ClearJournal();
    std::thread([] { EXPECT_NO_THROW(StartEndpointSync()); }).join();
    EXPECT_TRUE(Idle());
    EXPECT_EQ(Count(EnumeratorCreated + " -> 0x800401F0"), 1);
    EXPECT_THAT(DriverFlags(), IsEmpty());
}

TEST_F(EndpointSyncFailure, HardwareMissingLeavesVirtualUnattempted) {
    ASSERT_TRUE(sim::audio::RemoveRenderDevice(HardwareId));
    StartAndExpectIdle();
    EXPECT_EQ(sim::JournalWith("DirectSoundEnumerateW [").size(), 1u);
    EXPECT_THAT(sim::JournalWith("GetDevice"), IsEmpty());
    EXPECT_EQ(Count(EnumeratorReleased), 1);
    // No allocation for the virtual record either.
    EXPECT_EQ(sim::JournalWith("AllocateObject").size(), 1u);
}

TEST_F(EndpointSyncFailure, HardwareActivateFails) {
    sim::audio::FailCall(HardwareId, "Activate", E_OUTOFMEMORY, 1);
    StartAndExpectIdle();
    EXPECT_THAT(InOrder({DeviceReleased(Hardware), EnumeratorReleased}), Not(Contains(-1)));
    EXPECT_THAT(sim::JournalWith("GetDevice " + Virtual), IsEmpty());
    ExpectNextStartRuns();
}

TEST_F(EndpointSyncFailure, VirtualMissingDestroysTheHardwareRecord) {
    ASSERT_TRUE(sim::audio::RemoveRenderDevice(VirtualId));
    StartAndExpectIdle();
    EXPECT_THAT(InOrder({Bound(Hardware), VolumeReleased(Hardware), DeviceReleased(Hardware),
                         EnumeratorReleased}),
                Not(Contains(-1)));
    EXPECT_THAT(sim::JournalWith("RegisterControlChangeNotify"), IsEmpty());
}

TEST_F(EndpointSyncFailure, VirtualInvalidatedBetweenListAndActivate) {
    sim::audio::FailCall(VirtualId, "Activate", sim::audio::DeviceInvalidated, 1);
    StartAndExpectIdle();
    // The failed binding lets its device go before the handler destroys the hardware record.
    EXPECT_THAT(InOrder({DeviceReleased(Virtual), VolumeReleased(Hardware),
                         DeviceReleased(Hardware), EnumeratorReleased}),
                Not(Contains(-1)));
    ExpectNextStartRuns();
}

// Memory runs out at the n-th allocation of a start: records are allocated first (hardware,
// virtual), then the callbacks (virtual-to-hardware, hardware-to-virtual).
class EndpointSyncExhaustion : public EndpointSyncFailure,
                               public ::testing::WithParamInterface<int> {};

TEST_P(EndpointSyncExhaustion, LeavesNothingBuilt) {
    int failing = GetParam();
    sim::FailCall("AllocateObject", 1, failing);
    StartAndExpectIdle();
    auto allocations = sim::JournalWith("AllocateObject");
    ASSERT_EQ(allocations.size(), static_cast<std::size_t>(failing + 1));
    EXPECT_NE(allocations.back().find("-> null"), std::string::npos);
    // Callbacks made before the failure were unregistered before any endpoint was released.
    if (failing == 3) {
        EXPECT_THAT(InOrder({Registered(Virtual), Unregistered(Virtual), VolumeReleased(Hardware),
                             VolumeReleased(Virtual)}),
                    Not(Contains(-1)));
    }
    if (failing >= 1) {
        EXPECT_EQ(Count(VolumeReleased(Hardware)), 1);
    }
    EXPECT_EQ(Count(EnumeratorReleased), 1);
    ExpectNextStartRuns();
}

std::string AllocationName(const ::testing::TestParamInfo<int>& info) {
    const char* names[] = {"HardwareRecord", "VirtualRecord", "VirtualToHardware",
                           "HardwareToVirtual"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(EachAllocation, EndpointSyncExhaustion, ::testing::Values(0, 1, 2, 3),
                         AllocationName);

} // namespace
