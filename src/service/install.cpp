// Creating and deleting the service's entry in the service control manager's database.
#include "service/install.h"

#include "platform/handle.h"
#include "platform/kernel.h"
#include "platform/scm.h"
#include "service/service.h"

namespace {

using platform::UniqueScHandle;

// The path in quotes plus the terminator.
constexpr DWORD CommandLineChars = MAX_PATH + 2;

} // namespace

void InstallService() {
    WCHAR path[MAX_PATH];
    DWORD length = platform::GetModuleFileNameW(nullptr, path, MAX_PATH);
    // A path that filled the whole buffer was cut short: registering it would name another
    // program.
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    // Quoted, so that a path with spaces cannot be read as a shorter program path plus arguments.
    WCHAR commandLine[CommandLineChars];
    commandLine[0] = WIDE('"');
    for (DWORD i = 0; i < length; ++i) {
        commandLine[1 + i] = path[i];
    }
    commandLine[1 + length] = WIDE('"');
    commandLine[2 + length] = 0;

    UniqueScHandle manager(platform::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        return;
    }
    UniqueScHandle service(platform::CreateServiceW(
        manager.get(), ServiceName, ServiceDisplayName, SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, commandLine, nullptr,
        nullptr, nullptr, nullptr, nullptr));
}

void RemoveService() {
    UniqueScHandle manager(platform::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        return;
    }
    UniqueScHandle service(platform::OpenServiceW(manager.get(), ServiceName, DELETE));
    if (!service) {
        return;
    }
    // Without a stop: a running service keeps running and its entry goes when it stops.
    platform::DeleteService(service.get());
}
