// The driver control channel: kernel-streaming property requests to the virtual device's render
// filter, the search for that filter, and the driver's sync-active flag. The endpoint and mixer
// syncs need only NotifyDriverSyncState.
#pragma once

#include "platform/types.h"

// Product GUID of the virtual render device's component id: selects its filter.
inline constexpr GUID VirtualDeviceProductGuid = {
    0x63BC331B, 0x0DC7, 0x441F, {0x85, 0x90, 0x2E, 0xA9, 0x31, 0x96, 0x29, 0xB3}};
// The private property set of the virtual device's driver and its sync-active flag.
inline constexpr GUID SyncPropertySet = {
    0x03CEE026, 0xE4B7, 0x4BDF, {0x8F, 0x62, 0x93, 0xA0, 0xE6, 0xE3, 0x2E, 0x40}};
inline constexpr ULONG SyncActiveProperty = 17;

// One IOCTL_KS_PROPERTY request on an open filter handle; data is the property value (filled by
// the driver for a GET, carried to it for a SET). True when DeviceIoControl succeeds.
bool SendKsProperty(HANDLE handle, const GUID& propertySet, ULONG propertyId, ULONG flags,
                    void* data, ULONG dataSize);
bool KsGetProperty(HANDLE handle, const GUID& propertySet, ULONG propertyId, void* data,
                   ULONG dataSize);
bool KsSetProperty(HANDLE handle, const GUID& propertySet, ULONG propertyId, void* data,
                   ULONG dataSize);

// An open handle to the first present KS render filter (in member-index order) whose component
// id carries productGuid, or INVALID_HANDLE_VALUE. The caller closes it with CloseHandle. When
// devicePath is given, it receives the found filter's interface path (QuenvarCheck reports it).
HANDLE FindVirtualRenderFilter(const GUID& productGuid, platform::WideString* devicePath = nullptr);

// Tells the virtual device's driver whether a sync mechanism runs (1) or not (0). Quiet when the
// filter is absent or refuses: the caller learns nothing of the outcome.
void NotifyDriverSyncState(ULONG value);
