// Who could replace what the LocalSystem service runs: the judgement that QuenvarCheck reports and
// that -install warns with.
#pragma once

#include "platform/types.h"

#include <string>
#include <vector>

namespace safety {

// One account other than the administrative ones that could replace the program, and how.
struct Replacer {
    platform::WideString path; // the program, its folder or a folder above it
    std::string who;           // "S-1-5-11 (Authenticated Users)"
    std::string how;           // "may add files, delete" or "owns it"
};

struct Replacers {
    std::vector<Replacer> others; // empty when administrators alone could
    // The first path whose permissions could not be read, and the error; the judgement stops there.
    platform::WideString unreadable;
    DWORD error = ERROR_SUCCESS;
};

// Judges the program at `program` (a missing file is skipped: the check may judge a folder the
// service is not in yet), its folder and every folder above it, from their owners and access lists:
// - the program: allowing entries effective on it that write, delete or re-permission it;
// - its folder: the same on the folder, including inherit-only entries that reach files;
// - each folder above: rights that let an account delete, rename or re-create the folder below
//   (delete child entries, delete, change permissions, take ownership);
// - each of them: an owner other than SYSTEM, Administrators or TrustedInstaller.
// A denying entry earlier in a list takes its rights away from the same account.
Replacers WhoCanReplace(const platform::WideString& program);

// "\"<path>\": <who> <how>".
std::string Describe(const Replacer& replacer);

} // namespace safety
