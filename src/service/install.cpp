// Creating and deleting the service's entry in the service control manager's database.
#include "service/install.h"

#include "platform/handle.h"
#include "platform/kernel.h"
#include "platform/scm.h"
#include "safety/replace_access.h"
#include "safety/text.h"
#include "service/service.h"

#include <cstdio>
#include <string>

namespace {

using platform::UniqueScHandle;

// The path in quotes plus the terminator.
constexpr DWORD CommandLineChars = MAX_PATH + 2;

// Shown in the Services console.
WCHAR Description[] =
    WIDE("Keeps the volume and mute of the Orvane virtual audio device and of the "
         "Realtek High Definition Audio speakers at one setting.");

// After an unexpected exit: a restart after a minute, once more, then none; the count starts
// again after a day without one. Bounded, so a fault that comes back at once cannot make the
// service restart all day long; the minute lets the audio system settle after its own restarts.
constexpr DWORD RestartDelay = 60 * 1000;
constexpr DWORD FailureCountReset = 24 * 60 * 60;

// The failing step's error, reported; the caller returns it as the exit status. A call that failed
// without setting an error must still not read as success.
DWORD Failed(const char* command, const char* step, DWORD error) {
    if (error == ERROR_SUCCESS) {
        error = ERROR_GEN_FAILURE;
    }
    ReportFailure(command, step, error);
    return error;
}

// The program is registered even so: administrators may know better (and under Wine every file
// looks owned by an ordinary user), but they hear of it first.
void WarnIfReplaceable(const platform::WideString& program) {
    safety::Replacers replacers = safety::WhoCanReplace(program);
    std::string text;
    if (!replacers.unreadable.empty()) {
        text = "who can replace the program is unknown: the permissions of \"" +
               safety::Utf8(replacers.unreadable.c_str()) + "\" are unreadable (error " +
               std::to_string(replacers.error) + ")";
    } else if (!replacers.others.empty()) {
        text = "others than administrators can replace the program: ";
        for (std::size_t i = 0; i < replacers.others.size(); ++i) {
            text += (i ? "; " : "") + safety::Describe(replacers.others[i]);
        }
    } else {
        return;
    }
    std::fprintf(stderr, "QuenvarService -install: warning: %s\n", text.c_str());
    std::fflush(stderr);
}

} // namespace

void ReportFailure(const char* command, const char* step, DWORD error) {
    std::fprintf(stderr, "QuenvarService%s%s: %s failed: error %lu\n", *command ? " " : "", command,
                 step, static_cast<unsigned long>(error));
    std::fflush(stderr);
}

DWORD InstallService() {
    const char* command = "-install";
    WCHAR path[MAX_PATH];
    DWORD length = platform::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0) {
        return Failed(command, "reading the executable's path", platform::GetLastError());
    }
    // A path that filled the whole buffer was cut short: registering it would name another
    // program.
    if (length >= MAX_PATH) {
        return Failed(command, "reading the executable's path", ERROR_FILENAME_EXCED_RANGE);
    }
    // Quoted, so that a path with spaces cannot be read as a shorter program path plus arguments.
    WCHAR commandLine[CommandLineChars];
    commandLine[0] = WIDE('"');
    for (DWORD i = 0; i < length; ++i) {
        commandLine[1 + i] = path[i];
    }
    commandLine[1 + length] = WIDE('"');
    commandLine[2 + length] = 0;
    WarnIfReplaceable(platform::WideString(path, length));

    UniqueScHandle manager(platform::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        return Failed(command, "opening the service control manager", platform::GetLastError());
    }
    UniqueScHandle service(platform::CreateServiceW(
        manager.get(), ServiceName, ServiceDisplayName, SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, commandLine, nullptr,
        nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        return Failed(command, "creating the service entry", platform::GetLastError());
    }
    // The entry stays when these fail: it works without them, and they can be set again.
    SERVICE_DESCRIPTIONW description{Description};
    if (!platform::ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &description)) {
        return Failed(command, "setting the entry's description", platform::GetLastError());
    }
    SC_ACTION actions[] = {
        {SC_ACTION_RESTART, RestartDelay}, {SC_ACTION_RESTART, RestartDelay}, {SC_ACTION_NONE, 0}};
    SERVICE_FAILURE_ACTIONSW failureActions{FailureCountReset, nullptr, nullptr, 3, actions};
    if (!platform::ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS,
                                         &failureActions)) {
        return Failed(command, "setting the entry's failure actions", platform::GetLastError());
    }
    return ERROR_SUCCESS;
}

DWORD RemoveService() {
    const char* command = "-remove";
    UniqueScHandle manager(platform::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        return Failed(command, "opening the service control manager", platform::GetLastError());
    }
    UniqueScHandle service(platform::OpenServiceW(manager.get(), ServiceName, DELETE));
    if (!service) {
        return Failed(command, "opening the service entry", platform::GetLastError());
    }
    // Without a stop: a running service keeps running and its entry goes when it stops.
    if (!platform::DeleteService(service.get())) {
        return Failed(command, "deleting the service entry", platform::GetLastError());
    }
    return ERROR_SUCCESS;
}
