// Simulated DirectSound: the render device list that DirectSoundEnumerateW walks.
#include "platform/dsound.h"
#include "platform/sim/audio/audio_state.h"

namespace platform {

HRESULT WINAPI DirectSoundEnumerateW(LPDSENUMCALLBACKW pDSEnumCallback, LPVOID pContext) {
    using namespace sim::audio::detail;
    auto& audio = State();
    std::vector<Entry> entries;
    {
        std::lock_guard<std::mutex> guard(audio.lock);
        HRESULT hr = pDSEnumCallback ? Injected(audio, "DirectSoundEnumerateW", std::string())
                                     : E_INVALIDARG;
        sim::Record("DirectSoundEnumerateW" + FailureSuffix(hr));
        if (FAILED(hr)) {
            return hr;
        }
        // An endpoint that is not active is not listed (the DirectSound render list holds the
        // active endpoints only).
        for (auto& entry : audio.entries) {
            auto endpoint = entry.module ? FindEndpoint(audio, *entry.module) : nullptr;
            if (!endpoint || endpoint->state == DEVICE_STATE_ACTIVE) {
                entries.push_back(entry);
            }
        }
    }
    // First the primary device: a null GUID and an empty module string (DSEnumCallback on
    // learn.microsoft.com: "NULL for the primary device"), as long as any device is listed.
    if (!entries.empty()) {
        sim::Record("DirectSoundEnumerateW primary");
        if (!pDSEnumCallback(nullptr, WIDE("Primary Sound Driver"), WIDE(""), pContext)) {
            return S_OK;
        }
    }
    // Synchronously on the caller's thread, without the lock: the callback may call anything.
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const Entry& entry = entries[index];
        sim::Record("DirectSoundEnumerateW entry " + std::to_string(index));
        GUID guid = entry.guid.value_or(GUID_NULL); // a copy: the callback may write to it
        if (!pDSEnumCallback(entry.guid ? &guid : nullptr,
                             entry.description ? entry.description->c_str() : nullptr,
                             entry.module ? entry.module->c_str() : nullptr, pContext)) {
            break;
        }
    }
    return S_OK;
}

} // namespace platform
