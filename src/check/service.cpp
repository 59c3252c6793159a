// The service section of the check: the entry in the service control manager (read with
// connect and query rights only) and who could replace the program it runs.
#include "check/report.h"
#include "platform/handle.h"
#include "platform/kernel.h"
#include "platform/scm.h"
#include "safety/replace_access.h"
#include "service/service.h"

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

// Who could replace the program the service runs (safety::WhoCanReplace), one line.
void CheckProgram(Report& report, const platform::WideString& program) {
    std::string head = "  program " + Quoted(program.c_str()) + ": ";
    safety::Replacers replacers = safety::WhoCanReplace(program);
    if (!replacers.unreadable.empty()) {
        report.Line(head + "permissions of " + Quoted(replacers.unreadable.c_str()) +
                    " unreadable (error " + std::to_string(replacers.error) + ")");
        return;
    }
    if (replacers.others.empty()) {
        report.Line(head + "replaceable by administrators only");
        return;
    }
    std::string who;
    for (auto& other : replacers.others) {
        who += (who.empty() ? "" : "; ") + safety::Describe(other);
    }
    report.Line(head + "WARNING: others than administrators can replace it: " + who);
    report.Line("  (a program or DLL put there runs as LocalSystem when the service starts)");
    report.Reason("the service's program " + Quoted(program.c_str()) +
                  " can be replaced by others than administrators: " +
                  safety::Describe(replacers.others.front()));
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

// The service's program beside the check: the release puts them in one folder.
platform::WideString ProgramBeside() {
    WCHAR path[MAX_PATH];
    DWORD length = platform::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    platform::WideString folder = FolderOf(platform::WideString(path, length));
    return folder.empty() ? folder : folder + WIDE("\\QuenvarService.exe");
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
        platform::WideString beside = ProgramBeside();
        if (!beside.empty()) {
            CheckProgram(report, beside);
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
    if (FolderOf(program).empty()) {
        report.Line("  folder: none in the command line");
    } else {
        CheckProgram(report, program);
    }
}

} // namespace check
