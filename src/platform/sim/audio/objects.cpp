// Simulated Core Audio objects (IMMDeviceEnumerator, IMMDevice, IAudioEndpointVolume) and the
// CoCreateInstance that makes the enumerator.
#include "platform/com.h"
#include "platform/guids.h"
#include "platform/sim/audio/audio_state.h"
#include "platform/sim/com.h"

#include <algorithm>

namespace sim::audio::detail {
namespace {

constexpr HRESULT Unexpected = static_cast<HRESULT>(0x8000FFFFu);     // E_UNEXPECTED
constexpr HRESULT NoAggregation = static_cast<HRESULT>(0x80040110u);  // CLASS_E_NOAGGREGATION
constexpr HRESULT NotInitialized = static_cast<HRESULT>(0x800401F0u); // CO_E_NOTINITIALIZED
constexpr DWORD NotPresent = 0x00000004;                              // DEVICE_STATE_NOTPRESENT
constexpr GUID IID_IMMDevice = {
    0xD666063F, 0x1587, 0x4E43, {0x81, 0xF1, 0xB9, 0x48, 0xE8, 0x07, 0x36, 0x3F}};

std::string Label(const Object& object) {
    return object.endpoint ? object.kind + " " + object.endpoint->name : object.kind;
}

// With the lock held. A call on a released object is the caller's fault, as on Windows a crash.
bool Alive(const Object& object, const std::string& call) {
    if (object.refs == 0) {
        sim::ReportFault(call + " on released " + Label(object));
        return false;
    }
    return true;
}

void CountedAddRef(Object& object) {
    ++object.refs;
    sim::Record("AddRef " + Label(object) + " refs=" + std::to_string(object.refs));
}

ULONG AddRefOf(Object& object) {
    std::lock_guard<std::mutex> guard(State().lock);
    if (!Alive(object, "AddRef")) {
        return 0;
    }
    CountedAddRef(object);
    return object.refs;
}

ULONG ReleaseOf(Object& object) {
    std::unique_lock<std::mutex> guard(State().lock);
    if (object.refs == 0) {
        sim::ReportFault("Release of released " + Label(object));
        return 0;
    }
    --object.refs;
    sim::Record("Release " + Label(object) + " refs=" + std::to_string(object.refs));
    if (object.refs == 0) {
        object.Died(guard);
    }
    return object.refs;
}

HRESULT QueryInterfaceOf(Object& object, REFIID riid, void** ppvObject, const IID& own) {
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    std::lock_guard<std::mutex> guard(State().lock);
    *ppvObject = nullptr;
    if (!Alive(object, "QueryInterface")) {
        return Unexpected;
    }
    if (!platform::SameGuid(riid, platform::IID_IUnknown) && !platform::SameGuid(riid, own)) {
        return E_NOINTERFACE;
    }
    *ppvObject = object.unknown;
    CountedAddRef(object);
    return S_OK;
}

// With the lock held: the new object, owned by the machine, with one reference.
template <typename Made, typename Interface>
Made* Make(Audio& audio, const char* kind, std::shared_ptr<Endpoint> endpoint) {
    auto made = std::make_unique<Made>();
    made->kind = kind;
    made->endpoint = std::move(endpoint);
    made->unknown = static_cast<Interface*>(made.get());
    Made* result = made.get();
    audio.objects.push_back(std::move(made));
    return result;
}

// With the lock held: waits until the registration's callback is not running. A callback that
// unregisters itself would wait for itself forever on Windows.
void AwaitCallback(Audio& audio, std::unique_lock<std::mutex>& guard,
                   const std::shared_ptr<Registration>& registration) {
    if (registration->running && registration->runner == std::this_thread::get_id()) {
        sim::ReportFault("UnregisterControlChangeNotify inside the callback it unregisters");
        return;
    }
    audio.changed.wait(guard, [&] { return !registration->running; });
}

class EndpointVolume final : public IAudioEndpointVolume, public Object {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
        return QueryInterfaceOf(*this, riid, ppvObject, platform::IID_IAudioEndpointVolume);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefOf(*this); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseOf(*this); }

