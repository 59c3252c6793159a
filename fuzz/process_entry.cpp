// Argument vectors of any length and content (argc 0 included) given to the process entry of a
// process the service control manager did not start: it runs "-install" and "-remove" only for the
// first argument, returns 0 exactly when that command did what it says (1063 without a command),
// and leaves no service-manager handle open.
#include "fuzz_input.h"
#include "platform/sim/machine.h"
#include "platform/sim/scm.h"
#include "service/service.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// The entry's messages and warnings, kept out of the fuzzer's log.
int Quietly(int argc, WCHAR* argv[], WCHAR* envp[]) {
    std::fflush(stderr);
    int saved = dup(2);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    int status = ProcessEntry(argc, argv, envp);
    std::fflush(stderr);
    dup2(saved, 2);
    close(null);
    close(saved);
    return status;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    sim::ResetMachine();
    sim::scm::SetStartedByScm(false);
    sim::scm::SetElevated(input.Below(4) != 0);
    sim::SetModulePath(input.Text({WIDE("C:\\Program Files\\Quenvar\\QuenvarService.exe")}, 300));
    std::vector<platform::WideString> arguments;
    std::size_t count = input.Below(6);
    for (std::size_t i = 0; i < count; ++i) {
        arguments.push_back(input.Text({WIDE("-install"), WIDE("-remove"), WIDE("-INSTALL"),
                                        WIDE("-Remove"), WIDE("install"), WIDE("")},
                                       40));
    }
    // argv[argc] is null, as the C runtime gives it.
    std::vector<WCHAR*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    WCHAR* envp[] = {nullptr};
    bool hadEntry = sim::scm::FindService(WIDE("Quenvar_Service")).has_value();
    int status = Quietly(static_cast<int>(arguments.size()), argv.data(), envp);
    // Only argv[1] counts; argv[0] is the program's own name.
    bool installed = sim::scm::FindService(WIDE("Quenvar_Service")).has_value();
    bool install = arguments.size() > 1 &&
                   (arguments[1] == WIDE("-install") || arguments[1] == WIDE("-INSTALL"));
    bool remove = arguments.size() > 1 &&
                  (arguments[1] == WIDE("-remove") || arguments[1] == WIDE("-Remove"));
    if (installed != hadEntry && !install && !remove) {
        fuzz::Fail("the service entry changed without a command as the first argument");
    }
    if (install && (status == 0) != (installed && !hadEntry)) {
        fuzz::Fail("-install's exit status does not say whether it made the entry");
    }
    if (remove && (status == 0) != (hadEntry && !installed)) {
        fuzz::Fail("-remove's exit status does not say whether it deleted the entry");
    }
    if (!install && !remove && status != ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
        fuzz::Fail("a console start without a command did not exit with 1063");
    }
    if (sim::scm::OpenScHandles() != 0 || !sim::Faults().empty()) {
        fuzz::Fail("a service-manager handle left open, or a misuse");
    }
    return 0;
}
