// Render devices coming and going while the service runs: every device event of the render class
// rebuilds the endpoint sync on the handler's thread, and the stop takes it down in order.
#include "scenario_endpoint_service.h"

namespace {

using namespace scenario_endpoint;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

class EndpointServiceDevices : public EndpointService {
  protected:
    void SetUp() override {
        EndpointService::SetUp();
        PlugHardware();
        PlugVirtual();
        StartService();
        ASSERT_TRUE(Running());
        ASSERT_THAT(DriverFlags(), ElementsAre("1"));
    }

    // The last control the handler answered.
    static sim::scm::ControlRecord LastControl() {
        auto controls = sim::scm::Controls();
        return controls.empty() ? sim::scm::ControlRecord{} : controls.back();
    }
};

// The whole virtual device goes, its driver with it: the rebuild's stop finds no filter to clear,
// and the sync ends idle. Plugged back with other settings, it is running again, the flag set and
// the virtual endpoint overwritten by the hardware's settings.
TEST_F(EndpointServiceDevices, VirtualDeviceUnpluggedAndPluggedBack) {
    ASSERT_TRUE(sim::audio::UnplugRenderDevice(VirtualId));
    EXPECT_EQ(LastControl().code, static_cast<DWORD>(SERVICE_CONTROL_DEVICEEVENT));
    EXPECT_EQ(LastControl().eventType, static_cast<DWORD>(DBT_DEVICEREMOVECOMPLETE));
    EXPECT_EQ(LastControl().result, static_cast<DWORD>(NO_ERROR));
    EXPECT_TRUE(Idle());
    EXPECT_EQ(sim::audio::LiveObjects(), WatcherObjects);
    EXPECT_THAT(DriverFlags(), ElementsAre("1"));
    EXPECT_EQ(sim::scm::CurrentState(), static_cast<DWORD>(SERVICE_RUNNING));

    PlugVirtual(VirtualDevice(0.9375f, FALSE, {0.0f, 0.25f}));
    EXPECT_EQ(LastControl().eventType, static_cast<DWORD>(DBT_DEVICEARRIVAL));
    EXPECT_TRUE(Running());
    EXPECT_THAT(DriverFlags(), ElementsAre("1", "0", "1"));
    EXPECT_EQ(sim::ks::SyncActive(VirtualPath), 1u);
    EXPECT_TRUE(
        SameSettings(sim::audio::ReadEndpoint(VirtualId), sim::audio::ReadEndpoint(HardwareId)));
    EXPECT_FLOAT_EQ(sim::audio::ReadEndpoint(VirtualId).masterLevel, 0.75f);
}

// The virtual endpoint goes while its driver stays: the rebuild ends idle with the flag at 0.
TEST_F(EndpointServiceDevices, VirtualEndpointGoneEndsIdleWithFlagCleared) {
    ASSERT_TRUE(sim::audio::RemoveRenderDevice(VirtualId));
    RaiseRenderEvent(DBT_DEVICEREMOVECOMPLETE);
    EXPECT_TRUE(Idle());
    EXPECT_THAT(DriverFlags(), ElementsAre("1", "0"));
    EXPECT_EQ(sim::ks::SyncActive(VirtualPath), 0u);
}

TEST_F(EndpointServiceDevices, HardwareUnpluggedAndPluggedBack) {
    ASSERT_TRUE(sim::audio::UnplugRenderDevice(HardwareId));
    EXPECT_TRUE(Idle());
    EXPECT_THAT(DriverFlags(), ElementsAre("1", "0"));
    // Only the hardware's DirectSound search ran: the virtual endpoint was not tried.
    auto lastSearch = sim::JournalWith("DirectSoundEnumerateW [main]");
    EXPECT_EQ(lastSearch.size(), 1u);

    PlugHardware(HardwareDevice(0.5f, FALSE, {0.5f, 0.5f}));
    EXPECT_TRUE(Running());
    EXPECT_THAT(DriverFlags(), ElementsAre("1", "0", "0", "1"));
    EXPECT_FLOAT_EQ(sim::audio::ReadEndpoint(VirtualId).masterLevel, 0.5f);
}

// The hardware device disappears before its event arrives: a change the user makes meanwhile is
// mirrored onto an invalidated endpoint, which fails quietly; the event then lets everything go.
TEST_F(EndpointServiceDevices, ChangeMirroredOntoRemovedEndpointFailsQuietly) {
    ASSERT_TRUE(sim::audio::RemoveRenderDevice(HardwareId));
    ASSERT_EQ(sim::audio::UserSetMasterLevel(VirtualId, 0.5f), S_OK);
    ASSERT_TRUE(sim::audio::WaitIdle());
    EXPECT_THAT(sim::audio::SetCalls(HardwareId), Contains(HasSubstr("-> 0x88890004")));
    RaiseRenderEvent(DBT_DEVICEREMOVECOMPLETE);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(sim::audio::LiveObjects(), WatcherObjects);
}

// Whatever the event type, the handler tears the sync down and builds it again, all on the main
// thread, and answers 0 (which also grants a query-remove).
TEST_F(EndpointServiceDevices, EveryEventTypeRebuilds) {
    // 0x8006: DBT_CUSTOMEVENT.
    const DWORD eventTypes[] = {DBT_DEVICEARRIVAL, DBT_DEVICEQUERYREMOVE, DBT_DEVICEREMOVECOMPLETE,
                                DBT_DEVNODES_CHANGED, 0x8006};
    for (DWORD eventType : eventTypes) {
        SCOPED_TRACE(eventType);
        sim::ClearJournal();
        RaiseRenderEvent(eventType);
        EXPECT_EQ(LastControl().eventType, eventType);
        EXPECT_EQ(LastControl().result, static_cast<DWORD>(NO_ERROR));
        auto tagged = [](const std::string& entry) { return entry + " [main]"; };
        std::vector<std::string> steps = {"ServiceControl 11 " + std::to_string(eventType),
                                          Unregistered(Virtual),
                                          Unregistered(Hardware),
                                          DeviceReleased(Hardware),
                                          DeviceReleased(Virtual),
                                          FlagOff,
                                          EnumeratorCreated,
                                          Bound(Hardware),
                                          Bound(Virtual),
                                          Registered(Virtual),
                                          Registered(Hardware),
                                          FlagOn,
                                          EnumeratorReleased};
        auto journal = sim::Journal();
        auto from = journal.begin();
        for (auto& step : steps) {
            auto found = std::find(from, journal.end(), tagged(step));
            ASSERT_NE(found, journal.end()) << "missing, or out of order: " << step;
            from = found + 1;
        }
        EXPECT_TRUE(Running());
        EXPECT_EQ(sim::audio::Registrations(HardwareId), 1u);
        EXPECT_EQ(sim::audio::Registrations(VirtualId), 1u);
        EXPECT_THAT(DriverFlags(), ElementsAre("0", "1"));
    }
}

// An event for another interface class reaches nobody: no rebuild.
TEST_F(EndpointServiceDevices, OtherInterfaceClassesDoNotRebuild) {
    const GUID otherClass = {
        0x2EEF81BE, 0x33FA, 0x4800, {0x96, 0x70, 0x1C, 0xD4, 0x74, 0x97, 0x2C, 0x3F}};
    sim::ClearJournal();
    sim::RaiseDeviceInterfaceEvent(DBT_DEVICEARRIVAL, otherClass);
    EXPECT_THAT(sim::JournalWith("Unregister"), IsEmpty());
    EXPECT_TRUE(Running());
}

// The stop, on the main thread: the service's device notification, then the callbacks (virtual
// first), the hardware record, the virtual record, the flag, COM, the stop event, COM once more
// (the apartment is closed by then: nothing happens), the report.
// The objects the service main thread created are released here, on another thread.
TEST_F(EndpointServiceDevices, StopTearsDownInOrderOnTheHandlersThread) {
    sim::ClearJournal();
    StopService();
    std::vector<std::string> steps = {"ServiceControl 1 0",
                                      "CoInitialize",
                                      "UnregisterDeviceNotification",
                                      Unregistered(Virtual),
                                      Unregistered(Hardware),
                                      VolumeReleased(Hardware),
                                      DeviceReleased(Hardware),
                                      VolumeReleased(Virtual),
                                      DeviceReleased(Virtual),
                                      FlagOff,
                                      "CoUninitialize",
                                      "SetEvent",
                                      "CoUninitialize",
                                      "SetServiceStatus SERVICE_STOPPED"};
    auto journal = sim::Journal();
    auto from = journal.begin();
    for (auto& step : steps) {
        auto found = std::find(from, journal.end(), step + " [main]");
        ASSERT_NE(found, journal.end()) << "missing, or out of order: " << step;
        from = found + 1;
    }
    EXPECT_THAT(DriverFlags(), ElementsAre("0"));
    EXPECT_EQ(sim::ks::SyncActive(VirtualPath), 0u);
}

} // namespace
