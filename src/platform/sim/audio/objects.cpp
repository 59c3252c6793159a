// Simulated Core Audio objects (IMMDeviceEnumerator, IMMDevice, IAudioEndpointVolume) and the
// CoCreateInstance that makes the enumerator.
#include "platform/com.h"
#include "platform/guids.h"
#include "platform/sim/audio/audio_state.h"
#include "platform/sim/com.h"

#include <algorithm>
#include <cstdlib>

namespace sim::audio::detail {
namespace {

constexpr HRESULT Unexpected = static_cast<HRESULT>(0x8000FFFFu);     // E_UNEXPECTED
constexpr HRESULT NoAggregation = static_cast<HRESULT>(0x80040110u);  // CLASS_E_NOAGGREGATION
constexpr HRESULT NotInitialized = static_cast<HRESULT>(0x800401F0u); // CO_E_NOTINITIALIZED
constexpr GUID IID_IMMDevice = {
    0xD666063F, 0x1587, 0x4E43, {0x81, 0xF1, 0xB9, 0x48, 0xE8, 0x07, 0x36, 0x3F}};
constexpr HRESULT AccessDenied = static_cast<HRESULT>(0x80030005u); // STG_E_ACCESSDENIED
constexpr HRESULT Denied = static_cast<HRESULT>(0x80070005u);       // E_ACCESSDENIED
constexpr GUID IID_IPropertyStore = {
    0x886D8EEB, 0x8CF2, 0x4446, {0x8D, 0x02, 0xCD, 0xBA, 0x1D, 0xBD, 0xCF, 0x99}};
constexpr GUID IID_IMMDeviceCollection = {
    0x0BD7A1BE, 0x7A1A, 0x44DB, {0x83, 0x97, 0xCC, 0x53, 0x92, 0x38, 0x7B, 0x5E}};

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
    if (object.refs == 0 && InClientCallback(State())) {
        sim::ReportFault("last Release of " + Label(object) + " inside an endpoint notification");
    }
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
    made->run = audio.run;
    made->incarnation = made->endpoint ? made->endpoint->incarnation : 0;
    Made* result = made.get();
    audio.objects.push_back(std::move(made));
    return result;
}

// With the lock held: registering or unregistering inside an endpoint notification is a fault.
bool OutsideClientCallback(const Audio& audio, const std::string& call) {
    if (InClientCallback(audio)) {
        sim::ReportFault(call + " inside an endpoint notification");
        return false;
    }
    return true;
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
        if (!OutsideClientCallback(State(), "RegisterControlChangeNotify")) {
            return Unexpected;
        }
        HRESULT hr = Call("RegisterControlChangeNotify", "", [&](Endpoint& target) {
            auto registration = std::make_shared<Registration>();
            registration->callback = pNotify;
            registration->owner = this;
            registration->run = run;
            registration->incarnation = incarnation;
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
        if (!Alive(*this, "UnregisterControlChangeNotify") ||
            !OutsideClientCallback(audio, "UnregisterControlChangeNotify")) {
            return Unexpected;
        }
        // Allowed on a removed or inactive device: it is how its callbacks are let go. After a
        // restart of the audio service the registration goes too, but the answer tells of it.
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
        HRESULT answer = run == audio.run ? S_OK : ServiceNotRunning;
        guard.unlock();
        pNotify->Release();
        return answer;
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
            // A registration of an earlier run of the audio service died with it.
            if (run == State().run) {
                sim::ReportFault("Release of " + Label(*this) +
                                 " with a callback still registered");
            }
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
        HRESULT hr = Unusable(audio, *this, true);
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

// A read-only store with the endpoint's friendly name; readable whatever the endpoint's state.
class PropertyStore final : public IPropertyStore, public Object {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
        return QueryInterfaceOf(*this, riid, ppvObject, IID_IPropertyStore);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefOf(*this); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseOf(*this); }

    HRESULT STDMETHODCALLTYPE GetCount(DWORD* cProps) override {
        if (cProps == nullptr) {
            return E_POINTER;
        }
        *cProps = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD iProp, PROPERTYKEY* pkey) override {
        if (pkey == nullptr) {
            return E_POINTER;
        }
        if (iProp != 0) {
            return E_INVALIDARG;
        }
        *pkey = platform::PKEY_Device_FriendlyName;
        return S_OK;
    }
    // A property the store lacks reads as VT_EMPTY with S_OK (IPropertyStore::GetValue page).
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* pv) override {
        if (pv == nullptr) {
            return E_POINTER;
        }
        auto& audio = State();
        std::lock_guard<std::mutex> guard(audio.lock);
        *pv = {};
        if (!Alive(*this, "GetValue")) {
            return Unexpected;
        }
        if (run != audio.run) {
            return ServiceNotRunning;
        }
        if (platform::SameGuid(key.fmtid, platform::PKEY_Device_FriendlyName.fmtid) &&
            key.pid == platform::PKEY_Device_FriendlyName.pid) {
            const auto& name = endpoint->friendlyName;
            auto* text = static_cast<WCHAR*>(std::malloc((name.size() + 1) * sizeof(WCHAR)));
            if (!text) {
                return E_OUTOFMEMORY;
            }
            std::copy(name.begin(), name.end(), text);
            text[name.size()] = 0;
            pv->vt = VT_LPWSTR;
            pv->pwszVal = text;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override {
        return AccessDenied; // opened for reading
    }
    HRESULT STDMETHODCALLTYPE Commit() override { return AccessDenied; }
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
        HRESULT hr = audio.serviceDown ? ServiceNotRunning : Unusable(audio, *this, false);
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

    // For reading only (STGM_READ): writing endpoint properties needs an administrator.
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD stgmAccess,
                                                IPropertyStore** ppProperties) override {
        if (ppProperties == nullptr) {
            return E_POINTER;
        }
        auto& audio = State();
        std::lock_guard<std::mutex> guard(audio.lock);
        *ppProperties = nullptr;
        if (!Alive(*this, "OpenPropertyStore")) {
            return Unexpected;
        }
        HRESULT hr = run != audio.run ? ServiceNotRunning : stgmAccess != STGM_READ ? Denied : S_OK;
        sim::Record("OpenPropertyStore " + endpoint->name + FailureSuffix(hr));
        if (SUCCEEDED(hr)) {
            *ppProperties = Make<PropertyStore, IPropertyStore>(audio, "IPropertyStore", endpoint);
        }
        return hr;
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
        if (run != State().run) {
            return ServiceNotRunning;
        }
        *pdwState = endpoint->present ? endpoint->state : DWORD{DEVICE_STATE_NOTPRESENT};
        return S_OK;
    }
};

class Collection final : public IMMDeviceCollection, public Object {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
        return QueryInterfaceOf(*this, riid, ppvObject, IID_IMMDeviceCollection);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefOf(*this); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseOf(*this); }

    HRESULT STDMETHODCALLTYPE GetCount(UINT* pcDevices) override {
        if (pcDevices == nullptr) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> guard(State().lock);
        if (!Alive(*this, "GetCount")) {
            return Unexpected;
        }
        *pcDevices = static_cast<UINT>(endpoints.size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Item(UINT nDevice, IMMDevice** ppDevice) override {
        if (ppDevice == nullptr) {
            return E_POINTER;
        }
        auto& audio = State();
        std::lock_guard<std::mutex> guard(audio.lock);
        *ppDevice = nullptr;
        if (!Alive(*this, "Item")) {
            return Unexpected;
        }
        if (nDevice >= endpoints.size()) {
            return E_INVALIDARG;
        }
        *ppDevice = Make<Device, IMMDevice>(audio, "IMMDevice", endpoints[nDevice]);
        return S_OK;
    }

    // A snapshot, as Windows takes it when the collection is made.
    std::vector<std::shared_ptr<Endpoint>> endpoints;
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
        HRESULT hr = pwstrId ? Unusable(audio, *this, false) : E_POINTER;
        if (SUCCEEDED(hr)) {
            hr = Injected(audio, "GetDevice", name);
        }
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

    // Render endpoints only: a capture list is empty. In the order the endpoints arrived.
    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow dataFlow, DWORD dwStateMask,
                                                 IMMDeviceCollection** ppDevices) override {
        if (ppDevices == nullptr) {
            return E_POINTER;
        }
        auto& audio = State();
        std::lock_guard<std::mutex> guard(audio.lock);
        *ppDevices = nullptr;
        if (!Alive(*this, "EnumAudioEndpoints")) {
            return Unexpected;
        }
        HRESULT hr = Unusable(audio, *this, false);
        if (SUCCEEDED(hr) && ((dwStateMask & ~DWORD{DEVICE_STATEMASK_ALL}) != 0 ||
                              (dataFlow != eRender && dataFlow != eCapture && dataFlow != eAll))) {
            hr = E_INVALIDARG;
        }
        sim::Record("EnumAudioEndpoints " + std::to_string(dataFlow) + " " +
                    std::to_string(dwStateMask) + FailureSuffix(hr));
        if (FAILED(hr)) {
            return hr;
        }
        auto* collection =
            Make<Collection, IMMDeviceCollection>(audio, "IMMDeviceCollection", nullptr);
        for (auto& endpoint : audio.created) {
            if (dataFlow != eCapture && FindEndpoint(audio, endpoint->id) == endpoint &&
                (endpoint->state & dwStateMask) != 0) {
                collection->endpoints.push_back(endpoint);
            }
        }
        *ppDevices = collection;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow, ERole, IMMDevice**) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE
    RegisterEndpointNotificationCallback(IMMNotificationClient* pClient) override {
        auto& audio = State();
        std::lock_guard<std::mutex> guard(audio.lock);
        if (!Alive(*this, "RegisterEndpointNotificationCallback") ||
            !OutsideClientCallback(audio, "RegisterEndpointNotificationCallback")) {
            return Unexpected;
        }
        HRESULT hr = pClient ? Unusable(audio, *this, false) : E_POINTER;
        if (SUCCEEDED(hr)) {
            hr = Injected(audio, "RegisterEndpointNotificationCallback", std::string());
        }
        sim::Record("RegisterEndpointNotificationCallback" + FailureSuffix(hr));
        if (SUCCEEDED(hr)) {
            auto client = std::make_shared<Client>();
            client->client = pClient;
            client->owner = this;
            client->run = run;
            audio.clients.push_back(std::move(client));
        }
        return hr;
    }

    HRESULT STDMETHODCALLTYPE
    UnregisterEndpointNotificationCallback(IMMNotificationClient* pClient) override {
        auto& audio = State();
        std::unique_lock<std::mutex> guard(audio.lock);
        if (!Alive(*this, "UnregisterEndpointNotificationCallback") ||
            !OutsideClientCallback(audio, "UnregisterEndpointNotificationCallback")) {
            return Unexpected;
        }
        auto& clients = audio.clients;
        auto found = std::find_if(clients.begin(), clients.end(), [&](auto& entry) {
            return entry->client == pClient && entry->owner == this;
        });
        HRESULT hr = !pClient                 ? E_POINTER
                     : found == clients.end() ? E_NOTFOUND
                     : run != audio.run       ? ServiceNotRunning
                                              : S_OK;
        sim::Record("UnregisterEndpointNotificationCallback" + FailureSuffix(hr));
        if (found != clients.end()) {
            // Gone even when the audio service restarted since: nothing is delivered after this.
            (*found)->active = false;
            clients.erase(found);
            audio.changed.wait(guard, [&] { return audio.clientRunner == std::thread::id(); });
        }
        return hr;
    }

    // Clients must not outlive the enumerator they were registered through.
    void Died(std::unique_lock<std::mutex>&) override {
        auto& clients = State().clients;
        for (auto entry = clients.begin(); entry != clients.end();) {
            if ((*entry)->owner != this) {
                ++entry;
                continue;
            }
            if (run == State().run) {
                sim::ReportFault("Release of IMMDeviceEnumerator with a client still registered");
            }
            (*entry)->active = false;
            entry = clients.erase(entry);
        }
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
