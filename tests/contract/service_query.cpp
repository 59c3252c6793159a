// Contract cases of the service manager's queries: an entry's configuration in two calls, its
// state, and the access rights each query needs (the machine check reads the service's entry with
// these alone).
#include "contract.h"

#include "platform/kernel.h"
#include "platform/scm.h"

#include <cstring>
#include <vector>

namespace {

const WCHAR* const Name = WIDE("QuenvarContract");
const WCHAR* const Path = WIDE("\"C:\\Program Files\\Quenvar\\QuenvarService.exe\"");

TEST(ServiceQuery, ConfigurationInTwoCallsAndStateOfAStoppedEntry) {
    SC_HANDLE manager = platform::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    SC_HANDLE created = platform::CreateServiceW(manager, Name, WIDE("Quenvar Contract"),
                                                 SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, Path,
                                                 nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(created, nullptr);
    EXPECT_TRUE(platform::CloseServiceHandle(created));

    SC_HANDLE reader = platform::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(reader, nullptr);
    SC_HANDLE service =
        platform::OpenServiceW(reader, Name, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    ASSERT_NE(service, nullptr);
    DWORD needed = 0;
    EXPECT_FALSE(platform::QueryServiceConfigW(service, nullptr, 0, &needed));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GT(needed, sizeof(QUERY_SERVICE_CONFIGW));
    std::vector<BYTE> buffer(needed, 0xCC);
    auto* config = reinterpret_cast<LPQUERY_SERVICE_CONFIGW>(buffer.data());
    ASSERT_TRUE(platform::QueryServiceConfigW(service, config, needed, &needed));
    EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(platform::WideString(config->lpBinaryPathName), Path);
    EXPECT_EQ(platform::WideString(config->lpDisplayName), WIDE("Quenvar Contract"));
    EXPECT_EQ(platform::WideString(config->lpServiceStartName), WIDE("LocalSystem"));

    SERVICE_STATUS status;
    std::memset(&status, 0xCC, sizeof status);
    ASSERT_TRUE(platform::QueryServiceStatus(service, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_TRUE(platform::CloseServiceHandle(service));

    // A handle without the query rights is refused.
    SC_HANDLE deleter = platform::OpenServiceW(manager, Name, DELETE);
    ASSERT_NE(deleter, nullptr);
    EXPECT_FALSE(platform::QueryServiceStatus(deleter, &status));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(platform::QueryServiceConfigW(deleter, config, needed, &needed));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(platform::DeleteService(deleter));
    EXPECT_TRUE(platform::CloseServiceHandle(deleter));
    EXPECT_TRUE(platform::CloseServiceHandle(reader));
    EXPECT_TRUE(platform::CloseServiceHandle(manager));
}

} // namespace
