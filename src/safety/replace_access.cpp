// Who could replace the service's program, from the owners and access lists of the program and of
// every folder on its path.
#include "safety/replace_access.h"

#include "platform/kernel.h"
#include "platform/security.h"
#include "safety/text.h"

#include <map>

namespace safety {
namespace {

// Little-endian reads inside a buffer the platform filled; false past its end.
bool Read16(const std::vector<BYTE>& bytes, std::size_t at, DWORD& value) {
    if (at + 2 > bytes.size()) {
        return false;
    }
    value = static_cast<DWORD>(bytes[at] | (bytes[at + 1] << 8));
    return true;
}

bool Read32(const std::vector<BYTE>& bytes, std::size_t at, DWORD& value) {
    if (at + 4 > bytes.size()) {
        return false;
    }
    value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
    }
    return true;
}

// "S-1-5-32-545" of the SID at `at`, or empty when it does not fit inside `end`.
std::string SidText(const std::vector<BYTE>& bytes, std::size_t at, std::size_t end) {
    if (at + 8 > end) {
        return "";
    }
    std::size_t count = bytes[at + 1];
    if (at + 8 + 4 * count > end) {
        return "";
    }
    unsigned long long authority = 0;
    for (std::size_t i = 2; i < 8; ++i) {
        authority = (authority << 8) | bytes[at + i];
    }
    std::string text = "S-";
    text.append(std::to_string(bytes[at])).append("-").append(std::to_string(authority));
    for (std::size_t i = 0; i < count; ++i) {
        DWORD sub = 0;
        Read32(bytes, at + 8 + 4 * i, sub);
        text.append("-").append(std::to_string(sub));
    }
    return text;
}

const char* const TrustedInstaller =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// Accounts that may own the program of a LocalSystem service and everything above it.
bool AdministrativeOwner(const std::string& sid) {
    return sid == "S-1-5-18" || sid == "S-1-5-32-544" || sid == TrustedInstaller;
}

// Accounts whose rights do not count. CREATOR OWNER is given to new items only, whose creator
// already had to be allowed to create them.
bool Administrative(const std::string& sid) {
    return AdministrativeOwner(sid) || sid == "S-1-3-0";
}

std::string AccountName(const std::string& sid) {
    static const std::map<std::string, std::string> names = {
        {"S-1-1-0", "Everyone"},         {"S-1-5-11", "Authenticated Users"},
        {"S-1-5-32-545", "Users"},       {"S-1-5-4", "INTERACTIVE"},
        {"S-1-5-32-547", "Power Users"}, {"S-1-5-7", "ANONYMOUS LOGON"}};
    auto found = names.find(sid);
    return found == names.end() ? sid : sid + " (" + found->second + ")";
}

// Rights on the program or its folder that let an account change what runs: write or delete the
// program, put a program or DLL into the folder, or give itself that right.
constexpr DWORD WriteRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE |
                              WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// Rights on a folder above that let an account delete or rename the folder below it and make a
// new one in its place, or give itself that right. Writing into the folder above does not.
constexpr DWORD ParentRights = FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

std::string RightsText(DWORD rights, bool file) {
    static const std::pair<DWORD, const char*> named[] = {
        {GENERIC_ALL, "full control"},       {GENERIC_WRITE, "write"},
        {FILE_DELETE_CHILD, "delete files"}, {DELETE, "delete"},
        {WRITE_DAC, "change permissions"},   {WRITE_OWNER, "take ownership"}};
    std::string text;
    if (rights & FILE_ADD_FILE) {
        text = file ? "write data" : "add files";
    }
    if (rights & FILE_ADD_SUBDIRECTORY) {
        text += (text.empty() ? "" : ", ") + std::string(file ? "append data" : "add folders");
    }
    for (auto& [right, name] : named) {
        if (rights & right) {
            text += (text.empty() ? "" : ", ") + std::string(name);
        }
    }
    return text;
}

enum class Kind { Program, Folder, Above };

// Adds who other than administrators holds `rights` on the item of the self-relative
// `descriptor`; false when the descriptor is malformed.
bool Judge(const std::vector<BYTE>& descriptor, const platform::WideString& path, Kind kind,
           std::vector<Replacer>& others) {
    DWORD control = 0, ownerOffset = 0, daclOffset = 0;
    if (!Read16(descriptor, 2, control) || !Read32(descriptor, 4, ownerOffset) ||
        !Read32(descriptor, 16, daclOffset)) {
        return false;
    }
    if (ownerOffset != 0) {
        std::string owner = SidText(descriptor, ownerOffset, descriptor.size());
        if (owner.empty()) {
            return false;
        }
        if (!AdministrativeOwner(owner)) {
            others.push_back({path, AccountName(owner), "owns it"});
        }
    }
    if (!(control & SE_DACL_PRESENT) || daclOffset == 0) {
        others.push_back({path, "everyone", "may do everything (no access list)"});
        return true;
    }
    DWORD aclSize = 0, aceCount = 0;
    if (!Read16(descriptor, daclOffset + 2, aclSize) ||
        !Read16(descriptor, daclOffset + 4, aceCount) || daclOffset + aclSize > descriptor.size()) {
        return false;
    }
    // FILE_DELETE_CHILD means nothing on a file.
    const DWORD rights = kind == Kind::Above     ? ParentRights
                         : kind == Kind::Program ? WriteRights & ~FILE_DELETE_CHILD
                                                 : WriteRights;
    std::size_t end = daclOffset + aclSize;
    std::size_t at = daclOffset + 8;
    // Denied rights per account, apart for the item itself and for the files it passes them to.
    std::map<std::pair<std::string, bool>, DWORD> denied;
    for (DWORD i = 0; i < aceCount; ++i) {
        DWORD aceSize = 0, mask = 0;
        if (at + 8 > end || !Read16(descriptor, at + 2, aceSize) || aceSize < 8 ||
            at + aceSize > end || !Read32(descriptor, at + 4, mask)) {
            return false;
        }
        BYTE type = descriptor[at];
        BYTE flags = descriptor[at + 1];
        std::string sid = SidText(descriptor, at + 8, at + aceSize);
        at += aceSize;
        bool effective = !(flags & INHERIT_ONLY_ACE);
        // Entries a folder only passes on count where they reach the files beside the program.
        bool reachesFiles = kind == Kind::Folder && (flags & OBJECT_INHERIT_ACE);
        if (sid.empty() || (!effective && !reachesFiles)) {
            continue;
        }
        DWORD& taken = denied[{sid, effective}];
        if (type == ACCESS_DENIED_ACE_TYPE) {
            taken |= mask;
        } else if (type == ACCESS_ALLOWED_ACE_TYPE && (mask & rights & ~taken) &&
                   !Administrative(sid)) {
            std::string how = "may " + RightsText(mask & rights & ~taken, kind == Kind::Program);
            others.push_back({path, AccountName(sid), effective ? how : how + " (new files)"});
        }
    }
    return true;
}

// The item's owner and access list; false with the error when it cannot be read.
bool ReadDescriptor(const platform::WideString& path, std::vector<BYTE>& descriptor, DWORD& error) {
    const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    platform::GetFileSecurityW(path.c_str(), wanted, nullptr, 0, &needed);
    error = platform::GetLastError();
    if (needed == 0) {
        return false;
    }
    descriptor.resize(needed);
    if (!platform::GetFileSecurityW(path.c_str(), wanted, descriptor.data(), needed, &needed)) {
        error = platform::GetLastError();
        return false;
    }
    error = ERROR_SUCCESS;
    return true;
}

// The folder that holds `path`, with a drive's root as "C:\"; empty above a root or a share.
platform::WideString Above(const platform::WideString& path) {
    auto slash = path.find_last_of(WIDE("\\/"));
    if (slash == platform::WideString::npos || slash + 1 == path.size()) {
        return {};
    }
    if (slash == 2 && path[1] == WIDE(':')) {
        return path.substr(0, 3);
    }
    platform::WideString folder = path.substr(0, slash);
    // "\\server\share" is the top of a network path.
    if (folder.size() > 2 && folder[0] == WIDE('\\') && folder[1] == WIDE('\\') &&
        folder.find(WIDE('\\'), 2) == platform::WideString::npos) {
        return {};
    }
    return slash < 2 ? platform::WideString() : folder;
}

} // namespace

Replacers WhoCanReplace(const platform::WideString& program) {
    Replacers result;
    Kind kind = Kind::Program;
    for (platform::WideString path = program; !path.empty(); path = Above(path)) {
        std::vector<BYTE> descriptor;
        DWORD error = ERROR_SUCCESS;
        if (!ReadDescriptor(path, descriptor, error)) {
            if (!(kind == Kind::Program && error == ERROR_FILE_NOT_FOUND)) {
                result.unreadable = path;
                result.error = error;
                return result;
            }
        } else if (!Judge(descriptor, path, kind, result.others)) {
            result.unreadable = path;
            result.error = ERROR_INVALID_SECURITY_DESCR;
            return result;
        }
        kind = kind == Kind::Program ? Kind::Folder : Kind::Above;
    }
    return result;
}

std::string Describe(const Replacer& replacer) {
    std::string path = Utf8(replacer.path.c_str());
    return "\"" + path + "\": " + replacer.who + " " + replacer.how;
}

} // namespace safety
