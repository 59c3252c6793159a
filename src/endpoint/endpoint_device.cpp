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

bool Contains(WideView text, WideView part) {
    return text.find(part) != WideView::npos;
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

bool DescriptionMatches(LPCWSTR description, LPCWSTR primaryName, LPCWSTR secondaryName) {
    if (description == nullptr || !Contains(description, View(primaryName))) {
        return false;
    }
    WideView secondary = View(secondaryName);
    return secondary.empty() || Contains(description, secondary);
}

BOOL CALLBACK MatchDirectSoundDevice(LPGUID guid, LPCWSTR description, LPCWSTR module,
                                     LPVOID context) {
    auto* record = static_cast<EndpointDevice*>(context);
    if (!DescriptionMatches(description, record->primaryName.c_str(),
                            record->secondaryName.c_str())) {
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
