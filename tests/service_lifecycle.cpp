// The service's life as the service manager sees it: status reports, control results, the stop
// sequence and the wait on StopEvent.
#include "platform/kernel.h"
#include "platform/sim/machine.h"
#include "platform/sim/scm.h"
#include "service/service.h"
#include "service/state.h"
#include "support/service_runner.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using sim::scm::StatusReport;

// Position of the first journal entry equal to entry at or after from; -1 when there is none.
long JournalIndex(const std::string& entry, long from = 0) {
    auto journal = sim::Journal();
    auto found = std::find(journal.begin() + from, journal.end(), entry);
    return found == journal.end() ? -1 : static_cast<long>(found - journal.begin());
}

std::vector<DWORD> ReportedStates() {
    std::vector<DWORD> states;
    for (auto& report : sim::scm::StatusReports()) {
        states.push_back(report.status.dwCurrentState);
    }
    return states;
}

// Every report carries the same record: only the state changes.
void ExpectRecordFields(const StatusReport& report) {
    EXPECT_EQ(report.status.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(report.status.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
    EXPECT_EQ(report.status.dwWin32ExitCode, 0u);
    EXPECT_EQ(report.status.dwServiceSpecificExitCode, 0u);
    EXPECT_EQ(report.status.dwCheckPoint, 0u);
    EXPECT_EQ(report.status.dwWaitHint, 0u);
}

class ServiceLifecycle : public testing::TestWithParam<DWORD> {
  protected:
    void SetUp() override { sim::SetWindowsVersion(GetParam()); }
    support::ServiceRunner runner;
};

TEST_P(ServiceLifecycle, ReportsRunningThenStoppedOnly) {
    runner.Start();
    ASSERT_TRUE(runner.WaitForRunning());
    ASSERT_TRUE(runner.Stop());
    EXPECT_EQ(runner.ExitCode(), 0);
    EXPECT_FALSE(sim::scm::DispatcherRunning());

    auto reports = sim::scm::StatusReports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(reports[0].thread, "service");
    EXPECT_EQ(reports[1].status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(reports[1].thread, "main");
    for (auto& report : reports) {
        ExpectRecordFields(report);
    }
    ASSERT_EQ(sim::scm::Controls().size(), 1u);
    EXPECT_EQ(sim::scm::Controls()[0].result, static_cast<DWORD>(NO_ERROR));
    EXPECT_TRUE(sim::Faults().empty());
}

// START_PENDING is sent only when a control finds the start step still running.
TEST_P(ServiceLifecycle, InterrogationDuringStartSendsStartPending) {
    sim::PauseAt("GetVersionExW");
    runner.Start();
    ASSERT_TRUE(sim::WaitUntilPaused("GetVersionExW"));
    // The manager holds controls back while the start is pending; the handler answers one anyway.
    EXPECT_EQ(runner.Control(SERVICE_CONTROL_INTERROGATE),
              static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
    EXPECT_EQ(ServiceControlHandler(SERVICE_CONTROL_INTERROGATE, 0, nullptr, nullptr),
              static_cast<DWORD>(NO_ERROR));
    sim::Resume("GetVersionExW");
    ASSERT_TRUE(runner.WaitForRunning());
    EXPECT_EQ(runner.Control(SERVICE_CONTROL_INTERROGATE), static_cast<DWORD>(NO_ERROR));
    ASSERT_TRUE(runner.Stop());

    EXPECT_EQ(ReportedStates(), (std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING,
                                                    SERVICE_RUNNING, SERVICE_STOPPED}));
    auto reports = sim::scm::StatusReports();
    EXPECT_EQ(reports[1].thread, "service");
    for (auto& report : reports) {
        ExpectRecordFields(report);
    }
    EXPECT_TRUE(sim::Faults().empty());
}

// Stop, interrogation and device events are answered; every other code is refused. Each control
// sends the current status once. The manager never sends the codes the service does not accept,
// nor 0: those go to the handler directly.
TEST_P(ServiceLifecycle, HandlerAnswersEachControlAndSendsTheStatus) {
    runner.Start();
    ASSERT_TRUE(runner.WaitForRunning());
    EXPECT_EQ(runner.Control(SERVICE_CONTROL_PAUSE),
              static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL));
    const std::pair<DWORD, DWORD> answers[] = {
        {SERVICE_CONTROL_INTERROGATE, NO_ERROR},
        {SERVICE_CONTROL_DEVICEEVENT, NO_ERROR},
        {SERVICE_CONTROL_PAUSE, ERROR_CALL_NOT_IMPLEMENTED},
        {SERVICE_CONTROL_CONTINUE, ERROR_CALL_NOT_IMPLEMENTED},
        {SERVICE_CONTROL_SHUTDOWN, ERROR_CALL_NOT_IMPLEMENTED},
        {0, ERROR_CALL_NOT_IMPLEMENTED},
        {0x80, ERROR_CALL_NOT_IMPLEMENTED},
    };
    for (auto [code, expected] : answers) {
        std::size_t before = sim::scm::StatusReports().size();
        bool sent = code == SERVICE_CONTROL_INTERROGATE || code == 0x80;
        DWORD result = code == SERVICE_CONTROL_DEVICEEVENT ? sim::scm::DeviceEvent(0)
                       : sent                              ? runner.Control(code)
                              : ServiceControlHandler(code, 0, nullptr, nullptr);
        EXPECT_EQ(result, expected) << "control " << code;
        auto reports = sim::scm::StatusReports();
        ASSERT_EQ(reports.size(), before + 1) << "control " << code;
        EXPECT_EQ(reports.back().status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
        if (sent) {
            EXPECT_EQ(reports.back().thread, "main");
        }
    }
    // Above version 5 the start and the device event each built the endpoint sync, and the
    // recovery watcher made its own enumerator before RUNNING; at version 5 and below the device
    // event only sent the status.
    EXPECT_EQ(sim::JournalWith("CoCreateInstance").size(), GetParam() > 5 ? 3u : 0u);
    EXPECT_EQ(runner.Control(SERVICE_CONTROL_STOP), static_cast<DWORD>(NO_ERROR));
    ASSERT_TRUE(runner.Join());
    EXPECT_EQ(sim::scm::CurrentState(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(sim::Faults().empty());
}

// After a stop the process is as a new one would find it at its next control, StopEvent was
// signalled once, and ServiceMain consumed the signal and returned.
TEST_P(ServiceLifecycle, StopLeavesTheProcessReadyForAnotherStart) {
    runner.Start();
    ASSERT_TRUE(runner.WaitForRunning());
    ASSERT_TRUE(runner.Stop());
    EXPECT_TRUE(HandlerComInitPending);
    EXPECT_EQ(ServiceState.ServiceDeviceNotification, nullptr);
    // Above version 5 the stop also tells the recovery watcher to end.
    EXPECT_EQ(sim::JournalWith("SetEvent [main]").size(), GetParam() > 5 ? 2u : 1u);
    EXPECT_EQ(platform::WaitForSingleObject(ServiceState.StopEvent, 0),
              static_cast<DWORD>(WAIT_TIMEOUT));
}

INSTANTIATE_TEST_SUITE_P(Versions, ServiceLifecycle, testing::Values(4u, 5u, 6u, 10u),
                         [](const testing::TestParamInfo<DWORD>& info) {
                             return "Windows" + std::to_string(info.param);
                         });

// Above version 5: the device registration goes, the endpoint sync ends, StopEvent is signalled,
// and only then SERVICE_STOPPED is sent.
TEST(ServiceStop, EndpointPathOrder) {
    support::ServiceRunner runner;
    runner.Start();
    ASSERT_TRUE(runner.WaitForRunning());
    ASSERT_TRUE(runner.Stop());
    long control = JournalIndex("ServiceControl 1 0 [main]");
    long unregister = JournalIndex("UnregisterDeviceNotification [main]", control);
    long signal = JournalIndex("SetEvent [main]", unregister);
    long stopped = JournalIndex("SetServiceStatus SERVICE_STOPPED [main]", signal);
    EXPECT_GE(control, 0);
    EXPECT_GT(unregister, control);
    EXPECT_GT(signal, unregister);
    EXPECT_GT(stopped, signal);
}

// At version 5 and below: the mixer thread stops, StopEvent is signalled, COM is released on the
// handler's thread, and then SERVICE_STOPPED is sent.
TEST(ServiceStop, MixerPathOrder) {
    sim::SetWindowsVersion(5, 1);
    support::ServiceRunner runner;
    runner.Start();
    ASSERT_TRUE(runner.WaitForRunning());
    ASSERT_TRUE(runner.Stop());
    long control = JournalIndex("ServiceControl 1 0 [main]");
    long signal = JournalIndex("SetEvent [main]", control);
    long uninitialize = JournalIndex("CoUninitialize [main]", signal);
    long stopped = JournalIndex("SetServiceStatus SERVICE_STOPPED [main]", uninitialize);
    EXPECT_GE(control, 0);
    EXPECT_GT(signal, control);
    EXPECT_GT(uninitialize, signal);
    EXPECT_GT(stopped, uninitialize);
    // The sync window unregisters its own notification on its thread; the handler has none.
    EXPECT_TRUE(sim::JournalWith("UnregisterDeviceNotification [main]").empty());
}

TEST(ServiceStart, FailedHandlerRegistrationStartsNothingAndReportsNothing) {
    sim::FailCall("RegisterServiceCtrlHandlerExW");
    support::ServiceRunner runner;
    runner.Start();
    ASSERT_TRUE(runner.Join());
    EXPECT_EQ(runner.ExitCode(), 0);
    EXPECT_TRUE(sim::scm::StatusReports().empty());
    EXPECT_TRUE(sim::JournalWith("RegisterDeviceNotificationW").empty());
    EXPECT_TRUE(sim::JournalWith("CoInitialize").empty());
    EXPECT_TRUE(sim::JournalWith("CreateThread").empty());
    EXPECT_EQ(ServiceStatusHandle, nullptr);
    EXPECT_TRUE(sim::Faults().empty());
}

TEST(ServiceStateRecordTest, OwnsAnAutoResetStopEvent) {
    std::size_t before = sim::OpenHandles(sim::HandleKind::Event);
    {
        ServiceStateRecord record;
        ASSERT_NE(record.StopEvent, nullptr);
        EXPECT_EQ(record.MixerThreadHandle, nullptr);
        EXPECT_EQ(record.SyncWindowHandle, nullptr);
        EXPECT_EQ(record.ServiceDeviceNotification, nullptr);
        EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Event), before + 1);
        EXPECT_EQ(platform::WaitForSingleObject(record.StopEvent, 0),
                  static_cast<DWORD>(WAIT_TIMEOUT));
        platform::SetEvent(record.StopEvent);
        EXPECT_EQ(platform::WaitForSingleObject(record.StopEvent, 0),
                  static_cast<DWORD>(WAIT_OBJECT_0));
        EXPECT_EQ(platform::WaitForSingleObject(record.StopEvent, 0),
                  static_cast<DWORD>(WAIT_TIMEOUT));
    }
    EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Event), before);
}

// Without StopEvent (CreateEventW failed at start-up) every wait fails at once; ServiceMain rests
// between waits instead of spinning, and returns only once a real StopEvent is signalled.
TEST(ServiceStopEvent, FailedWaitsAreRetriedWithARest) {
    std::size_t before = sim::OpenHandles(sim::HandleKind::Event);
    sim::FailCall("CreateEventW");
    ServiceStateRecord broken;
    ASSERT_EQ(broken.StopEvent, nullptr);

    HANDLE original = ServiceState.StopEvent;
    ServiceState.StopEvent = broken.StopEvent;
    sim::PauseAt("Sleep");
    support::ServiceRunner runner;
    runner.Start();
    ASSERT_TRUE(runner.WaitForRunning());
    ASSERT_TRUE(sim::WaitUntilPaused("Sleep"));
    // Once more round the loop: another failed wait, another rest.
    sim::Resume("Sleep");
    sim::PauseAt("Sleep");
    ASSERT_TRUE(sim::WaitUntilPaused("Sleep"));
    EXPECT_TRUE(sim::scm::DispatcherRunning());
    EXPECT_EQ(sim::scm::CurrentState(), static_cast<DWORD>(SERVICE_RUNNING));

    // ServiceMain is held in its rest: give it the real event and stop the service.
    ServiceState.StopEvent = original;
    sim::Resume("Sleep");
    ASSERT_TRUE(runner.Stop());
    EXPECT_EQ(runner.ExitCode(), 0);
    EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Event), before);
    EXPECT_TRUE(sim::Faults().empty());
}

