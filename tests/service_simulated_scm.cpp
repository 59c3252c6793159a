// The simulated service manager where the service host relies on it and only a service process
// could show it under Wine (a ServiceMain that ends unregistered, device-event data), and the
// pause points the tests hold threads at. Its database and refusals are contract cases
// (tests/contract/scm.cpp).
#include "platform/guids.h"
#include "platform/kernel.h"
#include "platform/scm.h"
#include "platform/sim/machine.h"
#include "platform/sim/scm.h"
#include "platform/user32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <future>
#include <thread>

namespace {

WCHAR TestName[] = WIDE("Quenvar_Service");
DEV_BROADCAST_DEVICEINTERFACE_W SeenEvent;
std::size_t SeenNameLength;
SERVICE_STATUS_HANDLE TestHandle;

DWORD WINAPI RecordingHandler(DWORD control, DWORD, LPVOID eventData, LPVOID) {
    if (control == SERVICE_CONTROL_DEVICEEVENT) {
        auto* data = static_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(eventData);
        SeenEvent = *data;
        SeenNameLength = std::char_traits<WCHAR>::length(data->dbcc_name);
    }
    if (control == SERVICE_CONTROL_STOP) {
        SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};
        platform::SetServiceStatus(TestHandle, &status);
    }
    return NO_ERROR;
}

void WINAPI RegisteringMain(DWORD, LPWSTR*) {
    TestHandle = platform::RegisterServiceCtrlHandlerExW(TestName, RecordingHandler, nullptr);
    SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, 1, 0, 0, 0, 0};
    platform::SetServiceStatus(TestHandle, &status);
}

void WINAPI SilentMain(DWORD, LPWSTR*) {}

// As on Windows, the dispatcher returns when the service's thread ends without ever registering.
TEST(SimulatedScm, ReturnsWhenServiceMainEndsUnregistered) {
    sim::scm::SetStartedByScm(true);
    SERVICE_TABLE_ENTRYW table[] = {{TestName, SilentMain}, {nullptr, nullptr}};
    BOOL result = FALSE;
    // On a thread of its own: the dispatcher names its thread "main" for good.
    std::thread([&] { result = platform::StartServiceCtrlDispatcherW(table); }).join();
    EXPECT_TRUE(result);
    EXPECT_FALSE(sim::scm::DispatcherRunning());
}

TEST(SimulatedScm, DeviceEventCarriesTheInterfaceRecord) {
    sim::scm::SetStartedByScm(true);
    SERVICE_TABLE_ENTRYW table[] = {{TestName, RegisteringMain}, {nullptr, nullptr}};
    std::thread dispatcher([&] { platform::StartServiceCtrlDispatcherW(table); });
    ASSERT_TRUE(sim::scm::WaitForState(SERVICE_RUNNING));
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {
        sizeof(filter), DBT_DEVTYP_DEVICEINTERFACE, 0, platform::KSCATEGORY_RENDER, {0}};
    HDEVNOTIFY notification = platform::RegisterDeviceNotificationW(
        sim::scm::StatusHandle(), &filter, DEVICE_NOTIFY_SERVICE_HANDLE);
    ASSERT_NE(notification, nullptr);
    SeenEvent = {};
    sim::RaiseDeviceInterfaceEvent(DBT_DEVICEARRIVAL, platform::KSCATEGORY_RENDER);
    EXPECT_EQ(SeenEvent.dbcc_devicetype, static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE));
    EXPECT_TRUE(platform::SameGuid(SeenEvent.dbcc_classguid, platform::KSCATEGORY_RENDER));
    EXPECT_GT(SeenNameLength, 0u);
    EXPECT_EQ(SeenEvent.dbcc_size, offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) +
                                       (SeenNameLength + 1) * sizeof(WCHAR));
    platform::UnregisterDeviceNotification(notification);
    EXPECT_EQ(sim::scm::Control(SERVICE_CONTROL_STOP), static_cast<DWORD>(NO_ERROR));
    dispatcher.join();
    EXPECT_TRUE(sim::Faults().empty());
}

// A test that resumes a held thread and then waits for it at the same call again must see it
// held there anew, not the hold it just released: the service tests hand ServiceMain data while
// it is held.
TEST(SimulatedPausePoints, WaitAfterResumeSeesOnlyTheNextHold) {
    std::atomic<int> passed{0};
    std::promise<void> rearmed;
    sim::PauseAt("Sleep");
    std::thread sleeper([&, armed = rearmed.get_future()] {
        platform::Sleep(0);
        passed.fetch_add(1);
        armed.wait();
        platform::Sleep(0);
        passed.fetch_add(1);
    });
    ASSERT_TRUE(sim::WaitUntilPaused("Sleep"));
    EXPECT_EQ(passed.load(), 0);
    sim::Resume("Sleep");
    sim::PauseAt("Sleep");
    rearmed.set_value();
    ASSERT_TRUE(sim::WaitUntilPaused("Sleep"));
    EXPECT_EQ(passed.load(), 1);
    sim::Resume("Sleep");
    sleeper.join();
    EXPECT_EQ(passed.load(), 2);
}

} // namespace
