// Contract cases of advapi32's service control manager: the dispatcher outside a service, and the
// service database as install and remove use it (rights, existing and missing entries, deletion).
// Under Wine they run as an administrator in a throwaway prefix; each case deletes what it made.
#include "contract.h"

#include "platform/kernel.h"
#include "platform/scm.h"

namespace {

WCHAR Name[] = WIDE("QuenvarContractService");
const WCHAR OtherCase[] = WIDE("QUENVARCONTRACTSERVICE");
const WCHAR Path[] = WIDE("C:\\windows\\system32\\notepad.exe");

constexpr DWORD Poison = 0xDEADBEEF;

void WINAPI NeverRuns(DWORD, LPWSTR*) {}

SC_HANDLE Create(SC_HANDLE manager, DWORD access) {
    return platform::CreateServiceW(manager, Name, Name, access, SERVICE_WIN32_OWN_PROCESS,
                                    SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, Path, nullptr,
                                    nullptr, nullptr, nullptr, nullptr);
}

// A manager with every right, and the test service removed at the end whatever the case did.
class ScmDatabase : public ::testing::Test {
  protected:
    void SetUp() override {
        manager = platform::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager, nullptr);
    }
    void TearDown() override {
        if (SC_HANDLE left = platform::OpenServiceW(manager, Name, DELETE)) {
            platform::DeleteService(left);
            platform::CloseServiceHandle(left);
        }
        platform::CloseServiceHandle(manager);
    }
    SC_HANDLE manager = nullptr;
};

// The process entry relies on this refusal to tell a console start from a service start.
TEST(ScmDispatcher, RefusedWhenNotStartedByTheManager) {
    SERVICE_TABLE_ENTRYW table[] = {{Name, NeverRuns}, {nullptr, nullptr}};
    platform::SetLastError(Poison);
    EXPECT_FALSE(platform::StartServiceCtrlDispatcherW(table));
    EXPECT_EQ(platform::GetLastError(),
              static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
}

TEST_F(ScmDatabase, CreatedEntryOpensByNameWithoutCase) {
    SC_HANDLE created = Create(manager, SERVICE_ALL_ACCESS);
    ASSERT_NE(created, nullptr);
    SC_HANDLE opened = platform::OpenServiceW(manager, OtherCase, DELETE);
    EXPECT_NE(opened, nullptr);
    EXPECT_TRUE(platform::CloseServiceHandle(opened));
    EXPECT_TRUE(platform::CloseServiceHandle(created));
}

TEST_F(ScmDatabase, SecondCreateFailsServiceExists) {
    SC_HANDLE created = Create(manager, SERVICE_ALL_ACCESS);
    ASSERT_NE(created, nullptr);
    platform::SetLastError(Poison);
    EXPECT_EQ(Create(manager, SERVICE_ALL_ACCESS), nullptr);
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));
    platform::CloseServiceHandle(created);
}

// Install's OpenSCManagerW must ask for the right to create.
TEST_F(ScmDatabase, CreateNeedsCreateServiceRightOnTheManager) {
    SC_HANDLE connected = platform::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(connected, nullptr);
    platform::SetLastError(Poison);
    EXPECT_EQ(Create(connected, SERVICE_ALL_ACCESS), nullptr);
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    platform::CloseServiceHandle(connected);
    // The generic write right maps to it.
    SC_HANDLE writer = platform::OpenSCManagerW(nullptr, nullptr, GENERIC_WRITE);
    ASSERT_NE(writer, nullptr);
    SC_HANDLE created = Create(writer, 0);
    EXPECT_NE(created, nullptr);
    platform::CloseServiceHandle(created);
    platform::CloseServiceHandle(writer);
}

