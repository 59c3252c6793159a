// Runs the whole service on the simulated machine, as the service control manager runs its
// process: for the service host's tests and for the scenario tests of the sync mechanisms.
#pragma once

#include "platform/types.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace support {

// Gives the service host's process-wide items the values of a freshly started process (the
// service state record's StopEvent is kept, drained of any signal a test left behind).
void ResetServiceProcess();

// Calls the process entry on the calling thread with the program path and these arguments.
int RunEntry(const std::vector<platform::WideString>& arguments);

class ServiceRunner {
  public:
    ServiceRunner() = default;
    ServiceRunner(const ServiceRunner&) = delete;
    ServiceRunner& operator=(const ServiceRunner&) = delete;
    // Stops a service that still runs and joins the process's main thread; a hang aborts.
    ~ServiceRunner();

    // Runs the process entry on a thread of its own (the process's main thread). By default the
    // process counts as started by the service control manager, so the service starts, and as a
    // fresh process (freshProcess false: another run in the process of an earlier one).
    void Start(std::vector<platform::WideString> arguments = {}, bool startedByScm = true,
               bool freshProcess = true);
    bool WaitForRunning(DWORD timeoutMs = 10000);
    // Sends a control through the simulated manager; the handler's result.
    DWORD Control(DWORD code, DWORD eventType = 0);
    // SERVICE_CONTROL_STOP, then Join.
    bool Stop(DWORD timeoutMs = 10000);
    // Waits until the process entry has returned; false when it did not within the time.
    bool Join(DWORD timeoutMs = 10000);
    bool Finished();
    int ExitCode();

  private:
    std::vector<platform::WideString> arguments_;
    std::thread main_;
    std::mutex lock_;
    std::condition_variable ended_;
    std::size_t run_ = 0; // the dispatcher run of this start
    bool finished_ = false;
    int exitCode_ = -1;
};

} // namespace support
