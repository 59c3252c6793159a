#include "endpoint/endpoint_device.h"

#include "platform/dsound.h"
#include "platform/guids.h"

#include <new>
#include <string_view>

namespace {

using WideView = std::basic_string_view<WCHAR>;

WideView View(LPCWSTR text) {
    return text ? WideView(text) : WideView();
}

bool Contains(WideView text, const platform::WideString& part) {
    return text.find(WideView(part)) != WideView::npos;
}

} // namespace

EndpointDevice::EndpointDevice(LPCWSTR primary, LPCWSTR secondary, IMMDeviceEnumerator* enumerator)
    : primaryName(View(primary)), secondaryName(View(secondary)), dsoundGuid(platform::GUID_NULL) {
    platform::DirectSoundEnumerateW(MatchDirectSoundDevice, this);
    if (endpointId.empty()) {
        throw static_cast<HRESULT>(E_FAIL);
    }
    HRESULT hr = enumerator->GetDevice(endpointId.c_str(), device.put());
    if (FAILED(hr)) {
        throw hr;
    }
    hr = device->Activate(platform::IID_IAudioEndpointVolume, CLSCTX_ALL, nullptr,
                          endpointVolume.put_void());
    if (FAILED(hr)) {
        throw hr;
    }
}

EndpointDevice* BindEndpoint(LPCWSTR primaryName, LPCWSTR secondaryName,
                             IMMDeviceEnumerator* enumerator) {
    return new EndpointDevice(primaryName, secondaryName, enumerator);
}

BOOL CALLBACK MatchDirectSoundDevice(LPGUID guid, LPCWSTR description, LPCWSTR module,
                                     LPVOID context) {
    auto* record = static_cast<EndpointDevice*>(context);
    if (description == nullptr || !Contains(description, record->primaryName)) {
        return TRUE;
    }
    if (!record->secondaryName.empty() && !Contains(description, record->secondaryName)) {
        return TRUE;
    }
    // A null module string counts as empty, so the bind ends with E_FAIL.
    try {
        record->endpointId.assign(View(module));
    } catch (const std::bad_alloc&) {
        // Never let an exception cross DirectSound's frames; the bind fails with E_FAIL.
        record->endpointId.clear();
    }
    record->dsoundGuid = guid ? *guid : platform::GUID_NULL;
    return FALSE;
}

void DestroyEndpointDevice(EndpointDevice* record) {
    delete record;
}
