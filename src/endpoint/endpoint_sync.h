// The endpoint sync (Windows above version 5): two bound render endpoints mirrored both ways, and
// the driver's sync-active flag while it runs.
#pragma once

#include "endpoint/endpoint_device.h"
#include "endpoint/volume_change.h"

// The four slots of the endpoint sync, each owning its object: outside a running start or stop
// either all are empty or all are filled. Touched only by the start step and the control handler,
// one call at a time; the callbacks never read them.
extern EndpointDevice* HardwareEndpoint;
extern EndpointDevice* VirtualEndpoint;
extern VolumeChange* VirtualToHardwareChange; // registered on the virtual endpoint
extern VolumeChange* HardwareToVirtualChange; // registered on the hardware endpoint

// What the two records are bound with: the texts their DirectSound descriptions must contain.
inline constexpr const WCHAR* HardwarePrimaryName = WIDE("Realtek High Definition Audio");
inline constexpr const WCHAR* HardwareSecondaryName = WIDE("Speakers");
inline constexpr const WCHAR* VirtualPrimaryName = WIDE("Speakers (Orvane)");
inline constexpr const WCHAR* VirtualSecondaryName = WIDE("");

// CoInitialize on the calling thread, then StartEndpointSync.
void BeginEndpointSync();
// StopEndpointSync, then CoUninitialize on the calling thread.
void EndEndpointSync();
// StopEndpointSync, then StartEndpointSync: every device event rebuilds the whole sync.
void RestartEndpointSync();
// Builds the sync from empty slots: enumerator, hardware record, virtual record, both callbacks,
// driver flag 1, then the hardware settings copied onto the virtual endpoint. A sync that cannot
// be built (no enumerator, an endpoint that cannot be bound, memory exhausted while allocating a
// record or a callback) leaves every slot empty and the driver flag unwritten; nothing is thrown.
void StartEndpointSync();
// Unregisters both callbacks (virtual endpoint first), destroys the hardware then the virtual
// record, empties the slots and writes the driver flag 0. Any state.
void StopEndpointSync();