// Remove's OpenServiceW must ask for DELETE; the create handle's own rights are what it asked.
TEST_F(ScmDatabase, DeleteNeedsTheDeleteRight) {
    SC_HANDLE created = Create(manager, SERVICE_QUERY_STATUS);
    ASSERT_NE(created, nullptr);
    platform::SetLastError(Poison);
    EXPECT_FALSE(platform::DeleteService(created));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    for (DWORD access : {DWORD{GENERIC_WRITE}, DWORD{GENERIC_EXECUTE}, DWORD{GENERIC_READ}}) {
        SC_HANDLE opened = platform::OpenServiceW(manager, Name, access);
        ASSERT_NE(opened, nullptr) << access;
        platform::SetLastError(Poison);
        EXPECT_FALSE(platform::DeleteService(opened)) << access;
        EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << access;
        platform::CloseServiceHandle(opened);
    }
    SC_HANDLE all = platform::OpenServiceW(manager, Name, GENERIC_ALL);
    EXPECT_TRUE(platform::DeleteService(all));
    platform::CloseServiceHandle(all);
    platform::CloseServiceHandle(created);
}

// An entry deleted while a handle to it is open is only marked; it goes with its last handle.
TEST_F(ScmDatabase, DeletedEntryGoesWithItsLastHandle) {
    SC_HANDLE created = Create(manager, SERVICE_ALL_ACCESS);
    ASSERT_NE(created, nullptr);
    SC_HANDLE opened = platform::OpenServiceW(manager, Name, DELETE);
    ASSERT_NE(opened, nullptr);
    EXPECT_TRUE(platform::DeleteService(opened));
    platform::SetLastError(Poison);
    EXPECT_FALSE(platform::DeleteService(created));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_TRUE(platform::CloseServiceHandle(opened));
    EXPECT_TRUE(platform::CloseServiceHandle(created));
    platform::SetLastError(Poison);
    EXPECT_EQ(platform::OpenServiceW(manager, Name, DELETE), nullptr);
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(ScmDatabase, CreateWhileMarkedForDeletionFails) {
    SC_HANDLE created = Create(manager, SERVICE_ALL_ACCESS);
    ASSERT_NE(created, nullptr);
    EXPECT_TRUE(platform::DeleteService(created));
    platform::SetLastError(Poison);
    EXPECT_EQ(Create(manager, SERVICE_ALL_ACCESS), nullptr);
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    platform::CloseServiceHandle(created);
}

void CALLBACK Noticed(PVOID parameter) {
    auto* record = static_cast<SERVICE_NOTIFYW*>(parameter);
    ++*static_cast<int*>(record->pContext);
}

// Resolved at run time (the executable must load where advapi32 lacks it); a state the service is
// in already is told at once, as an APC that runs only in an alertable wait of the same thread. A
// running service of Windows: the audio service on the simulated machine, Plug and Play in Wine.
TEST_F(ScmDatabase, StatusNoticeOfARunningServiceComesAtAnAlertableWait) {
    auto notify = reinterpret_cast<platform::NotifyServiceStatusChangeWProc>(
        reinterpret_cast<void (*)()>(platform::GetProcAddress(
            platform::GetModuleHandleW(WIDE("advapi32.dll")), "NotifyServiceStatusChangeW")));
    ASSERT_NE(notify, nullptr);
    SC_HANDLE service = platform::OpenServiceW(
        manager, contract::OnSim ? WIDE("AudioSrv") : WIDE("PlugPlay"), SERVICE_QUERY_STATUS);
    ASSERT_NE(service, nullptr);
    int notices = 0;
    SERVICE_NOTIFYW record = {};
    record.dwVersion = SERVICE_NOTIFY_STATUS_CHANGE;
    record.pfnNotifyCallback = Noticed;
    record.pContext = &notices;
    ASSERT_EQ(notify(service, SERVICE_NOTIFY_STOPPED | SERVICE_NOTIFY_RUNNING, &record),
              static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE never = platform::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(platform::WaitForMultipleObjectsEx(1, &never, FALSE, 50, FALSE),
              static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(notices, 0);
    EXPECT_EQ(platform::WaitForMultipleObjectsEx(1, &never, FALSE, 10000, TRUE),
              static_cast<DWORD>(WAIT_IO_COMPLETION));
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(record.ServiceStatus.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(record.dwNotificationTriggered, static_cast<DWORD>(SERVICE_NOTIFY_RUNNING));
    SERVICE_STATUS status = {};
    EXPECT_FALSE(platform::ControlService(service, 128, &status));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(platform::CloseHandle(never));
    EXPECT_TRUE(platform::CloseServiceHandle(service));
}

} // namespace
