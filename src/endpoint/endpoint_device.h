// One bound render endpoint: the texts its DirectSound description must contain, its Core Audio
// endpoint id and DirectSound GUID, and owned references to its device and endpoint volume.
#pragma once

#include "platform/handle.h"
#include "platform/types.h"

struct EndpointDevice {
    // BindEndpoint: finds the first DirectSound render entry whose description contains both
    // names, opens its endpoint through the borrowed enumerator and activates its endpoint volume.
    // On failure throws the failing HRESULT by value; the members set up so far are released in
    // reverse order as the construction unwinds, and a new-expression frees the storage.
    EndpointDevice(LPCWSTR primary, LPCWSTR secondary, IMMDeviceEnumerator* enumerator);
    EndpointDevice(const EndpointDevice&) = delete;
    EndpointDevice& operator=(const EndpointDevice&) = delete;

    platform::WideString primaryName;
    platform::WideString secondaryName; // empty: no second test
    platform::WideString endpointId;    // the matched entry's module string
    GUID dsoundGuid;                    // GUID_NULL when the matched entry came without one
    platform::ComPtr<IMMDevice> device;
    platform::ComPtr<IAudioEndpointVolume> endpointVolume;
};

// Allocates and binds a record; throws the failing HRESULT, leaving nothing allocated.
EndpointDevice* BindEndpoint(LPCWSTR primaryName, LPCWSTR secondaryName,
                             IMMDeviceEnumerator* enumerator);

// Whether a DirectSound description holds the words a record is bound with: the primary text
// and, unless it is empty, the secondary text (case-sensitive substrings). A null description
// holds nothing. The binding callback and QuenvarCheck both judge entries by this alone.
bool DescriptionMatches(LPCWSTR description, LPCWSTR primaryName, LPCWSTR secondaryName);

// The DirectSoundEnumerateW callback; context is the EndpointDevice being bound. Returns FALSE
// (stop) at the first entry whose description contains the record's names.
BOOL CALLBACK MatchDirectSoundDevice(LPGUID guid, LPCWSTR description, LPCWSTR module,
                                     LPVOID context);

// Releases the interfaces (volume first), frees the strings and the record's storage.
void DestroyEndpointDevice(EndpointDevice* record);
