// Contract cases of advapi32's file security: GetFileSecurityW's size query and the self-relative
// descriptor it then gives (the machine check reads a folder's access list from it).
#include "contract.h"

#include "platform/kernel.h"
#include "platform/security.h"

#include <vector>

namespace {

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
