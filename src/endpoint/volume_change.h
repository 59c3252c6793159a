// Volume mirroring between two bound endpoints: the change callback and the one-way start copy.
#pragma once

#include "endpoint/endpoint_device.h"
#include "platform/types.h"

// Carried by every volume write of the service, so that the other callback drops its echo.
// {B7F24C4A-2856-4AC1-B471-33F151EED165}
inline constexpr GUID VolumeSyncEventContext = {
    0xB7F24C4A, 0x2856, 0x4AC1, {0xB4, 0x71, 0x33, 0xF1, 0x51, 0xEE, 0xD1, 0x65}};

// Registered on source's endpoint volume for its whole life; writes every foreign change to
// target. Owned explicitly by the endpoint sync, so the COM reference count is not used.
struct VolumeChange final : IAudioEndpointVolumeCallback {
    VolumeChange(EndpointDevice* sourceDevice, EndpointDevice* targetDevice);
    ~VolumeChange();
    VolumeChange(const VolumeChange&) = delete;
    VolumeChange& operator=(const VolumeChange&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA pNotify) override;

    EndpointDevice* source;
    EndpointDevice* target;
};

// Writes the hardware endpoint's master level, mute and channel levels to the virtual endpoint;
// a failed read leaves its own write out.
void CopyEndpointVolume(EndpointDevice* hardware, EndpointDevice* virtualDevice);
