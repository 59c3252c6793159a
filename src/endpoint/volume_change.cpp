#include "endpoint/volume_change.h"

#include "platform/guids.h"

VolumeChange::VolumeChange(EndpointDevice* sourceDevice, EndpointDevice* targetDevice)
    : source(sourceDevice), target(targetDevice) {
    // A failed registration leaves a callback that is never told of anything: the sync stays up.
    source->endpointVolume->RegisterControlChangeNotify(this);
}

VolumeChange::~VolumeChange() {
    source->endpointVolume->UnregisterControlChangeNotify(this);
}

HRESULT STDMETHODCALLTYPE VolumeChange::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    if (platform::SameGuid(riid, platform::IID_IUnknown) ||
        platform::SameGuid(riid, platform::IID_IAudioEndpointVolumeCallback)) {
        *ppvObject = static_cast<IAudioEndpointVolumeCallback*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

// The owner's explicit lifetime rules; references the platform takes change nothing.
ULONG STDMETHODCALLTYPE VolumeChange::AddRef() {
    return 2;
}
ULONG STDMETHODCALLTYPE VolumeChange::Release() {
    return 1;
}

HRESULT STDMETHODCALLTYPE VolumeChange::OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA pNotify) {
    // Our own writes (either direction, or the start copy) are already on both endpoints.
    if (platform::SameGuid(pNotify->guidEventContext, VolumeSyncEventContext)) {
        return S_OK;
    }
    IAudioEndpointVolume* volume = target->endpointVolume.get();
    volume->SetMute(pNotify->bMuted, &VolumeSyncEventContext);
    volume->SetMasterVolumeLevelScalar(pNotify->fMasterVolume, &VolumeSyncEventContext);
    // The platform lays nChannels levels out past the one-element field.
    const float* levels = pNotify->afChannelVolumes;
    for (UINT channel = 0; channel < pNotify->nChannels; ++channel) {
        volume->SetChannelVolumeLevelScalar(channel, levels[channel], &VolumeSyncEventContext);
    }
    return S_OK;
}

void CopyEndpointVolume(EndpointDevice* hardware, EndpointDevice* virtualDevice) {
    IAudioEndpointVolume* from = hardware->endpointVolume.get();
    IAudioEndpointVolume* to = virtualDevice->endpointVolume.get();
    float level = 0.0f;
    if (SUCCEEDED(from->GetMasterVolumeLevelScalar(&level))) {
        to->SetMasterVolumeLevelScalar(level, &VolumeSyncEventContext);
    }
    BOOL muted = FALSE;
    if (SUCCEEDED(from->GetMute(&muted))) {
        to->SetMute(muted, &VolumeSyncEventContext);
    }
    UINT count = 0;
    if (FAILED(from->GetChannelCount(&count))) {
        return;
    }
    for (UINT channel = 0; channel < count; ++channel) {
        if (SUCCEEDED(from->GetChannelVolumeLevelScalar(channel, &level))) {
            to->SetChannelVolumeLevelScalar(channel, level, &VolumeSyncEventContext);
        }
    }
}
