// Controls of every code, with any event type and event data, handed to the running service's
// handler (at Windows 6.1 with both render devices, or at 5.1): each is answered as the handler's
// table says, and the service stays RUNNING until a stop, which ends it.
#include "fuzz_input.h"
#include "platform/guids.h"
#include "platform/sim/audio.h"
#include "platform/sim/machine.h"
#include "platform/sim/scm.h"
#include "service/recovery.h"
#include "service/service.h"
#include "support/service_runner.h"

#include <vector>

namespace {

support::ServiceRunner* Runner = nullptr;
DWORD RunningVersion = 0;

void StartService(DWORD major) {
    sim::ResetMachine();
    sim::SetWindowsVersion(major, 1);
    for (const WCHAR* description :
         {WIDE("Speakers (Realtek High Definition Audio)"), WIDE("Speakers (Orvane)")}) {
        sim::audio::RenderDevice device;
        device.description = description;
        device.module = platform::WideString(description) + WIDE("#id");
        sim::audio::AddRenderDevice(device);
    }
    Runner->Start();
    if (!Runner->WaitForRunning()) {
        fuzz::Fail("the service did not start");
    }
    RunningVersion = major;
}

// The handler runs on this thread for the service's whole life, as on the dispatcher's.
void Stop() {
    if (ServiceControlHandler(SERVICE_CONTROL_STOP, 0, nullptr, nullptr) != NO_ERROR ||
        !Runner->Join()) {
        fuzz::Fail("the stop did not end the service");
    }
    if (sim::scm::CurrentState() != SERVICE_STOPPED || Runner->ExitCode() != 0) {
        fuzz::Fail("the stop did not report STOPPED");
    }
    RunningVersion = 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static support::ServiceRunner runner;
    Runner = &runner;
    fuzz::Input input(data, size);
    DWORD major = input.Below(2) == 0 ? 6 : 5;
    if (RunningVersion != major) {
        if (RunningVersion != 0) {
            Stop();
        }
        StartService(major);
    }
    std::size_t controls = 1 + input.Below(8);
    for (std::size_t i = 0; i < controls; ++i) {
        DWORD code = input.Take<std::uint8_t>();
        DWORD eventType = input.Take<DWORD>();
        std::vector<std::uint8_t> eventData(input.Below(64));
        for (auto& b : eventData) {
            b = input.Take<std::uint8_t>();
        }
        if (code == SERVICE_CONTROL_STOP) {
            Stop();
            StartService(major);
            continue;
        }
        DWORD result =
            ServiceControlHandler(code, eventType, eventData.empty() ? nullptr : eventData.data(),
                                  input.Below(2) == 0 ? nullptr : &eventType);
        // The recovery watcher's own control is known where the endpoint sync runs.
        bool answered = code == SERVICE_CONTROL_INTERROGATE ||
                        code == SERVICE_CONTROL_DEVICEEVENT ||
                        (code == RecoveryControl && major > 5);
        if (result != (answered ? NO_ERROR : static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED))) {
            fuzz::Fail("a control was answered against the handler's table");
        }
        if (sim::scm::CurrentState() != SERVICE_RUNNING) {
            fuzz::Fail("the service left RUNNING");
        }
    }
    sim::audio::WaitIdle();
    sim::ClearJournal();
    if (!sim::Faults().empty()) {
        fuzz::Fail("the machine saw a misuse");
    }
    return 0;
}
