// The service state record: built before the process entry, closed at process exit.
#include "service/state.h"

#include "platform/kernel.h"

ServiceStateRecord ServiceState;

// Unnamed, auto-reset, initially non-signalled: each stop releases the one waiter once.
ServiceStateRecord::ServiceStateRecord()
    : StopEvent(platform::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

ServiceStateRecord::~ServiceStateRecord() {
    if (StopEvent) {
        platform::CloseHandle(StopEvent);
    }
}
