// The service section of the check: the entry in the service control manager (read with
// connect and query rights only) and who may write to the executable's folder.
#include "check/report.h"
#include "platform/handle.h"
#include "platform/kernel.h"
#include "platform/scm.h"
#include "platform/security.h"
#include "service/service.h"

#include <cstring>
#include <map>
#include <vector>

namespace check {
namespace {

using platform::UniqueScHandle;

const char* StateName(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED:
        return "stopped";
    case SERVICE_START_PENDING:
        return "starting";
    case SERVICE_STOP_PENDING:
        return "stopping";
    case SERVICE_RUNNING:
        return "running";
    case SERVICE_CONTINUE_PENDING:
        return "continuing";
    case SERVICE_PAUSE_PENDING:
        return "pausing";
    case SERVICE_PAUSED:
        return "paused";
    default:
        return "unknown";
    }
}

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
    std::string text = "S-" + std::to_string(bytes[at]) + "-" + std::to_string(authority);
    for (std::size_t i = 0; i < count; ++i) {
        DWORD sub = 0;
        Read32(bytes, at + 8 + 4 * i, sub);
        text += "-" + std::to_string(sub);
    }
    return text;
}

// Accounts that may write where a LocalSystem service's program lives: the system itself,
// administrators and the installer service. CREATOR OWNER is given to new files only.
bool Administrative(const std::string& sid) {
    return sid == "S-1-5-18" || sid == "S-1-5-32-544" || sid == "S-1-3-0" ||
           sid == "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
}

std::string AccountName(const std::string& sid) {
    static const std::map<std::string, std::string> names = {
        {"S-1-1-0", "Everyone"},         {"S-1-5-11", "Authenticated Users"},
        {"S-1-5-32-545", "Users"},       {"S-1-5-4", "INTERACTIVE"},
        {"S-1-5-32-547", "Power Users"}, {"S-1-5-7", "ANONYMOUS LOGON"}};
    auto found = names.find(sid);
    return found == names.end() ? sid : sid + " (" + found->second + ")";
}

// Rights on a folder that let an account put a program or a DLL into it, or give itself that.
constexpr DWORD WriteRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD |
                              WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

std::string RightsText(DWORD rights) {
    static const std::pair<DWORD, const char*> named[] = {
        {GENERIC_ALL, "full control"},       {GENERIC_WRITE, "write"},
        {FILE_ADD_FILE, "add files"},        {FILE_ADD_SUBDIRECTORY, "add folders"},
        {FILE_DELETE_CHILD, "delete files"}, {WRITE_DAC, "change permissions"},
        {WRITE_OWNER, "take ownership"}};
    std::string text;
    for (auto& [right, name] : named) {
        if (rights & right) {
            text += (text.empty() ? "" : ", ") + std::string(name);
        }
    }
    return text;
}

// Who other than administrators may write to the folder, from its self-relative security
// descriptor: each allowing entry that applies to the folder itself, less what an earlier
// denying entry of the same account took away. Empty when nobody else may. An absent access list
// lets everyone do everything.
std::vector<std::string> OtherWriters(const std::vector<BYTE>& descriptor, bool& readable) {
    std::vector<std::string> writers;
    DWORD control = 0, daclOffset = 0;
    readable = Read16(descriptor, 2, control) && Read32(descriptor, 16, daclOffset);
    if (!readable) {
        return writers;
    }
    if (!(control & SE_DACL_PRESENT) || daclOffset == 0) {
        writers.push_back("everyone may do everything (no access list)");
        return writers;
    }
    DWORD aclSize = 0, aceCount = 0;
    if (!Read16(descriptor, daclOffset + 2, aclSize) ||
        !Read16(descriptor, daclOffset + 4, aceCount) || daclOffset + aclSize > descriptor.size()) {
        readable = false;
        return writers;
    }
    std::size_t end = daclOffset + aclSize;
    std::size_t at = daclOffset + 8;
    std::map<std::string, DWORD> denied;
    for (DWORD i = 0; i < aceCount; ++i) {
        DWORD aceSize = 0, mask = 0;
        if (at + 8 > end || !Read16(descriptor, at + 2, aceSize) || aceSize < 8 ||
            at + aceSize > end || !Read32(descriptor, at + 4, mask)) {
            readable = false;
            return writers;
        }
        BYTE type = descriptor[at];
        BYTE flags = descriptor[at + 1];
        std::string sid = SidText(descriptor, at + 8, at + aceSize);
        if (!(flags & INHERIT_ONLY_ACE) && !sid.empty()) {
            if (type == ACCESS_DENIED_ACE_TYPE) {
                denied[sid] |= mask;
            } else if (type == ACCESS_ALLOWED_ACE_TYPE) {
                DWORD rights = mask & WriteRights & ~denied[sid];
                if (rights && !Administrative(sid)) {
                    writers.push_back(AccountName(sid) + " may " + RightsText(rights));
                }
            }
        }
        at += aceSize;
    }
    return writers;
}