    HRESULT STDMETHODCALLTYPE
    RegisterControlChangeNotify(IAudioEndpointVolumeCallback* pNotify) override {
        if (pNotify == nullptr) {
            return E_POINTER;
        }
        HRESULT hr = Call("RegisterControlChangeNotify", "", [&](Endpoint& target) {
            auto registration = std::make_shared<Registration>();
            registration->callback = pNotify;
            registration->owner = this;
            target.registrations.push_back(std::move(registration));
            return S_OK;
        });
        if (SUCCEEDED(hr)) {
            pNotify->AddRef(); // as Windows does; dropped again by the unregistration
        }
        return hr;
    }

    HRESULT STDMETHODCALLTYPE
    UnregisterControlChangeNotify(IAudioEndpointVolumeCallback* pNotify) override {
        if (pNotify == nullptr) {
            return E_POINTER;
        }
        auto& audio = State();
        std::unique_lock<std::mutex> guard(audio.lock);
        if (!Alive(*this, "UnregisterControlChangeNotify")) {
            return Unexpected;
        }
        // Allowed on a removed device: it is how its callbacks are let go.
        HRESULT hr = Injected(audio, "UnregisterControlChangeNotify", endpoint->name);
        auto& registrations = endpoint->registrations;
        auto found = std::find_if(registrations.begin(), registrations.end(), [&](auto& entry) {
            return entry->callback == pNotify && entry->owner == this;
        });
        if (SUCCEEDED(hr) && found == registrations.end()) {
            hr = E_INVALIDARG;
        }
        sim::Record("UnregisterControlChangeNotify " + endpoint->name + FailureSuffix(hr));
        if (FAILED(hr)) {
            return hr;
        }
        std::shared_ptr<Registration> registration = *found;
        registrations.erase(found);
        registration->active = false;
        AwaitCallback(audio, guard, registration);
        guard.unlock();
        pNotify->Release();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetChannelCount(UINT* pnChannelCount) override {
        return Call("GetChannelCount", "", [&](Endpoint& source) {
            if (pnChannelCount == nullptr) {
                return E_POINTER;
            }
            *pnChannelCount = static_cast<UINT>(source.channelLevels.size());
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE GetMasterVolumeLevelScalar(float* pfLevel) override {
        return Call("GetMasterVolumeLevelScalar", "", [&](Endpoint& source) {
            if (pfLevel == nullptr) {
                return E_POINTER;
            }
            *pfLevel = source.masterLevel;
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE GetChannelVolumeLevelScalar(UINT nChannel, float* pfLevel) override {
        return Call("GetChannelVolumeLevelScalar",
                    std::string(" ").append(std::to_string(nChannel)), [&](Endpoint& source) {
                        if (pfLevel == nullptr) {
                            return E_POINTER;
                        }
                        if (nChannel >= source.channelLevels.size()) {
                            return E_INVALIDARG;
                        }
                        *pfLevel = source.channelLevels[nChannel];
                        return S_OK;
                    });
    }

    HRESULT STDMETHODCALLTYPE GetMute(BOOL* pbMute) override {
        return Call("GetMute", "", [&](Endpoint& source) {
            if (pbMute == nullptr) {
                return E_POINTER;
            }
            *pbMute = source.muted;
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE SetMute(BOOL bMute, const GUID* pguidEventContext) override {
        auto& audio = State();
        std::lock_guard<std::mutex> guard(audio.lock);
        if (!Alive(*this, "SetMute")) {
            return Unexpected;
        }
        return SetMuteOf(audio, endpoint, false, bMute, pguidEventContext);
    }

    HRESULT STDMETHODCALLTYPE SetMasterVolumeLevelScalar(float fLevel,
                                                         const GUID* pguidEventContext) override {
        auto& audio = State();
        std::lock_guard<std::mutex> guard(audio.lock);
        if (!Alive(*this, "SetMasterVolumeLevelScalar")) {
            return Unexpected;
        }
        return SetMasterLevelOf(audio, endpoint, false, fLevel, pguidEventContext);
    }

    HRESULT STDMETHODCALLTYPE SetChannelVolumeLevelScalar(UINT nChannel, float fLevel,
                                                          const GUID* pguidEventContext) override {
        auto& audio = State();
        std::lock_guard<std::mutex> guard(audio.lock);
        if (!Alive(*this, "SetChannelVolumeLevelScalar")) {
            return Unexpected;
        }
        return SetChannelLevelOf(audio, endpoint, false, nChannel, fLevel, pguidEventContext);
    }

    // Decibel levels, volume steps and hardware support are not part of the simulated endpoint.
    HRESULT STDMETHODCALLTYPE SetMasterVolumeLevel(float, const GUID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMasterVolumeLevel(float*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetChannelVolumeLevel(UINT, float, const GUID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetChannelVolumeLevel(UINT, float*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVolumeStepInfo(UINT*, UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE VolumeStepUp(const GUID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE VolumeStepDown(const GUID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryHardwareSupport(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVolumeRange(float*, float*, float*) override { return E_NOTIMPL; }

    // Registrations must not outlive the object they were made through.
    void Died(std::unique_lock<std::mutex>& guard) override {
        auto& registrations = endpoint->registrations;
        for (;;) {
            // Searched afresh each time: the wait lets other threads change the list.
            auto entry = std::find_if(registrations.begin(), registrations.end(),
                                      [this](auto& candidate) { return candidate->owner == this; });
            if (entry == registrations.end()) {
                return;
            }
            sim::ReportFault("Release of " + Label(*this) + " with a callback still registered");
            std::shared_ptr<Registration> registration = *entry;
            registrations.erase(entry);
            registration->active = false;
            AwaitCallback(State(), guard, registration);
        }
    }

  private:
    // One read or registration call: journal, removal, failure injection, then the call itself.
    template <typename Body>
    HRESULT Call(const std::string& call, const std::string& args, Body body) {
        auto& audio = State();
        std::lock_guard<std::mutex> guard(audio.lock);
        if (!Alive(*this, call)) {
            return Unexpected;
        }
        HRESULT hr = endpoint->present ? S_OK : DeviceInvalidated;
        if (SUCCEEDED(hr)) {
            hr = Injected(audio, call, endpoint->name);
        }
        if (SUCCEEDED(hr)) {
            hr = body(*endpoint);
        }
        sim::Record(call + " " + endpoint->name + args + FailureSuffix(hr));
        return hr;
    }
};

class Device final : public IMMDevice, public Object {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
        return QueryInterfaceOf(*this, riid, ppvObject, IID_IMMDevice);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefOf(*this); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseOf(*this); }

    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD dwClsCtx, PROPVARIANT* pActivationParams,
                                       void** ppInterface) override {
        if (ppInterface == nullptr) {
            return E_POINTER;
        }
        auto& audio = State();
        std::lock_guard<std::mutex> guard(audio.lock);
        *ppInterface = nullptr;
        if (!Alive(*this, "Activate")) {
            return Unexpected;
        }
        bool volume = platform::SameGuid(iid, platform::IID_IAudioEndpointVolume);
        HRESULT hr = endpoint->present ? S_OK : DeviceInvalidated;
        if (SUCCEEDED(hr)) {
            hr = Injected(audio, "Activate", endpoint->name);
        }
        if (SUCCEEDED(hr) && !volume) {
            hr = E_NOINTERFACE;
        }
        if (SUCCEEDED(hr) && pActivationParams != nullptr) {
            hr = E_INVALIDARG; // the endpoint volume takes no activation parameters
        }
        if (SUCCEEDED(hr)) {
            *ppInterface =
                static_cast<IAudioEndpointVolume*>(Make<EndpointVolume, IAudioEndpointVolume>(
                    audio, "IAudioEndpointVolume", endpoint));
        }
        sim::Record("Activate " + endpoint->name + " " +
                    (volume ? std::string("IAudioEndpointVolume") : sim::FormatGuid(iid)) +
                    " clsctx=" + std::to_string(dwClsCtx) + FailureSuffix(hr));
        return hr;
    }

    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetState(DWORD* pdwState) override {
        if (pdwState == nullptr) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> guard(State().lock);
        if (!Alive(*this, "GetState")) {
            return Unexpected;
        }
        *pdwState = endpoint->present ? DEVICE_STATE_ACTIVE : NotPresent;
        return S_OK;
    }
};

class Enumerator final : public IMMDeviceEnumerator, public Object {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
        return QueryInterfaceOf(*this, riid, ppvObject, platform::IID_IMMDeviceEnumerator);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefOf(*this); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseOf(*this); }

    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR pwstrId, IMMDevice** ppDevice) override {
        if (ppDevice == nullptr) {
            return E_POINTER;
        }
        auto& audio = State();
        std::lock_guard<std::mutex> guard(audio.lock);
        *ppDevice = nullptr;
        if (!Alive(*this, "GetDevice")) {
            return Unexpected;
        }
        std::string name = sim::Narrow(pwstrId);
        HRESULT hr = pwstrId ? Injected(audio, "GetDevice", name) : E_POINTER;
        std::shared_ptr<Endpoint> endpoint;
        if (SUCCEEDED(hr)) {
            endpoint = FindEndpoint(audio, pwstrId);
            hr = endpoint ? S_OK : E_NOTFOUND;
        }
        if (SUCCEEDED(hr)) {
            *ppDevice = Make<Device, IMMDevice>(audio, "IMMDevice", endpoint);
        }
        sim::Record("GetDevice " + name + FailureSuffix(hr));
        return hr;
    }

    // Only opening a device by its id is simulated.
    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow, DWORD, IMMDeviceCollection**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow, ERole, IMMDevice**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE
    RegisterEndpointNotificationCallback(IMMNotificationClient*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE
    UnregisterEndpointNotificationCallback(IMMNotificationClient*) override {
        return E_NOTIMPL;
    }
};

} // namespace
} // namespace sim::audio::detail

namespace platform {

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                REFIID riid, LPVOID* ppv) {
    using namespace sim::audio::detail;
    if (ppv == nullptr) {
        return E_POINTER;
    }
    auto& audio = State();
    std::lock_guard<std::mutex> guard(audio.lock);
    *ppv = nullptr;
    bool enumerator = SameGuid(rclsid, CLSID_MMDeviceEnumerator);
    HRESULT hr = S_OK;
    if (!sim::com::Initialized()) {
        hr = NotInitialized; // COM needs an apartment on the calling thread
    } else if (!enumerator) {
        hr = REGDB_E_CLASSNOTREG;
    } else if (pUnkOuter != nullptr) {
        hr = NoAggregation;
    } else {
        hr = Injected(audio, "CoCreateInstance", std::string());
    }
    if (SUCCEEDED(hr) && !SameGuid(riid, IID_IMMDeviceEnumerator) &&
        !SameGuid(riid, IID_IUnknown)) {
        hr = E_NOINTERFACE;
    }
    if (SUCCEEDED(hr)) {
        *ppv = static_cast<IMMDeviceEnumerator*>(
            Make<Enumerator, IMMDeviceEnumerator>(audio, "IMMDeviceEnumerator", nullptr));
    }
    // The interface asked for is named: the enumerator also answers IID_IUnknown, as every COM
    // object does (Microsoft's IUnknown::QueryInterface page), so only the record shows a caller
    // that asked for the wrong one.
    std::string iid = SameGuid(riid, IID_IMMDeviceEnumerator) ? "IMMDeviceEnumerator"
                      : SameGuid(riid, IID_IUnknown)          ? "IUnknown"
                                                              : sim::FormatGuid(riid);
    sim::Record("CoCreateInstance " +
                (enumerator ? std::string("MMDeviceEnumerator") : sim::FormatGuid(rclsid)) + " " +
                iid + " clsctx=" + std::to_string(dwClsContext) + FailureSuffix(hr));
    return hr;
}

} // namespace platform
