// The audio contract fixture under Wine: the prefix's PulseAudio null sinks are the devices.
#include "audio_fixture.h"

#include "platform/com.h"
#include "platform/guids.h"
#include "platform/handle.h"

namespace contract::audio {

platform::WideString RenderEndpointId() {
    platform::ComPtr<IMMDeviceEnumerator> enumerator;
    platform::ComPtr<IMMDevice> device;
    LPWSTR id = nullptr;
    if (FAILED(platform::CoCreateInstance(platform::CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                          platform::IID_IMMDeviceEnumerator,
                                          enumerator.put_void())) ||
        FAILED(enumerator->GetDefaultAudioEndpoint(eRender, eMultimedia, device.put())) ||
        FAILED(device->GetId(&id))) {
        return {};
    }
    platform::WideString result(id);
    CoTaskMemFree(id);
    return result;
}

void AddRenderDevices() {}

std::vector<platform::WideString> AddRenderInterfaces() {
    return {};
}

void SetEndpointState(const platform::WideString&, DWORD) {}

void RestartAudioService() {}

void PlugWithLateEndpoint(const platform::WideString&, DWORD) {}

} // namespace contract::audio
