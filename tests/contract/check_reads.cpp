// Contract cases of what the machine check reads and the service does not (advapi32): a service
// entry's configuration in two calls, its state and the rights each query needs; a folder's
// security descriptor after a size query, self-relative, with its access list.
#include "contract.h"

#include "platform/kernel.h"
#include "platform/scm.h"
#include "platform/security.h"

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

// The running program's folder exists on both machines.
platform::WideString OwnFolder() {
    WCHAR path[MAX_PATH];
    DWORD length = platform::GetModuleFileNameW(nullptr, path, MAX_PATH);
    platform::WideString folder(path, length);
    return folder.substr(0, folder.find_last_of(WIDE('\\')));
}

TEST(FileSecurity, SizeQueryThenSelfRelativeDescriptorWithAccessList) {
    platform::WideString folder = OwnFolder();
    ASSERT_FALSE(folder.empty());
    DWORD needed = 0;
    EXPECT_FALSE(
        platform::GetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GE(needed, 20u); // at least the self-relative header

    std::vector<BYTE> descriptor(needed, 0xCC);
    DWORD again = 0;
    ASSERT_TRUE(platform::GetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION,
                                           descriptor.data(), needed, &again));
    unsigned control = descriptor[2] | (descriptor[3] << 8);
    EXPECT_EQ(descriptor[0], 1); // revision
    EXPECT_TRUE(control & SE_SELF_RELATIVE);
    EXPECT_TRUE(control & SE_DACL_PRESENT);
    DWORD dacl = descriptor[16] | (descriptor[17] << 8) | (descriptor[18] << 16) |
                 (static_cast<DWORD>(descriptor[19]) << 24);
    ASSERT_GE(dacl, 20u);
    ASSERT_LE(dacl + 8, needed);
    EXPECT_EQ(descriptor[dacl], 2); // ACL_REVISION
}

TEST(FileSecurity, MissingPathFails) {
    DWORD needed = 0;
    platform::WideString missing = OwnFolder() + WIDE("\\no such folder");
    EXPECT_FALSE(platform::GetFileSecurityW(missing.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0,
                                            &needed));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

} // namespace
