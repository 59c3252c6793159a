// Runs the whole service on the simulated machine.
#include "support/service_runner.h"

#include "platform/kernel.h"
#include "platform/sim/machine.h"
#include "platform/sim/scm.h"
#include "service/service.h"
#include "service/state.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace support {

void ResetServiceProcess() {
    ServiceStatusHandle = nullptr;
    ServiceStatus = {};
    HandlerComInitPending = true;
    ServiceState.MixerThreadHandle = nullptr;
    ServiceState.SyncWindowHandle = nullptr;
    ServiceState.ServiceDeviceNotification = nullptr;
    if (ServiceState.StopEvent) {
        platform::WaitForSingleObject(ServiceState.StopEvent, 0);
    }
}

int RunEntry(const std::vector<platform::WideString>& arguments) {
    std::vector<std::vector<WCHAR>> storage;
    platform::WideString program = WIDE("C:\\Program Files\\Quenvar\\QuenvarService.exe");
    storage.emplace_back(program.begin(), program.end());
    for (auto& argument : arguments) {
        storage.emplace_back(argument.begin(), argument.end());
    }
    std::vector<WCHAR*> argv;
    for (auto& text : storage) {
        text.push_back(0);
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);
    WCHAR* envp[] = {nullptr};
    return ProcessEntry(static_cast<int>(storage.size()), argv.data(), envp);
}

ServiceRunner::~ServiceRunner() {
    if (!main_.joinable()) {
        return;
    }
    if (!Finished()) {
        sim::scm::Control(SERVICE_CONTROL_STOP);
    }
    if (!Join()) {
        std::fprintf(stderr, "service runner: the process entry did not return; aborting\n");
        std::abort();
    }
}

void ServiceRunner::Start(std::vector<platform::WideString> arguments, bool startedByScm,
                          bool freshProcess) {
    if (freshProcess) {
        ResetServiceProcess();
    }
    sim::scm::SetStartedByScm(startedByScm);
    arguments_ = std::move(arguments);
    run_ = sim::scm::DispatcherRuns() + 1;
    finished_ = false;
    main_ = std::thread([this] {
        sim::SetThreadName("main");
        int exitCode = RunEntry(arguments_);
        std::lock_guard<std::mutex> guard(lock_);
        exitCode_ = exitCode;
        finished_ = true;
        ended_.notify_all();
    });
}

// The process's thread may not have reached the dispatcher yet: wait for this start's run first,
// so that an earlier run's reports do not count.
bool ServiceRunner::WaitForRunning(DWORD timeoutMs) {
    return sim::scm::WaitForDispatcherRuns(run_, timeoutMs) &&
           sim::scm::WaitForState(SERVICE_RUNNING, timeoutMs);
}

DWORD ServiceRunner::Control(DWORD code, DWORD eventType) {
    return sim::scm::Control(code, eventType);
}

bool ServiceRunner::Stop(DWORD timeoutMs) {
    Control(SERVICE_CONTROL_STOP);
    return Join(timeoutMs);
}

bool ServiceRunner::Join(DWORD timeoutMs) {
    {
        std::unique_lock<std::mutex> guard(lock_);
        if (!ended_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [this] { return finished_; })) {
            return false;
        }
    }
    if (main_.joinable()) {
        main_.join();
    }
    return true;
}

bool ServiceRunner::Finished() {
    std::lock_guard<std::mutex> guard(lock_);
    return finished_;
}

int ServiceRunner::ExitCode() {
    std::lock_guard<std::mutex> guard(lock_);
    return exitCode_;
}

} // namespace support
