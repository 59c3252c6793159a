// Between the simulated dispatcher and the simulated service database: which service runs.
#pragma once

#include "platform/types.h"

namespace sim::scm::detail {

// The entry of that name (if any) is running, or has stopped; a stopped entry that is marked for
// deletion and has no open handle goes.
void SetRunning(const platform::WideString& name, bool running);

} // namespace sim::scm::detail
