// The process entry: which first argument runs which command, and its exit status and message.
#include "platform/sim/machine.h"
#include "platform/sim/scm.h"
#include "service/service.h"
#include "support/service_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using platform::WideString;
using support::RunEntry;

bool Installed() {
    return sim::scm::FindService(WIDE("Quenvar_Service")).has_value();
}

// Entries into the dispatcher with a table of the one service and its {null, null} end.
std::size_t DispatcherEntries() {
    return sim::JournalWith("StartServiceCtrlDispatcherW entries=1 [").size();
}

// Runs the entry with stdout and stderr captured; nothing may reach stdout, and stderr must hold
// exactly `message`.
int RunSilently(const std::vector<WideString>& arguments, const std::string& message = "") {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int exitCode = RunEntry(arguments);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), message);
    return exitCode;
}

class InstallWord : public testing::TestWithParam<std::vector<WideString>> {};

TEST_P(InstallWord, RunsInstallOnly) {
    EXPECT_EQ(RunSilently(GetParam()), 0);
    EXPECT_TRUE(Installed());
    EXPECT_EQ(DispatcherEntries(), 0u);
    EXPECT_TRUE(sim::JournalWith("OpenServiceW").empty());
}

INSTANTIATE_TEST_SUITE_P(ServiceEntry, InstallWord,
                         testing::Values(std::vector<WideString>{WIDE("-install")},
                                         std::vector<WideString>{WIDE("-INSTALL")},
                                         std::vector<WideString>{WIDE("-Install")},
                                         std::vector<WideString>{WIDE("-install"), WIDE("-remove")},
                                         std::vector<WideString>{WIDE("-install"), WIDE("extra"),
                                                                 WIDE("words")}));

class RemoveWord : public testing::TestWithParam<std::vector<WideString>> {};

TEST_P(RemoveWord, RunsRemoveOnly) {
    ASSERT_EQ(RunEntry({WIDE("-install")}), 0);
    ASSERT_TRUE(Installed());
    sim::ClearJournal();
    EXPECT_EQ(RunSilently(GetParam()), 0);
    EXPECT_FALSE(Installed());
    EXPECT_EQ(DispatcherEntries(), 0u);
    EXPECT_TRUE(sim::JournalWith("CreateServiceW").empty());
}

INSTANTIATE_TEST_SUITE_P(ServiceEntry, RemoveWord,
                         testing::Values(std::vector<WideString>{WIDE("-remove")},
                                         std::vector<WideString>{WIDE("-REMOVE")},
                                         std::vector<WideString>{WIDE("-Remove"),
                                                                 WIDE("-install")}));

class OtherWord : public testing::TestWithParam<std::vector<WideString>> {};

// From a console (not started by the service manager) the dispatcher refuses at once: its error
// is the exit status, and one line says what the program is.
TEST_P(OtherWord, EntersTheDispatcher) {
    EXPECT_EQ(RunSilently(GetParam(),
                          "QuenvarService.exe is the Quenvar Service, started by the service "
                          "control manager; to install it, run \"QuenvarService.exe -install\" as "
                          "an administrator (\"-remove\" removes it)\n"),
              ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    EXPECT_EQ(DispatcherEntries(), 1u);
    EXPECT_TRUE(sim::JournalWith("OpenSCManagerW").empty());
    EXPECT_TRUE(sim::JournalWith("RegisterServiceCtrlHandlerExW").empty());
    EXPECT_TRUE(sim::scm::StatusReports().empty());
    EXPECT_FALSE(Installed());
}

INSTANTIATE_TEST_SUITE_P(ServiceEntry, OtherWord,
                         testing::Values(std::vector<WideString>{},
                                         std::vector<WideString>{WIDE("install")},
                                         std::vector<WideString>{WIDE("remove")},
                                         std::vector<WideString>{WIDE("/install")},
                                         std::vector<WideString>{WIDE("-installer")},
                                         std::vector<WideString>{WIDE("")},
                                         std::vector<WideString>{WIDE("-run"), WIDE("-install")}));

// With an argument count of 0 only the terminator argv[0] may be read: the slot past it holds a
// command word that an entry reading argv[1] regardless would run.
TEST(ServiceEntry, EmptyArgumentVectorEntersTheDispatcher) {
    WCHAR sentinel[] = WIDE("-install");
    WCHAR* argv[] = {nullptr, sentinel, nullptr};
    WCHAR* envp[] = {nullptr};
    testing::internal::CaptureStderr();
    EXPECT_EQ(ProcessEntry(0, argv, envp), ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::HasSubstr("-install"));
    EXPECT_EQ(DispatcherEntries(), 1u);
    EXPECT_FALSE(Installed());
}

TEST(ServiceEntry, FailingCommandsExitWithTheirError) {
    sim::scm::SetElevated(false);
    const std::string opening = ": opening the service control manager failed: error 5\n";
    EXPECT_EQ(RunSilently({WIDE("-install")}, "QuenvarService -install" + opening), 5);
    EXPECT_FALSE(Installed());
    EXPECT_EQ(RunSilently({WIDE("-remove")}, "QuenvarService -remove" + opening), 5);
    EXPECT_EQ(sim::JournalWith("OpenSCManagerW access=0xF003F failed 5").size(), 2u);
}

// The DLL search is restricted before any other platform call, whatever the command: through
// kernel32's SetDefaultDllDirectories where it has it, else by taking the current folder out.
TEST(ServiceEntry, RestrictsTheDllSearchFirst) {
    for (bool exported : {true, false}) {
        sim::SetDefaultDllDirectoriesExported(exported);
        for (const WCHAR* command : {WIDE("-install"), WIDE("-remove"), WIDE("")}) {
            sim::ClearJournal();
            testing::internal::CaptureStderr();
            RunEntry({command});
            testing::internal::GetCapturedStderr();
            std::vector<std::string> first = sim::Journal();
            first.resize(3);
            EXPECT_EQ(first,
                      (std::vector<std::string>{
                          "GetModuleHandleW kernel32.dll [test]",
                          exported ? "GetProcAddress SetDefaultDllDirectories [test]"
                                   : "GetProcAddress SetDefaultDllDirectories failed 127 [test]",
                          exported ? "SetDefaultDllDirectories 0x800 [test]"
                                   : "SetDllDirectoryW \"\" [test]"}))
                << sim::Narrow(command);
        }
    }
}

TEST(ServiceEntry, StartedByTheManagerRunsTheServiceAndExitsWithZero) {
    support::ServiceRunner runner;
    runner.Start();
    ASSERT_TRUE(runner.WaitForRunning());
    ASSERT_TRUE(runner.Stop());
    EXPECT_EQ(runner.ExitCode(), 0);
    EXPECT_EQ(DispatcherEntries(), 1u);
    // No context: the handler is registered by name alone.
    EXPECT_EQ(sim::JournalWith("RegisterServiceCtrlHandlerExW"),
              std::vector<std::string>{"RegisterServiceCtrlHandlerExW Quenvar_Service [service]"});
    EXPECT_TRUE(sim::Faults().empty());
}

} // namespace
