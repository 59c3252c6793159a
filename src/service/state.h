// The service state record: the handles that the service host and the mixer thread share.
#pragma once

#include "platform/types.h"

// One process-wide record, built before the process entry runs (creating StopEvent) and
// destroyed at process exit (closing it).
struct ServiceStateRecord {
    HANDLE StopEvent = nullptr;
    HANDLE MixerThreadHandle = nullptr;
    HWND SyncWindowHandle = nullptr;
    HDEVNOTIFY ServiceDeviceNotification = nullptr;

    ServiceStateRecord();
    ~ServiceStateRecord();
    ServiceStateRecord(const ServiceStateRecord&) = delete;
    ServiceStateRecord& operator=(const ServiceStateRecord&) = delete;
};

extern ServiceStateRecord ServiceState;