void CheckFolder(Report& report, const platform::WideString& folder) {
    std::string head = "  folder " + Quoted(folder.c_str()) + ": ";
    DWORD needed = 0;
    std::vector<BYTE> descriptor;
    platform::GetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    DWORD error = platform::GetLastError();
    if (needed > 0) {
        descriptor.resize(needed);
        if (platform::GetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(),
                                       needed, &needed)) {
            error = ERROR_SUCCESS;
        } else {
            error = platform::GetLastError();
        }
    }
    if (error != ERROR_SUCCESS) {
        report.Line(head + "permissions unreadable (error " + std::to_string(error) + ")");
        return;
    }
    bool readable = false;
    std::vector<std::string> writers = OtherWriters(descriptor, readable);
    if (!readable) {
        report.Line(head + "permissions unreadable (malformed security descriptor)");
        return;
    }
    if (writers.empty()) {
        report.Line(head + "written by administrators only");
        return;
    }
    std::string who;
    for (auto& writer : writers) {
        who += (who.empty() ? "" : "; ") + writer;
    }
    report.Line(head + "WARNING: writable by others than administrators: " + who);
    report.Line("  (a program or DLL put there runs as LocalSystem when the service starts)");
    report.Reason("the service's folder " + Quoted(folder.c_str()) +
                  " can be written by others than administrators: " + writers.front());
}

// The program path of a registered command line: inside the quotes, or the whole line.
platform::WideString ProgramPath(const platform::WideString& commandLine, bool& quoted) {
    quoted = commandLine.size() >= 2 && commandLine.front() == WIDE('"') &&
             commandLine.find(WIDE('"'), 1) != platform::WideString::npos;
    if (quoted) {
        return commandLine.substr(1, commandLine.find(WIDE('"'), 1) - 1);
    }
    return commandLine;
}

platform::WideString FolderOf(const platform::WideString& path) {
    auto slash = path.find_last_of(WIDE("\\/"));
    return slash == platform::WideString::npos ? platform::WideString() : path.substr(0, slash);
}

// The check's own folder: the release puts it beside the service.
platform::WideString OwnFolder() {
    WCHAR path[MAX_PATH];
    DWORD length = platform::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return FolderOf(platform::WideString(path, length));
}

} // namespace

void CheckService(Report& report) {
    std::string head = "Service " + Quoted(ServiceName) + ": ";
    UniqueScHandle manager(platform::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        DWORD error = platform::GetLastError();
        report.Line(head + "the service control manager cannot be opened (error " +
                    std::to_string(error) + ")");
        report.Reason("the service control manager cannot be opened (error " +
                      std::to_string(error) + ")");
        return;
    }
    UniqueScHandle service(platform::OpenServiceW(manager.get(), ServiceName,
                                                  SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    if (!service) {
        DWORD error = platform::GetLastError();
        std::string finding = error == ERROR_SERVICE_DOES_NOT_EXIST
                                  ? "not installed"
                                  : "cannot be opened (error " + std::to_string(error) + ")";
        report.Line(head + finding);
        report.Reason(error == ERROR_SERVICE_DOES_NOT_EXIST ? "the service is not installed"
                                                            : "the service's entry " + finding);
        platform::WideString folder = OwnFolder();
        if (!folder.empty()) {
            CheckFolder(report, folder);
        }
        return;
    }
    SERVICE_STATUS status{};
    if (platform::QueryServiceStatus(service.get(), &status)) {
        report.Line(head + "installed, " + StateName(status.dwCurrentState));
    } else {
        report.Line(head + "installed, state unreadable (error " +
                    std::to_string(platform::GetLastError()) + ")");
    }

    DWORD needed = 0;
    platform::QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed < sizeof(QUERY_SERVICE_CONFIGW) ? sizeof(QUERY_SERVICE_CONFIGW)
                                                                    : needed);
    auto* config = reinterpret_cast<LPQUERY_SERVICE_CONFIGW>(buffer.data());
    if (!platform::QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()),
                                       &needed) ||
        !config->lpBinaryPathName) {
        DWORD error = platform::GetLastError();
        report.Line("  command line unreadable (error " + std::to_string(error) + ")");
        report.Reason("the service's command line cannot be read (error " + std::to_string(error) +
                      ")");
        return;
    }
    platform::WideString commandLine = config->lpBinaryPathName;
    bool quoted = false;
    platform::WideString program = ProgramPath(commandLine, quoted);
    report.Line("  command line: " + Utf8(commandLine.c_str()) +
                (quoted ? " (quoted)" : " (NOT quoted)"));
    if (config->lpServiceStartName && *config->lpServiceStartName) {
        report.Line("  runs as " + Utf8(config->lpServiceStartName));
    }
    if (!quoted) {
        report.Reason("the registered command line is not quoted: with a space in its path, "
                      "Windows may start another program");
    }
    platform::WideString folder = FolderOf(program);
    if (folder.empty()) {
        report.Line("  folder: none in the command line");
    } else {
        CheckFolder(report, folder);
    }
}

} // namespace check
