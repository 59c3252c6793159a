// The recovery watcher: its thread, its endpoint notification client, its notice of the audio
// service's state and its bounded retry.
#include "service/recovery.h"

#include "endpoint/endpoint_sync.h"
#include "platform/com.h"
#include "platform/guids.h"
#include "platform/handle.h"
#include "platform/kernel.h"
#include "platform/scm.h"
#include "service/service.h"

#include <cstddef>
#include <iterator>
#include <vector>

std::atomic<bool> EndpointsBound{false};

namespace {

// Set by the handler (RequestRecoveryRetry) while the watcher runs; null before and after.
std::atomic<HANDLE> RetryEvent{nullptr};
std::atomic<bool> Ended{false};

// What StartRecoveryWatcher opens on the service main thread and EndRecoveryWatcher closes there.
// The handler reads QuitEvent in the stop, which comes only after the start step has returned.
struct RecoveryRecord {
    HANDLE Thread = nullptr;
    HANDLE QuitEvent = nullptr;
    HANDLE WakeEvent = nullptr;
    HANDLE RetryEvent = nullptr;
};
RecoveryRecord Recovery;

// Registered with the watcher's own enumerator. Its callbacks run on threads of the audio system
// and must not block, register, unregister or release anything: each only sets the wake event,
// and the watcher decides on its own thread whether a render endpoint changed.
struct EndpointNotices final : IMMNotificationClient {
    explicit EndpointNotices(HANDLE wake) : wakeEvent(wake) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        if (platform::SameGuid(riid, platform::IID_IUnknown) ||
            platform::SameGuid(riid, platform::IID_IMMNotificationClient)) {
            *ppvObject = static_cast<IMMNotificationClient*>(this);
            return S_OK;
        }
        *ppvObject = nullptr;
        return E_NOINTERFACE;
    }
    // The watcher owns the client for longer than its registration; references change nothing.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return Wake(); }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return Wake(); }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return Wake(); }
    // The default device plays no part in binding, and property changes include the service's
    // own volume writes: neither may lead to a rebuild.
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow, ERole, LPCWSTR) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override {
        return S_OK;
    }

    HRESULT Wake() {
        platform::SetEvent(wakeEvent);
        return S_OK;
    }

    HANDLE wakeEvent;
};

// The states of every endpoint of one data flow, in the enumerator's order.
using EndpointStates = std::vector<DWORD>;

bool ReadEndpointStates(IMMDeviceEnumerator* enumerator, EDataFlow flow, EndpointStates& states) {
    platform::ComPtr<IMMDeviceCollection> devices;
    UINT count = 0;
    if (FAILED(enumerator->EnumAudioEndpoints(flow, DEVICE_STATEMASK_ALL, devices.put())) ||
        FAILED(devices->GetCount(&count))) {
        return false;
    }
    states.clear();
    for (UINT index = 0; index < count; ++index) {
        platform::ComPtr<IMMDevice> device;
        DWORD state = 0;
        if (FAILED(devices->Item(index, device.put())) || FAILED(device->GetState(&state))) {
            return false;
        }
        states.push_back(state);
    }
    return true;
}

// The watcher's Core Audio side: an enumerator of its own, kept for as long as the client is
// registered through it, and the endpoint states it last saw.
class EndpointWatch {
  public:
    explicit EndpointWatch(HANDLE wake) : client_(wake) {}
    EndpointWatch(const EndpointWatch&) = delete;
    EndpointWatch& operator=(const EndpointWatch&) = delete;
    ~EndpointWatch() { Close(); }

    void Open() {
        HRESULT hr =
            platform::CoCreateInstance(platform::CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                       platform::IID_IMMDeviceEnumerator, enumerator_.put_void());
        if (FAILED(hr)) {
            return;
        }
        registered_ = SUCCEEDED(enumerator_->RegisterEndpointNotificationCallback(&client_));
        Changed();
    }

    // Unregistered before the enumerator goes, and never from inside a callback.
    void Close() {
        if (registered_) {
            enumerator_->UnregisterEndpointNotificationCallback(&client_);
            registered_ = false;
        }
        enumerator_.reset();
    }

