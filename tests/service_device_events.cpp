// The service's registration for render device events, and the events that reach its handler.
#include "platform/guids.h"
#include "platform/sim/machine.h"
#include "platform/sim/scm.h"
#include "service/service.h"
#include "service/state.h"
#include "support/service_runner.h"

#include <gtest/gtest.h>

namespace {

// Registrations made for the service (not for a window).
std::vector<sim::DeviceRegistration> ServiceRegistrations() {
    std::vector<sim::DeviceRegistration> found;
    for (auto& registration : sim::DeviceRegistrations()) {
        if (registration.flags & DEVICE_NOTIFY_SERVICE_HANDLE) {
            found.push_back(registration);
        }
    }
    return found;
}

const GUID OtherInterfaceClass = {
    0x2EEF81BE, 0x33FA, 0x4800, {0x96, 0x70, 0x1C, 0xD4, 0x74, 0x97, 0x2C, 0x3F}};

TEST(ServiceDevices, RegistersForRenderInterfacesBeforeRunning) {
    support::ServiceRunner runner;
    runner.Start();
    ASSERT_TRUE(runner.WaitForRunning());
    auto registrations = ServiceRegistrations();
    ASSERT_EQ(registrations.size(), 1u);
    auto& registration = registrations[0];
    EXPECT_EQ(registration.recipient, static_cast<HANDLE>(sim::scm::StatusHandle()));
    EXPECT_EQ(registration.flags, static_cast<DWORD>(DEVICE_NOTIFY_SERVICE_HANDLE));
    EXPECT_EQ(registration.filter.dbcc_size, 32u);
    EXPECT_EQ(registration.filter.dbcc_devicetype, static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE));
    EXPECT_EQ(registration.filter.dbcc_reserved, 0u);
    EXPECT_TRUE(
        platform::SameGuid(registration.filter.dbcc_classguid, platform::KSCATEGORY_RENDER));
    EXPECT_EQ(registration.filter.dbcc_name[0], 0);

    auto journal = sim::Journal();
    auto registered =
        std::find(journal.begin(), journal.end(),
                  "RegisterDeviceNotificationW " + sim::FormatGuid(platform::KSCATEGORY_RENDER) +
                      " flags=1 [service]");
    auto running =
        std::find(journal.begin(), journal.end(), "SetServiceStatus SERVICE_RUNNING [service]");
    EXPECT_LT(registered, running);

    ASSERT_TRUE(runner.Stop());
    EXPECT_TRUE(ServiceRegistrations().empty());
    EXPECT_EQ(sim::JournalWith("UnregisterDeviceNotification").size(), 1u);
    EXPECT_TRUE(sim::Faults().empty());
}

TEST(ServiceDevices, FailedRegistrationStillRunsAndIsNotUnregistered) {
    sim::FailCall("RegisterDeviceNotificationW");
    support::ServiceRunner runner;
    runner.Start();
    ASSERT_TRUE(runner.WaitForRunning());
    EXPECT_EQ(ServiceState.ServiceDeviceNotification, nullptr);
    ASSERT_TRUE(runner.Stop());
    EXPECT_EQ(sim::scm::CurrentState(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(sim::JournalWith("UnregisterDeviceNotification").empty());
    EXPECT_TRUE(sim::Faults().empty());
}

TEST(ServiceDevices, NothingRegisteredForTheServiceAtVersionFive) {
    sim::SetWindowsVersion(5, 1);
    support::ServiceRunner runner;
    runner.Start();
    ASSERT_TRUE(runner.WaitForRunning());
    EXPECT_TRUE(ServiceRegistrations().empty());
    EXPECT_EQ(ServiceState.ServiceDeviceNotification, nullptr);
    for (auto& entry : sim::JournalWith("RegisterDeviceNotificationW")) {
        EXPECT_EQ(entry.find("[service]"), std::string::npos) << entry;
    }
    ASSERT_TRUE(runner.Stop());
    EXPECT_TRUE(sim::JournalWith("UnregisterDeviceNotification [main]").empty());
}

// Every event of the render class reaches the handler on the main thread and is answered with 0,
// which also grants a query-remove; the registration stays in place.
TEST(ServiceDevices, RenderEventsReachTheHandler) {
    support::ServiceRunner runner;
    runner.Start();
    ASSERT_TRUE(runner.WaitForRunning());
    for (DWORD event : {DBT_DEVICEARRIVAL, DBT_DEVICEQUERYREMOVE, DBT_DEVICEREMOVECOMPLETE}) {
        sim::RaiseDeviceInterfaceEvent(event, platform::KSCATEGORY_RENDER);
    }
    sim::RaiseDeviceInterfaceEvent(DBT_DEVICEARRIVAL, OtherInterfaceClass);

    auto controls = sim::scm::Controls();
    ASSERT_EQ(controls.size(), 3u);
    EXPECT_EQ(controls[0].eventType, static_cast<DWORD>(DBT_DEVICEARRIVAL));
    EXPECT_EQ(controls[1].eventType, static_cast<DWORD>(DBT_DEVICEQUERYREMOVE));
    EXPECT_EQ(controls[2].eventType, static_cast<DWORD>(DBT_DEVICEREMOVECOMPLETE));
    for (auto& control : controls) {
        EXPECT_EQ(control.code, static_cast<DWORD>(SERVICE_CONTROL_DEVICEEVENT));
        EXPECT_EQ(control.result, static_cast<DWORD>(NO_ERROR));
    }
    EXPECT_EQ(sim::JournalWith("ServiceControl 11 32768 [main]").size(), 1u);
    EXPECT_EQ(sim::scm::StatusReports().size(), 4u);
    EXPECT_EQ(ServiceRegistrations().size(), 1u);

    ASSERT_TRUE(runner.Stop());
    // Gone with the stop: a later event reaches nobody.
    sim::RaiseDeviceInterfaceEvent(DBT_DEVICEARRIVAL, platform::KSCATEGORY_RENDER);
    EXPECT_EQ(sim::scm::Controls().size(), 4u);
    EXPECT_TRUE(sim::Faults().empty());
}

} // namespace
