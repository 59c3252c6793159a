// Between the simulated dispatcher and the simulated service database: which service runs.
#pragma once

#include "platform/types.h"

namespace sim::scm::detail {

// The entry of that name (if any) is running, or has stopped; a stopped entry that is marked for
// deletion and has no open handle goes.
void SetRunning(const platform::WideString& name, bool running);

// ControlService to the service of that name: delivered to the handler when it is the running
// service of the dispatcher (the sender waits for the handler's answer, which is returned, with
// the last status report in status); ERROR_SERVICE_NOT_ACTIVE otherwise.
DWORD SendControl(const platform::WideString& name, DWORD code, SERVICE_STATUS& status);

} // namespace sim::scm::detail
