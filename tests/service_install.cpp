// "-install" and "-remove": the service entry they create and delete, and the SC handles they
// close on every path.
#include "platform/sim/machine.h"
#include "platform/sim/scm.h"
#include "service/install.h"
#include "support/service_runner.h"

#include <gtest/gtest.h>

namespace {

using platform::WideString;

const WideString Name = WIDE("Quenvar_Service");

std::optional<sim::scm::ServiceEntry> Entry() {
    return sim::scm::FindService(Name);
}

TEST(ServiceInstall, CreatesTheEntryWithTheQuotedPath) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(InstallService(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    auto entry = Entry();
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, Name);
    EXPECT_EQ(entry->displayName, WideString(WIDE("Quenvar Service")));
    EXPECT_EQ(entry->serviceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(entry->startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(entry->errorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(entry->binaryPath,
              WideString(WIDE("\"C:\\Program Files\\Quenvar\\QuenvarService.exe\"")));
    EXPECT_TRUE(entry->loadOrderGroup.empty());
    EXPECT_TRUE(entry->dependencies.empty());
    EXPECT_TRUE(entry->account.empty());
    EXPECT_FALSE(entry->tagRequested);
    EXPECT_FALSE(entry->passwordGiven);
    EXPECT_FALSE(entry->markedForDeletion);
    EXPECT_FALSE(entry->running);
    EXPECT_EQ(entry->description.substr(0, 22), WideString(WIDE("Keeps the volume and m")));
    EXPECT_EQ(entry->resetPeriod, 86400u);
    ASSERT_EQ(entry->failureActions.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(entry->failureActions[i].Type, i < 2 ? SC_ACTION_RESTART : SC_ACTION_NONE) << i;
        EXPECT_EQ(entry->failureActions[i].Delay, i < 2 ? 60000u : 0u) << i;
    }
    // Who could replace the program is judged before anything is registered.
    std::vector<std::string> journal = sim::Journal();
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.front(),
              "GetFileSecurityW C:\\Program Files\\Quenvar\\QuenvarService.exe size=0 failed 122 "
              "[test]");
    std::erase_if(journal, [](const std::string& entry) { return entry.starts_with("GetFile"); });
    EXPECT_EQ(journal,
              (std::vector<std::string>{"OpenSCManagerW access=0xF003F [test]",
                                        "CreateServiceW Quenvar_Service access=0xF01FF [test]",
                                        "ChangeServiceConfig2W Quenvar_Service level=1 [test]",
                                        "ChangeServiceConfig2W Quenvar_Service level=2 [test]",
                                        "CloseServiceHandle [test]", "CloseServiceHandle [test]"}));
    EXPECT_EQ(sim::scm::OpenScHandles(), 0u);
    EXPECT_TRUE(sim::Faults().empty());
}

TEST(ServiceInstall, LongestPathThatFitsIsRegisteredWhole) {
    WideString path = WIDE("C:\\") + WideString(MAX_PATH - 1 - 9, WIDE('a')) + WIDE("\\x.exe");
    ASSERT_EQ(path.size(), static_cast<std::size_t>(MAX_PATH - 1));
    sim::SetModulePath(path);
    EXPECT_EQ(InstallService(), static_cast<DWORD>(ERROR_SUCCESS));
    auto entry = Entry();
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->binaryPath, WIDE("\"") + path + WIDE("\""));
}

// A path that does not fit comes back cut short; nothing is registered for it.
TEST(ServiceInstall, TruncatedPathIsNotRegistered) {
    for (std::size_t length : {std::size_t{MAX_PATH}, std::size_t{MAX_PATH + 40}}) {
        sim::ClearJournal();
        sim::SetModulePath(WIDE("C:\\") + WideString(length - 3, WIDE('b')));
        EXPECT_EQ(InstallService(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE)) << length;
        EXPECT_FALSE(Entry()) << length;
        EXPECT_TRUE(sim::JournalWith("OpenSCManagerW").empty()) << length;
    }
}

TEST(ServiceInstall, FailedModulePathStopsEarly) {
    sim::FailCall("GetModuleFileNameW");
    EXPECT_EQ(InstallService(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_FALSE(Entry());
    EXPECT_TRUE(sim::Journal().empty());
}

TEST(ServiceInstall, SecondInstallLeavesTheFirstEntry) {
    InstallService();
    sim::SetModulePath(WIDE("C:\\Program Files\\QuenvarService.exe"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(InstallService(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "QuenvarService -install: creating the service entry failed: error 1073\n");
    auto entry = Entry();
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->binaryPath,
              WideString(WIDE("\"C:\\Program Files\\Quenvar\\QuenvarService.exe\"")));
    EXPECT_EQ(sim::JournalWith("CreateServiceW Quenvar_Service access=0xF01FF failed 1073").size(),
              1u);
    EXPECT_EQ(sim::scm::ServiceCount(), 1u);
    EXPECT_EQ(sim::scm::OpenScHandles(), 0u);
}

TEST(ServiceInstall, WithoutAdministratorRightsNothingChanges) {
    sim::scm::SetElevated(false);
    EXPECT_EQ(InstallService(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(Entry());
    sim::scm::SetElevated(true);
    InstallService();
    sim::scm::SetElevated(false);
    EXPECT_EQ(RemoveService(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(Entry());
    EXPECT_EQ(sim::JournalWith("OpenSCManagerW access=0xF003F failed 5").size(), 2u);
    EXPECT_EQ(sim::scm::OpenScHandles(), 0u);
}

TEST(ServiceInstall, FailedCreateClosesTheManager) {
    sim::FailCall("CreateServiceW");
    EXPECT_EQ(InstallService(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(Entry());
    EXPECT_EQ(sim::JournalWith("CloseServiceHandle").size(), 1u);
    EXPECT_EQ(sim::scm::OpenScHandles(), 0u);
}

// Others could replace the program: -install says so and still registers it.
TEST(ServiceInstall, WarnsWhenOthersCouldReplaceTheProgram) {
    sim::SetFileSecurity(WIDE("C:\\Program Files\\Quenvar"),
                         sim::SecurityDescriptor(sim::ProgramFilesAccess(), "S-1-5-21-0-0-0-1000"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(InstallService(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "QuenvarService -install: warning: others than administrators can replace the "
              "program: \"C:\\Program Files\\Quenvar\": S-1-5-21-0-0-0-1000 owns it\n");
    EXPECT_TRUE(Entry());
}

// A failed extra is reported like any step, and the entry it was for stays.
TEST(ServiceInstall, FailedExtrasLeaveTheEntry) {
    for (const char* step : {"description", "failure actions"}) {
        sim::ResetMachine();
        sim::FailCall("ChangeServiceConfig2W", 1, step[0] == 'd' ? 0 : 1);
        testing::internal::CaptureStderr();
        EXPECT_EQ(InstallService(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << step;
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "QuenvarService -install: setting the entry's " + std::string(step) +
                      " failed: error 5\n");
        EXPECT_TRUE(Entry()) << step;
        EXPECT_EQ(sim::scm::OpenScHandles(), 0u);
    }
}

TEST(ServiceRemove, DeletesTheEntry) {
    InstallService();
    sim::ClearJournal();
    EXPECT_EQ(RemoveService(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(Entry());
    EXPECT_EQ(sim::Journal(),
              (std::vector<std::string>{"OpenSCManagerW access=0xF003F [test]",
                                        "OpenServiceW Quenvar_Service access=0x10000 [test]",
                                        "DeleteService Quenvar_Service [test]",
                                        "CloseServiceHandle [test]", "CloseServiceHandle [test]"}));
    EXPECT_EQ(sim::scm::OpenScHandles(), 0u);
    EXPECT_TRUE(sim::Faults().empty());
}

TEST(ServiceRemove, MissingEntryChangesNothing) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(RemoveService(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "QuenvarService -remove: opening the service entry failed: error 1060\n");
    EXPECT_EQ(sim::JournalWith("OpenServiceW Quenvar_Service access=0x10000 failed 1060").size(),
              1u);
    EXPECT_TRUE(sim::JournalWith("DeleteService").empty());
    EXPECT_EQ(sim::scm::OpenScHandles(), 0u);
}

TEST(ServiceRemove, FailedDeleteStillClosesBothHandles) {
    InstallService();
    sim::FailCall("DeleteService");
    EXPECT_EQ(RemoveService(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(Entry());
    EXPECT_EQ(sim::JournalWith("CloseServiceHandle").size(), 4u);
    EXPECT_EQ(sim::scm::OpenScHandles(), 0u);
}

// The running service is not stopped; its entry is marked, refuses a new install, and goes when
// the service stops.
TEST(ServiceRemove, WhileRunningMarksTheEntryForDeletion) {
    InstallService();
    support::ServiceRunner runner;
    runner.Start();
    ASSERT_TRUE(runner.WaitForRunning());
    ASSERT_TRUE(Entry() && Entry()->running);

    EXPECT_EQ(support::RunEntry({WIDE("-remove")}), ERROR_SUCCESS);
    ASSERT_TRUE(Entry());
    EXPECT_TRUE(Entry()->markedForDeletion);
    EXPECT_TRUE(sim::scm::DispatcherRunning());
    EXPECT_TRUE(sim::scm::Controls().empty());

    sim::SetModulePath(WIDE("D:\\Other\\QuenvarService.exe"));
    EXPECT_EQ(support::RunEntry({WIDE("-install")}), ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_EQ(sim::JournalWith("CreateServiceW Quenvar_Service access=0xF01FF failed 1072").size(),
              1u);
    EXPECT_EQ(Entry()->binaryPath,
              WideString(WIDE("\"C:\\Program Files\\Quenvar\\QuenvarService.exe\"")));

    ASSERT_TRUE(runner.Stop());
    EXPECT_FALSE(Entry());
    EXPECT_EQ(sim::scm::OpenScHandles(), 0u);
    EXPECT_TRUE(sim::Faults().empty());
}

} // namespace
