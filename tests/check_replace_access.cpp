// Who could replace the service's program: each rule of the judgement on one changed item of an
// otherwise administrators-only path.
#include "platform/sim/machine.h"
#include "safety/replace_access.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using platform::WideString;

const WideString Program = WIDE("C:\\Program Files\\Quenvar\\QuenvarService.exe");
const WideString Folder = WIDE("C:\\Program Files\\Quenvar");
const WideString ProgramFiles = WIDE("C:\\Program Files");

struct Rule {
    const char* name;
    std::function<void()> change;
    std::vector<std::string> found;
};

void Allow(const WideString& path, BYTE flags, DWORD mask, const char* sid) {
    auto access = path == WIDE("C:\\") ? sim::DriveRootAccess() : sim::ProgramFilesAccess();
    access.push_back({ACCESS_ALLOWED_ACE_TYPE, flags, mask, sid});
    sim::SetFileSecurity(path, sim::SecurityDescriptor(access));
}

class ReplaceRule : public testing::TestWithParam<Rule> {};

TEST_P(ReplaceRule, FindsWhoCouldReplace) {
    GetParam().change();
    safety::Replacers replacers = safety::WhoCanReplace(Program);
    EXPECT_TRUE(replacers.unreadable.empty());
    std::vector<std::string> found;
    for (auto& other : replacers.others) {
        found.push_back(safety::Describe(other));
    }
    EXPECT_EQ(found, GetParam().found);
}

const BYTE ToFiles = OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE;
const BYTE ToFolders = CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE;

INSTANTIATE_TEST_SUITE_P(
    Judgement, ReplaceRule,
    testing::Values(
        // Windows' own permissions, the drive root's included, leave it to administrators.
        Rule{"Default", [] {}, {}},
        Rule{"ProgramWritable",
             [] { Allow(Program, 0, FILE_WRITE_DATA, "S-1-5-32-545"); },
             {"\"C:\\Program Files\\Quenvar\\QuenvarService.exe\": S-1-5-32-545 (Users) may "
              "write data"}},
        Rule{"FolderPassesWriteToFiles",
             [] { Allow(Folder, ToFiles, GENERIC_WRITE, "S-1-5-11"); },
             {"\"C:\\Program Files\\Quenvar\": S-1-5-11 (Authenticated Users) may write (new "
              "files)"}},
        Rule{"FolderPassesToFoldersOnly",
             [] { Allow(Folder, ToFolders, GENERIC_ALL, "S-1-5-11"); },
             {}},
        Rule{"FolderDeletable",
             [] { Allow(Folder, 0, DELETE, "S-1-5-32-545"); },
             {"\"C:\\Program Files\\Quenvar\": S-1-5-32-545 (Users) may delete"}},
        Rule{"ParentDeletesChildren",
             [] { Allow(ProgramFiles, 0, FILE_DELETE_CHILD, "S-1-5-11"); },
             {"\"C:\\Program Files\": S-1-5-11 (Authenticated Users) may delete files"}},
        Rule{"ParentWritableOnly",
             [] { Allow(ProgramFiles, 0, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY, "S-1-5-11"); },
             {}},
        Rule{"RootPermissionsChangeable",
             [] { Allow(WIDE("C:\\"), 0, WRITE_DAC, "S-1-1-0"); },
             {"\"C:\\\": S-1-1-0 (Everyone) may change permissions"}},
        Rule{"FolderOwnedByAUser",
             [] {
                 sim::SetFileSecurity(Folder, sim::SecurityDescriptor(sim::ProgramFilesAccess(),
                                                                      "S-1-5-21-0-0-0-1000"));
             },
             {"\"C:\\Program Files\\Quenvar\": S-1-5-21-0-0-0-1000 owns it"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A missing program is passed over (the check judges the folder beside it); a missing folder is
// not, and nothing above it is judged.
TEST(Judgement, UnreadableFolderStopsIt) {
    Allow(ProgramFiles, 0, FILE_DELETE_CHILD, "S-1-5-11");
    safety::Replacers replacers = safety::WhoCanReplace(WIDE("C:\\Program Files\\Gone\\x.exe"));
    EXPECT_EQ(replacers.unreadable, WideString(WIDE("C:\\Program Files\\Gone")));
    EXPECT_EQ(replacers.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(replacers.others.empty());
}

} // namespace