    // After a wake: whether a render endpoint may have changed since the last look. A change seen
    // on capture endpoints alone answers no; anything unclear (an enumeration that fails, or no
    // visible change, as when an endpoint was disabled and enabled again before the look) yes.
    bool Changed() {
        EndpointStates render;
        EndpointStates capture;
        if (!enumerator_ || !ReadEndpointStates(enumerator_.get(), eRender, render) ||
            !ReadEndpointStates(enumerator_.get(), eCapture, capture)) {
            return true;
        }
        bool renderChanged = render != render_;
        bool captureChanged = capture != capture_;
        render_ = std::move(render);
        capture_ = std::move(capture);
        return renderChanged || !captureChanged;
    }

  private:
    EndpointNotices client_;
    platform::ComPtr<IMMDeviceEnumerator> enumerator_;
    bool registered_ = false;
    EndpointStates render_;
    EndpointStates capture_;
};

// ERROR_SERVICE_NOTIFY_CLIENT_LAGGING, which mingw-w64's headers lack.
constexpr DWORD NotifyClientLagging = 1294;

// The notice of the audio service's state. The record lives for the whole process, since it must
// stay valid until its notice has run. The APC only records; the watcher re-arms after its wait.
struct AudioServiceNotice {
    SERVICE_NOTIFYW record = {};
    bool armed = false;
    bool running = true; // until told otherwise, the audio service is taken to run
    bool restarted = false;
};
AudioServiceNotice AudioNotice;

void CALLBACK OnAudioServiceNotice(PVOID parameter) {
    auto* notice = static_cast<AudioServiceNotice*>(parameter);
    notice->armed = false;
    if (notice->record.dwNotificationStatus != ERROR_SUCCESS) {
        return;
    }
    bool running = notice->record.ServiceStatus.dwCurrentState == SERVICE_RUNNING;
    if (running && !notice->running) {
        notice->restarted = true;
    }
    notice->running = running;
}

class AudioServiceWatch {
  public:
    AudioServiceWatch() {
        // The request of an earlier watcher went with its handle.
        AudioNotice = {};
        notify_ = reinterpret_cast<platform::NotifyServiceStatusChangeWProc>(
            reinterpret_cast<void*>(platform::GetProcAddress(
                platform::GetModuleHandleW(WIDE("advapi32.dll")), "NotifyServiceStatusChangeW")));
        if (notify_ != nullptr) {
            Open();
        }
    }

    // One request at a time, for the state the audio service is not in, so that a notice never
    // follows at once from a state that has not changed.
    void Arm() {
        if (!service_ || AudioNotice.armed) {
            return;
        }
        AudioNotice.record = {};
        AudioNotice.record.dwVersion = SERVICE_NOTIFY_STATUS_CHANGE;
        AudioNotice.record.pfnNotifyCallback = OnAudioServiceNotice;
        AudioNotice.record.pContext = &AudioNotice;
        DWORD mask = AudioNotice.running ? SERVICE_NOTIFY_STOPPED : SERVICE_NOTIFY_RUNNING;
        DWORD result = notify_(service_.get(), mask, &AudioNotice.record);
        if (result == NotifyClientLagging) {
            // The manager asks for fresh handles and a new request.
            Open();
            result = service_ ? notify_(service_.get(), mask, &AudioNotice.record) : result;
        }
        AudioNotice.armed = result == ERROR_SUCCESS;
        if (!AudioNotice.armed) {
            // Any other refusal (the service marked for deletion, say) ends the watch: asking
            // again would only be refused again.
            service_.reset();
        }
    }

