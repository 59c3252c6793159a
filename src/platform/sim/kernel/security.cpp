// Simulated advapi32 file security: GetFileSecurityW over descriptors the machine keeps per path.
#include "platform/security.h"
#include "platform/kernel.h"
#include "platform/sim/machine.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace sim {
namespace {

std::map<platform::WideString, std::vector<BYTE>> FirstDescriptors() {
    std::vector<AccessEntry> program = ProgramFilesAccess();
    program.pop_back(); // CREATOR OWNER is passed to new items only, not to the file
    return {
        {FoldCase(WIDE("C:\\")), SecurityDescriptor(DriveRootAccess())},
        {FoldCase(WIDE("C:\\Program Files")), SecurityDescriptor(ProgramFilesAccess())},
        {FoldCase(WIDE("C:\\Program Files\\Quenvar")), SecurityDescriptor(ProgramFilesAccess())},
        {FoldCase(WIDE("C:\\Program Files\\Quenvar\\QuenvarService.exe")),
         SecurityDescriptor(program)}};
}

struct Files {
    std::mutex lock;
    std::map<platform::WideString, std::vector<BYTE>> descriptors = FirstDescriptors();
};

Files& State() {
    return AreaState<Files>([](Files& state) { state.descriptors = FirstDescriptors(); });
}

void Put16(std::vector<BYTE>& bytes, std::size_t at, unsigned value) {
    bytes[at] = static_cast<BYTE>(value);
    bytes[at + 1] = static_cast<BYTE>(value >> 8);
}

void Put32(std::vector<BYTE>& bytes, std::size_t at, DWORD value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<BYTE>(value >> (8 * i));
    }
}

// "S-1-<authority>-<sub>..." as a SID: revision 1, the count of sub-authorities, the 48-bit
// authority big-endian, then each sub-authority little-endian.
std::vector<BYTE> SidBytes(const std::string& text) {
    std::vector<DWORD> numbers;
    std::size_t at = 4; // past "S-1-"
    while (at <= text.size()) {
        std::size_t end = text.find('-', at);
        numbers.push_back(static_cast<DWORD>(std::strtoul(text.c_str() + at, nullptr, 10)));
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    std::vector<BYTE> sid(8 + 4 * (numbers.size() - 1), 0);
    sid[0] = 1;
    sid[1] = static_cast<BYTE>(numbers.size() - 1);
    for (int i = 0; i < 4; ++i) {
        sid[7 - i] = static_cast<BYTE>(numbers[0] >> (8 * i));
    }
    for (std::size_t i = 1; i < numbers.size(); ++i) {
        Put32(sid, 8 + 4 * (i - 1), numbers[i]);
    }
    return sid;
}

} // namespace

std::vector<AccessEntry> ProgramFilesAccess() {
    const DWORD fullControl = 0x1F01FF;
    const DWORD readAndExecute = 0x1200A9;
    return {
        {ACCESS_ALLOWED_ACE_TYPE, 0, fullControl,
         "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"},
        {ACCESS_ALLOWED_ACE_TYPE, 0, fullControl, "S-1-5-18"},
        {ACCESS_ALLOWED_ACE_TYPE, 0, fullControl, "S-1-5-32-544"},
        {ACCESS_ALLOWED_ACE_TYPE, 0, readAndExecute, "S-1-5-32-545"},
        {ACCESS_ALLOWED_ACE_TYPE, INHERIT_ONLY_ACE, static_cast<DWORD>(GENERIC_ALL), "S-1-3-0"},
    };
}

// The system drive's root as Windows 7 sets it up: users may read it and make folders in it, and
// whoever is logged on may change what gets created below it (the entry that makes a folder made
// there writable by them).
std::vector<AccessEntry> DriveRootAccess() {
    const DWORD fullControl = 0x1F01FF;
    const DWORD readAndExecute = 0x1200A9;
    const DWORD modify = 0x1301BF;
    const BYTE below = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    return {
        {ACCESS_ALLOWED_ACE_TYPE, below, fullControl, "S-1-5-32-544"},
        {ACCESS_ALLOWED_ACE_TYPE, below, fullControl, "S-1-5-18"},
        {ACCESS_ALLOWED_ACE_TYPE, below, readAndExecute, "S-1-5-32-545"},
        {ACCESS_ALLOWED_ACE_TYPE, below | INHERIT_ONLY_ACE, modify, "S-1-5-11"},
        {ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ADD_SUBDIRECTORY, "S-1-5-11"},
    };
}

std::vector<BYTE> SecurityDescriptor(const std::vector<AccessEntry>& entries,
                                     const std::string& ownerSid) {
    // Header (20 bytes), owner, then the access list: header (8 bytes) and its entries.
    std::vector<BYTE> owner = SidBytes(ownerSid);
    std::vector<BYTE> acl(8, 0);
    for (const auto& entry : entries) {
        std::vector<BYTE> sid = SidBytes(entry.sid);
        std::vector<BYTE> ace(8, 0);
        ace[0] = entry.type;
        ace[1] = entry.flags;
        Put16(ace, 2, static_cast<unsigned>(8 + sid.size()));
        Put32(ace, 4, entry.mask);
        ace.insert(ace.end(), sid.begin(), sid.end());
        acl.insert(acl.end(), ace.begin(), ace.end());
    }
    acl[0] = 2; // ACL_REVISION
    Put16(acl, 2, static_cast<unsigned>(acl.size()));
    Put16(acl, 4, static_cast<unsigned>(entries.size()));
    std::vector<BYTE> descriptor(20 + owner.size() + acl.size(), 0);
    descriptor[0] = 1;
    Put16(descriptor, 2, SE_DACL_PRESENT | SE_SELF_RELATIVE);
    Put32(descriptor, 4, 20);
    Put32(descriptor, 16, static_cast<DWORD>(20 + owner.size()));
    auto end = std::copy(owner.begin(), owner.end(), descriptor.begin() + 20);
    std::copy(acl.begin(), acl.end(), end);
    return descriptor;
}

void SetFileSecurity(const platform::WideString& path, std::vector<BYTE> descriptor) {
    auto& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.descriptors[FoldCase(path.c_str())] = std::move(descriptor);
}

} // namespace sim

namespace platform {

BOOL WINAPI GetFileSecurityW(LPCWSTR lpFileName, SECURITY_INFORMATION,
                             PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength,
                             LPDWORD lpnLengthNeeded) {
    auto& state = sim::State();
    std::vector<BYTE> descriptor;
    DWORD error = ERROR_SUCCESS;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        auto found = state.descriptors.find(sim::FoldCase(lpFileName));
        if (found == state.descriptors.end()) {
            error = ERROR_FILE_NOT_FOUND;
        } else {
            descriptor = found->second;
        }
    }
    if (error == ERROR_SUCCESS) {
        *lpnLengthNeeded = static_cast<DWORD>(descriptor.size());
        if (nLength < descriptor.size() || !pSecurityDescriptor) {
            error = ERROR_INSUFFICIENT_BUFFER;
        } else {
            std::memcpy(pSecurityDescriptor, descriptor.data(), descriptor.size());
        }
    }
    std::string entry =
        "GetFileSecurityW " + sim::Narrow(lpFileName) + " size=" + std::to_string(nLength);
    if (error != ERROR_SUCCESS) {
        sim::Record(entry + " failed " + std::to_string(error));
        SetLastError(error);
        return FALSE;
    }
    sim::Record(entry);
    return TRUE;
}

} // namespace platform