TEST(ServiceVersion, MajorVersionAboveFiveAskedAtEachUse) {
    sim::SetWindowsVersion(6, 0);
    EXPECT_TRUE(IsVistaOrLater());
    sim::SetWindowsVersion(5, 2);
    EXPECT_FALSE(IsVistaOrLater());
    sim::SetWindowsVersion(10, 0);
    EXPECT_TRUE(IsVistaOrLater());
    sim::SetWindowsVersion(4, 0);
    EXPECT_FALSE(IsVistaOrLater());
}

// A failed version query takes the endpoint path, even on a version-5 machine; the stop's query
// then answers 5, and the stop still ends the device notification the start made.
TEST(ServiceVersion, FailedVersionQueryCountsAsAboveFive) {
    sim::SetWindowsVersion(5, 1);
    sim::FailCall("GetVersionExW", -1);
    EXPECT_TRUE(IsVistaOrLater());
    sim::ClearFailures();

    sim::FailCall("GetVersionExW");
    support::ServiceRunner runner;
    runner.Start();
    ASSERT_TRUE(runner.WaitForRunning());
    EXPECT_EQ(sim::DeviceNotificationCount(), 1u);
    ASSERT_TRUE(runner.Stop());
    EXPECT_EQ(sim::DeviceNotificationCount(), 0u);
    EXPECT_TRUE(sim::Faults().empty());
}

} // namespace
