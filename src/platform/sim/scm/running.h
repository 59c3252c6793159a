// Between the simulated dispatcher and the simulated service database: which service runs.
#pragma once

#include "platform/types.h"

namespace sim::scm::detail {

// The entry of that name (if any) is running, or has stopped; a stopped entry that is marked for
// deletion and has no open handle goes.
void SetRunning(const platform::WideString& name, bool running);
// A service the manager started is in its database: an entry of that name, own process and demand
// start with the module path quoted, when none is there yet.
void EnsureEntry(const platform::WideString& name);

// ControlService to the service of that name: delivered to the handler when it is the running
// service of the dispatcher (the sender waits for the handler's answer, which is returned, with
// the last status report in status); ERROR_SERVICE_NOT_ACTIVE otherwise.
DWORD SendControl(const platform::WideString& name, DWORD code, SERVICE_STATUS& status);

} // namespace sim::scm::detail
