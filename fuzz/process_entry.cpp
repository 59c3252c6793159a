// Argument vectors of any length and content (argc 0 included) given to the process entry of a
// process the service control manager did not start: it returns 0, runs "-install" and "-remove"
// only for the first argument, and leaves no service-manager handle open.
#include "fuzz_input.h"
#include "platform/sim/machine.h"
#include "platform/sim/scm.h"
#include "service/service.h"

#include <vector>

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
    if (ProcessEntry(static_cast<int>(arguments.size()), argv.data(), envp) != 0) {
        fuzz::Fail("the process entry returned other than 0");
    }
    // Only argv[1] counts; argv[0] is the program's own name.
    bool installed = sim::scm::FindService(WIDE("Quenvar_Service")).has_value();
    bool command = arguments.size() > 1 &&
                   (arguments[1] == WIDE("-install") || arguments[1] == WIDE("-INSTALL"));
    if (installed != hadEntry && !command) {
        fuzz::Fail("the service entry changed without \"-install\" as the first argument");
    }
    if (sim::scm::OpenScHandles() != 0 || !sim::Faults().empty()) {
        fuzz::Fail("a service-manager handle left open, or a misuse");
    }
    return 0;
}
