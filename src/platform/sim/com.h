// Simulated COM apartments: what tests read about CoInitialize and CoUninitialize.
//
// Journal: "CoInitialize" and "CoUninitialize", each tagged with the calling thread's name.
// A CoUninitialize without an open CoInitialize on its thread is counted and does nothing, as on
// Windows (source: Microsoft's CoUninitialize page, only the matching call closes the library).
#pragma once

#include <string>

namespace sim::com {

// Calls made by the threads of one name since the last reset.
struct ThreadCounts {
    int initialize = 0;
    int uninitialize = 0;
};
ThreadCounts Counts(const std::string& threadName);

// Whether the calling thread has an open apartment (more CoInitialize than CoUninitialize).
bool Initialized();

} // namespace sim::com