  private:
    void Open() {
        service_.reset();
        manager_.reset(platform::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        if (manager_) {
            service_.reset(
                platform::OpenServiceW(manager_.get(), AudioServiceName, SERVICE_QUERY_STATUS));
        }
    }

    platform::NotifyServiceStatusChangeWProc notify_ = nullptr;
    platform::UniqueScHandle manager_;
    platform::UniqueScHandle service_;
};

// Sends the service its own RecoveryControl; waits while the handler runs it.
void SendRecoveryControl() {
    platform::UniqueScHandle manager(
        platform::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return;
    }
    platform::UniqueScHandle service(
        platform::OpenServiceW(manager.get(), ServiceName, SERVICE_USER_DEFINED_CONTROL));
    if (!service) {
        return;
    }
    SERVICE_STATUS status = {};
    platform::ControlService(service.get(), RecoveryControl, &status);
}

constexpr std::size_t NoRetry = std::size(RecoveryRetryDelays);

DWORD WINAPI RecoveryWatcher(LPVOID readyEvent) {
    platform::CoInitialize(nullptr);
    {
        EndpointWatch endpoints(Recovery.WakeEvent);
        endpoints.Open();
        AudioServiceWatch audio;
        audio.Arm();
        // From here on no notice is lost; the start step goes on.
        platform::SetEvent(static_cast<HANDLE>(readyEvent));
        // The index of the next delay of a retry run; NoRetry while none runs.
        std::size_t retry = NoRetry;
        auto rebuild = [&retry] {
            SendRecoveryControl();
            retry = EndpointsBound.load() ? NoRetry : 0;
        };
        for (;;) {
            audio.Arm();
            const HANDLE events[3] = {Recovery.QuitEvent, Recovery.WakeEvent, Recovery.RetryEvent};
            DWORD timeout = retry == NoRetry ? INFINITE : RecoveryRetryDelays[retry];
            DWORD result = platform::WaitForMultipleObjectsEx(3, events, FALSE, timeout, TRUE);
            if (result == WAIT_OBJECT_0 || result == WAIT_FAILED) {
                break;
            }
            if (result == WAIT_OBJECT_0 + 1) {
                if (endpoints.Changed()) {
                    rebuild();
                }
            } else if (result == WAIT_OBJECT_0 + 2) {
                // The handler has just rebuilt; the run starts with a delay.
                retry = 0;
            } else if (result == WAIT_IO_COMPLETION) {
                if (AudioNotice.restarted) {
                    AudioNotice.restarted = false;
                    // Callbacks registered before the restart are never heard again.
                    endpoints.Close();
                    endpoints.Open();
                    rebuild();
                }
            } else if (result == WAIT_TIMEOUT) {
                SendRecoveryControl();
                retry = EndpointsBound.load() ? NoRetry : retry + 1;
            }
        }
    }
    platform::CoUninitialize();
    return 0;
}

} // namespace

void StartRecoveryWatcher() {
    platform::UniqueKernelHandle quit(platform::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    platform::UniqueKernelHandle wake(platform::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    platform::UniqueKernelHandle retry(platform::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    platform::UniqueKernelHandle ready(platform::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!quit || !wake || !retry || !ready) {
        return;
    }
    Recovery.QuitEvent = quit.get();
    Recovery.WakeEvent = wake.get();
    Recovery.RetryEvent = retry.get();
    Recovery.Thread = platform::CreateThread(nullptr, 0, RecoveryWatcher, ready.get(), 0, nullptr);
    if (Recovery.Thread == nullptr) {
        Recovery = {};
        return;
    }
    // The service reports itself running with its watcher listening; a watcher that ended at once
    // (its wait failed) does not hold the start.
    const HANDLE started[2] = {ready.get(), Recovery.Thread};
    platform::WaitForMultipleObjects(2, started, FALSE, INFINITE);
    quit.release();
    wake.release();
    RetryEvent.store(retry.release());
}

void SignalRecoveryStop() {
    if (Recovery.QuitEvent) {
        Ended.store(true);
        platform::SetEvent(Recovery.QuitEvent);
    }
}

void EndRecoveryWatcher() {
    if (Recovery.Thread == nullptr) {
        return;
    }
    platform::WaitForSingleObject(Recovery.Thread, INFINITE);
    RetryEvent.store(nullptr);
    platform::CloseHandle(Recovery.Thread);
    platform::CloseHandle(Recovery.QuitEvent);
    platform::CloseHandle(Recovery.WakeEvent);
    platform::CloseHandle(Recovery.RetryEvent);
    Recovery = {};
    Ended.store(false);
}

bool RecoveryEnded() {
    return Ended.load();
}

void RequestRecoveryRetry() {
    if (HANDLE retry = RetryEvent.load()) {
        platform::SetEvent(retry);
    }
}

void PublishEndpointsBound() {
    EndpointsBound.store(HardwareEndpoint != nullptr && VirtualEndpoint != nullptr);
}
