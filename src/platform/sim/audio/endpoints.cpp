// Simulated audio system state: devices, endpoints, notification threads, failure injection and
// the control API of sim/audio.h.
#include "platform/sim/audio/audio_state.h"
#include "platform/sim/scm.h"
#include "platform/sim/variants.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <functional>

namespace sim::audio::detail {
namespace {

void Reset();

} // namespace

Audio& State() {
    static Audio* audio = [] {
        auto* created = new Audio; // outlives every thread of the process
        sim::OnReset(Reset);
        sim::AddBusyCheck([created] {
            std::lock_guard<std::mutex> guard(created->lock);
            return created->pending > 0;
        });
        return created;
    }();
    return *audio;
}

HRESULT Injected(Audio& audio, const std::string& call, const std::string& endpointName) {
    std::string keys[2] = {endpointName.empty() ? std::string() : call + " " + endpointName, call};
    for (auto& key : keys) {
        if (!key.empty() && sim::ShouldFail(key)) {
            auto found = audio.results.find(key);
            return found != audio.results.end() ? found->second : E_FAIL;
        }
    }
    return S_OK;
}

std::shared_ptr<Endpoint> FindEndpoint(Audio& audio, const platform::WideString& endpointId) {
    auto found = audio.endpoints.find(endpointId);
    return found == audio.endpoints.end() ? nullptr : found->second;
}

std::string FailureSuffix(HRESULT hr) {
    if (SUCCEEDED(hr)) {
        return std::string();
    }
    char text[24];
    std::snprintf(text, sizeof text, " -> 0x%08X", static_cast<unsigned>(hr));
    return text;
}

namespace {

void Reset() {
    auto& audio = State();
    std::vector<std::shared_ptr<Endpoint>> created;
    {
        std::lock_guard<std::mutex> guard(audio.lock);
        created.swap(audio.created);
        for (auto& endpoint : created) {
            endpoint->stopping = true;
            for (auto& registration : endpoint->registrations) {
                registration->active = false;
            }
        }
    }
    std::thread clientThread;
    {
        std::lock_guard<std::mutex> guard(audio.lock);
        audio.clientStopping = true;
        clientThread.swap(audio.clientThread);
    }
    audio.changed.notify_all();
    for (auto& endpoint : created) {
        if (endpoint->thread.joinable()) {
            endpoint->thread.join();
        }
    }
    if (clientThread.joinable()) {
        clientThread.join();
    }
    std::lock_guard<std::mutex> guard(audio.lock);
    audio.clients.clear();
    audio.clientQueue.clear();
    audio.clientStopping = false;
    audio.run = 0;
    audio.serviceDown = false;
    audio.callbacksSurviveRestart = false;
    for (auto& object : audio.objects) {
        object->refs = 0;
        audio.retired.push_back(std::move(object));
    }
    audio.objects.clear();
    audio.entries.clear();
    audio.endpoints.clear();
    audio.results.clear();
    audio.pending = 0;
    audio.nextThread = 1;
    audio.sharedNotifier = nullptr;
}

std::string Level(float level) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(level));
    return text;
}

struct NotificationDeleter {
    void operator()(AUDIO_VOLUME_NOTIFICATION_DATA* data) const { ::operator delete(data); }
};

// As Windows lays it out: nChannels levels from afChannelVolumes on, past the declared field.
std::shared_ptr<AUDIO_VOLUME_NOTIFICATION_DATA> MakeNotification(const Endpoint& endpoint,
                                                                 const GUID& context) {
    std::size_t count = endpoint.channelLevels.size();
    std::size_t size =
        offsetof(AUDIO_VOLUME_NOTIFICATION_DATA, afChannelVolumes) + count * sizeof(float);
    if (size < sizeof(AUDIO_VOLUME_NOTIFICATION_DATA)) {
        size = sizeof(AUDIO_VOLUME_NOTIFICATION_DATA);
    }
    auto* data = static_cast<AUDIO_VOLUME_NOTIFICATION_DATA*>(::operator new(size));
    data->guidEventContext = context;
    data->bMuted = endpoint.muted;
    data->fMasterVolume = endpoint.masterLevel;
    data->nChannels = static_cast<UINT>(count);
    float* levels = data->afChannelVolumes;
    std::copy(endpoint.channelLevels.begin(), endpoint.channelLevels.end(), levels);
    return std::shared_ptr<AUDIO_VOLUME_NOTIFICATION_DATA>(data, NotificationDeleter());
}

void RunNotifier(std::shared_ptr<Endpoint> endpoint, std::string name) {
    sim::SetThreadName(name);
    auto& audio = State();
    std::unique_lock<std::mutex> guard(audio.lock);
    for (;;) {
        audio.changed.wait(guard, [&] { return endpoint->stopping || !endpoint->queue.empty(); });
        if (endpoint->stopping) {
            return;
        }
        Delivery delivery = std::move(endpoint->queue.front());
        endpoint->queue.pop_front();
        for (auto& registration : delivery.registrations) {
            if (!registration->active) {
                continue;
            }
            registration->running = true;
            registration->runner = std::this_thread::get_id();
            sim::Record("OnNotify " + delivery.endpointName +
                        " ctx=" + sim::FormatGuid(delivery.data->guidEventContext));
            guard.unlock();
            registration->callback->OnNotify(delivery.data.get());
            guard.lock();
            registration->running = false;
            audio.changed.notify_all();
        }
        --audio.pending;
        audio.changed.notify_all();
    }
}

// With the lock held: queues one notification for every callback registered now; false when there
// is none.
bool Notify(Audio& audio, const std::shared_ptr<Endpoint>& endpoint, const GUID& context) {
    if (endpoint->stopping) {
        return false;
    }
    Delivery delivery;
    delivery.endpointName = endpoint->name;
    for (auto& registration : endpoint->registrations) {
        // A registration through a volume object of an earlier incarnation of the endpoint, or of
        // an earlier run of the audio service, has fallen silent.
        bool live = registration->incarnation == endpoint->incarnation &&
                    (registration->run == audio.run || audio.callbacksSurviveRestart);
        if (registration->active && live) {
            delivery.registrations.push_back(registration);
        }
    }
    if (delivery.registrations.empty()) {
        return false;
    }
    delivery.data = MakeNotification(*endpoint, context);
    std::shared_ptr<Endpoint> notifier = endpoint;
    const std::string threads = "endpoint-callback-threads";
    bool reversed = sim::VariantIs(threads, "reversed");
    if (reversed || sim::VariantIs(threads, "shared")) {
        if (!audio.sharedNotifier) {
            audio.sharedNotifier = endpoint;
        }
        notifier = audio.sharedNotifier;
        if (notifier != endpoint) {
            sim::CountVariantEffect(threads);
        }
    }
    if (!notifier->thread.joinable()) {
        notifier->thread =
            std::thread(RunNotifier, notifier, "audio-" + std::to_string(audio.nextThread++));
    }
    auto& queue = notifier->queue;
    auto place = queue.end();
    if (reversed) {
        // The endpoint changed last is served first; each endpoint's own notices keep their order.
        place = queue.begin();
        for (auto it = queue.begin(); it != queue.end(); ++it) {
            if (it->endpointName == delivery.endpointName) {
                place = it + 1;
            }
        }
        if (place != queue.end()) {
            sim::CountVariantEffect(threads);
        }
    }
    queue.insert(place, std::move(delivery));
    ++audio.pending;
    audio.changed.notify_all();
    return true;
}

bool ValidLevel(float level) {
    return level >= 0.0f && level <= 1.0f;
}

struct VolumeState {
    BOOL muted;
    float masterLevel;
    std::vector<float> channelLevels;
    explicit VolumeState(const Endpoint& endpoint)
        : muted(endpoint.muted), masterLevel(endpoint.masterLevel),
          channelLevels(endpoint.channelLevels) {}
    bool operator==(const VolumeState&) const = default;
};

// With the lock held: one Set call, by the code under test through an object or by the user. Only
// a call that changes the endpoint notifies: each Set page of IAudioEndpointVolume
// (learn.microsoft.com, endpointvolume.h) promises notifications "if the call changes" the level or
// the muting state.
HRESULT ApplySet(Audio& audio, const std::shared_ptr<Endpoint>& endpoint, bool byUser,
                 const std::string& call, const std::string& args, const GUID* context,
                 const std::function<HRESULT(Endpoint&)>& change) {
    HRESULT hr =
        endpoint->present && endpoint->state == DEVICE_STATE_ACTIVE ? S_OK : DeviceInvalidated;
    if (SUCCEEDED(hr) && !byUser) {
        hr = Injected(audio, call, endpoint->name);
    }
    bool changed = false;
    if (SUCCEEDED(hr)) {
        VolumeState before(*endpoint);
        hr = change(*endpoint);
        changed = !(before == VolumeState(*endpoint));
    }
    std::string text = call + " " + endpoint->name + " " + args +
                       " ctx=" + (context ? sim::FormatGuid(*context) : "null") + FailureSuffix(hr);
    sim::Record(byUser ? "User " + text : text);
    if (!byUser) {
        endpoint->setCalls.push_back(text);
    }
    const std::string unchanged = "endpoint-unchanged-notice";
    if (changed) {
        Notify(audio, endpoint, context ? *context : platform::GUID_NULL);
    } else if (SUCCEEDED(hr) && sim::VariantIs(unchanged, "notify") &&
               Notify(audio, endpoint, context ? *context : platform::GUID_NULL)) {
        sim::CountVariantEffect(unchanged);
    }
    return hr;
}

std::string ClientEventText(const ClientEvent& event) {
    std::string id = sim::Narrow(event.id);
    switch (event.kind) {
    case ClientEvent::StateChanged:
        return "OnDeviceStateChanged " + id + " " + std::to_string(event.state);
    case ClientEvent::Added:
        return "OnDeviceAdded " + id;
    case ClientEvent::Removed:
        return "OnDeviceRemoved " + id;
    }
    return std::string();
}

void RunClients(std::string name) {
    sim::SetThreadName(name);
    auto& audio = State();
    std::unique_lock<std::mutex> guard(audio.lock);
    for (;;) {
        audio.changed.wait(guard,
                           [&] { return audio.clientStopping || !audio.clientQueue.empty(); });
        if (audio.clientStopping) {
            return;
        }
        ClientEvent event = std::move(audio.clientQueue.front());
        audio.clientQueue.pop_front();
        for (auto& client : event.clients) {
            if (!client->active || (client->run != audio.run && !audio.callbacksSurviveRestart)) {
                continue;
            }
            audio.clientRunner = std::this_thread::get_id();
            sim::Record(ClientEventText(event));
            guard.unlock();
            IMMNotificationClient* target = client->client;
            switch (event.kind) {
            case ClientEvent::StateChanged:
                target->OnDeviceStateChanged(event.id.c_str(), event.state);
                break;
            case ClientEvent::Added:
                target->OnDeviceAdded(event.id.c_str());
                break;
            case ClientEvent::Removed:
                target->OnDeviceRemoved(event.id.c_str());
                break;
            }
            guard.lock();
            audio.clientRunner = std::thread::id();
            audio.changed.notify_all();
        }
        --audio.pending;
        audio.changed.notify_all();
    }
}

} // namespace

HRESULT Unusable(const Audio& audio, const Object& object, bool volumeObject) {
    if (object.run != audio.run || (volumeObject && audio.serviceDown)) {
        return ServiceNotRunning;
    }
    const auto& endpoint = object.endpoint;
    if (endpoint && (!endpoint->present || endpoint->state != DEVICE_STATE_ACTIVE ||
                     (volumeObject && object.incarnation != endpoint->incarnation))) {
        return DeviceInvalidated;
    }
    return S_OK;
}

bool InClientCallback(const Audio& audio) {
    return audio.clientRunner == std::this_thread::get_id();
}

void NotifyClients(Audio& audio, ClientEvent::Kind kind, const platform::WideString& id,
                   DWORD state) {
    ClientEvent event{kind, id, state, {}};
    for (auto& client : audio.clients) {
        if (client->active) {
            event.clients.push_back(client);
        }
    }
    if (event.clients.empty() || audio.clientStopping) {
        return;
    }
    if (!audio.clientThread.joinable()) {
        audio.clientThread = std::thread(RunClients, "audio-" + std::to_string(audio.nextThread++));
    }
    audio.clientQueue.push_back(std::move(event));
    ++audio.pending;
    audio.changed.notify_all();
}

HRESULT SetMuteOf(Audio& audio, const std::shared_ptr<Endpoint>& endpoint, bool byUser, BOOL muted,
                  const GUID* context) {
    return ApplySet(audio, endpoint, byUser, "SetMute", std::to_string(muted), context,
                    [muted](Endpoint& target) {
                        BOOL state = muted ? TRUE : FALSE;
                        HRESULT result = state == target.muted ? S_FALSE : S_OK;
                        target.muted = state;
                        return result;
                    });
}

HRESULT SetMasterLevelOf(Audio& audio, const std::shared_ptr<Endpoint>& endpoint, bool byUser,
                         float level, const GUID* context) {
    return ApplySet(audio, endpoint, byUser, "SetMasterVolumeLevelScalar", Level(level), context,
                    [level](Endpoint& target) {
                        if (!ValidLevel(level)) {
                            return E_INVALIDARG;
                        }
                        ApplyMasterLevel(target, level);
                        return S_OK;
                    });
}

HRESULT SetChannelLevelOf(Audio& audio, const std::shared_ptr<Endpoint>& endpoint, bool byUser,
                          UINT channel, float level, const GUID* context) {
    return ApplySet(audio, endpoint, byUser, "SetChannelVolumeLevelScalar",
                    std::to_string(channel) + " " + Level(level), context,
                    [channel, level](Endpoint& target) {
                        if (channel >= target.channelLevels.size() || !ValidLevel(level)) {
                            return E_INVALIDARG;
                        }
                        target.channelLevels[channel] = level;
                        target.masterLevel = *std::max_element(target.channelLevels.begin(),
                                                               target.channelLevels.end());
                        return S_OK;
                    });
}

void ApplyMasterLevel(Endpoint& endpoint, float level) {
    auto& channels = endpoint.channelLevels;
    endpoint.masterLevel = level;
    if (channels.empty()) {
        return;
    }
    float loudest = *std::max_element(channels.begin(), channels.end());
    bool decibel = sim::VariantIs("endpoint-levels", "decibel");
    bool differs = false;
    for (float& channel : channels) {
        float scaled = loudest <= 0.0f || channel == loudest
                           ? level
                           : std::min(level, channel / loudest * level);
        // In dB over the endpoint's range, taken as linear in the scalar: each channel keeps its
        // distance below the loudest, down to silence.
        float offset = loudest <= 0.0f ? level : std::max(0.0f, level - (loudest - channel));
        differs = differs || (decibel && std::fabs(offset - scaled) > 1e-6f);
        channel = decibel ? offset : scaled;
    }
    if (differs) {
        sim::CountVariantEffect("endpoint-levels");
    }
}

} // namespace sim::audio::detail

namespace sim::audio {

using namespace detail;

void AddRenderDevice(const RenderDevice& device) {
    auto& audio = State();
    std::lock_guard<std::mutex> guard(audio.lock);
    audio.entries.push_back(Entry{device.description, device.module, device.guid});
    if (!device.endpoint || !device.module || device.module->empty()) {
        return;
    }
    if (auto old = FindEndpoint(audio, *device.module)) {
        old->present = false;
    }
    auto endpoint = std::make_shared<Endpoint>();
    endpoint->id = *device.module;
    endpoint->name = sim::Narrow(*device.module);
    endpoint->friendlyName = device.description.value_or(platform::WideString());
    endpoint->muted = device.muted;
    endpoint->channelLevels = device.channelLevels;
    ApplyMasterLevel(*endpoint, device.masterLevel);
    audio.endpoints[endpoint->id] = endpoint;
    audio.created.push_back(endpoint);
    NotifyClients(audio, ClientEvent::Added, endpoint->id, 0);
    NotifyClients(audio, ClientEvent::StateChanged, endpoint->id, DEVICE_STATE_ACTIVE);
}

bool RemoveRenderDevice(const platform::WideString& endpointId) {
    auto& audio = State();
    std::lock_guard<std::mutex> guard(audio.lock);
    auto entries = std::remove_if(audio.entries.begin(), audio.entries.end(),
                                  [&](const Entry& entry) { return entry.module == endpointId; });
    bool found = entries != audio.entries.end();
    audio.entries.erase(entries, audio.entries.end());
    if (auto endpoint = FindEndpoint(audio, endpointId)) {
        endpoint->present = false;
        audio.endpoints.erase(endpointId);
        found = true;
        NotifyClients(audio, ClientEvent::StateChanged, endpointId, DEVICE_STATE_NOTPRESENT);
    }
    return found;
}

bool SetEndpointState(const platform::WideString& endpointId, DWORD state) {
    auto& audio = State();
    std::lock_guard<std::mutex> guard(audio.lock);
    auto endpoint = FindEndpoint(audio, endpointId);
    if (!endpoint) {
        sim::ReportFault("SetEndpointState on unknown endpoint " + sim::Narrow(endpointId));
        return false;
    }
    sim::Record("SetEndpointState " + endpoint->name + " " + std::to_string(state));
    if (endpoint->state == state) {
        return true;
    }
    if (endpoint->state == DEVICE_STATE_ACTIVE) {
        ++endpoint->incarnation;
    }
    endpoint->state = state;
    NotifyClients(audio, ClientEvent::StateChanged, endpointId, state);
    return true;
}

namespace {

void AudioServiceUp() {
    const platform::WideString name = WIDE("AudioSrv");
    sim::scm::SetSystemServiceState(name, SERVICE_START_PENDING);
    {
        std::lock_guard<std::mutex> guard(State().lock);
        State().serviceDown = false;
    }
    sim::scm::SetSystemServiceState(name, SERVICE_RUNNING);
}

} // namespace

void RestartAudioService(DWORD downMilliseconds) {
    const platform::WideString name = WIDE("AudioSrv");
    sim::Record("RestartAudioService " + std::to_string(downMilliseconds));
    sim::scm::SetSystemServiceState(name, SERVICE_STOP_PENDING);
    {
        std::lock_guard<std::mutex> guard(State().lock);
        ++State().run;
        State().serviceDown = true;
    }
    sim::scm::SetSystemServiceState(name, SERVICE_STOPPED);
    if (downMilliseconds == 0) {
        AudioServiceUp();
    } else {
        sim::AtMachineTime(downMilliseconds, AudioServiceUp);
    }
}

void SetCallbacksSurviveRestart(bool survive) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().callbacksSurviveRestart = survive;
}

std::size_t EndpointClients() {
    std::lock_guard<std::mutex> guard(State().lock);
    return static_cast<std::size_t>(std::count_if(State().clients.begin(), State().clients.end(),
                                                  [](auto& client) { return client->active; }));
}

EndpointState ReadEndpoint(const platform::WideString& endpointId) {
    auto& audio = State();
    std::lock_guard<std::mutex> guard(audio.lock);
    EndpointState state;
    if (auto endpoint = FindEndpoint(audio, endpointId)) {
        state.present = true;
        state.state = endpoint->state;
        state.masterLevel = endpoint->masterLevel;
        state.muted = endpoint->muted;
        state.channelLevels = endpoint->channelLevels;
    }
    return state;
}

namespace {

// A user change on an endpoint that does not exist is a mistake of the test.
template <typename Change>
HRESULT UserChange(const platform::WideString& endpointId, const char* call, Change change) {
    auto& audio = State();
    std::lock_guard<std::mutex> guard(audio.lock);
    auto endpoint = FindEndpoint(audio, endpointId);
    if (!endpoint) {
        sim::ReportFault(std::string("User ") + call + " on unknown endpoint " +
                         sim::Narrow(endpointId));
        return E_NOTFOUND;
    }
    return change(audio, endpoint);
}

} // namespace

HRESULT UserSetMute(const platform::WideString& endpointId, BOOL muted, const GUID& context) {
    return UserChange(endpointId, "SetMute", [&](Audio& audio, auto& endpoint) {
        return SetMuteOf(audio, endpoint, true, muted, &context);
    });
}

HRESULT UserSetMasterLevel(const platform::WideString& endpointId, float level,
                           const GUID& context) {
    return UserChange(endpointId, "SetMasterVolumeLevelScalar", [&](Audio& audio, auto& endpoint) {
        return SetMasterLevelOf(audio, endpoint, true, level, &context);
    });
}

HRESULT UserSetChannelLevel(const platform::WideString& endpointId, UINT channel, float level,
                            const GUID& context) {
    return UserChange(endpointId, "SetChannelVolumeLevelScalar", [&](Audio& audio, auto& endpoint) {
        return SetChannelLevelOf(audio, endpoint, true, channel, level, &context);
    });
}

std::vector<std::string> SetCalls(const platform::WideString& endpointId) {
    auto& audio = State();
    std::lock_guard<std::mutex> guard(audio.lock);
    std::vector<std::string> calls;
    // Removed and replaced endpoints of the same id count too: the calls were made.
    for (auto& endpoint : audio.created) {
        if (endpoint->id == endpointId) {
            calls.insert(calls.end(), endpoint->setCalls.begin(), endpoint->setCalls.end());
        }
    }
    return calls;
}

void FailCall(const platform::WideString& endpointId, const std::string& call, HRESULT result,
              int times, int skip) {
    std::string key = endpointId.empty() ? call : call + " " + sim::Narrow(endpointId);
    auto& audio = State();
    std::lock_guard<std::mutex> guard(audio.lock);
    audio.results[key] = result;
    sim::FailCall(key, times, skip);
}

std::size_t LiveObjects() {
    return LiveObjects(std::string());
}

std::size_t LiveObjects(const std::string& interfaceName) {
    auto& audio = State();
    std::lock_guard<std::mutex> guard(audio.lock);
    return static_cast<std::size_t>(
        std::count_if(audio.objects.begin(), audio.objects.end(), [&](const auto& object) {
            return object->refs > 0 && (interfaceName.empty() || object->kind == interfaceName);
        }));
}

ULONG RefCount(IUnknown* object) {
    auto& audio = State();
    std::lock_guard<std::mutex> guard(audio.lock);
    for (auto* list : {&audio.objects, &audio.retired}) {
        for (auto& candidate : *list) {
            if (candidate->unknown == object) {
                return candidate->refs;
            }
        }
    }
    sim::ReportFault("RefCount of an object the audio system did not make");
    return 0;
}

std::size_t Registrations(const platform::WideString& endpointId) {
    auto& audio = State();
    std::lock_guard<std::mutex> guard(audio.lock);
    std::size_t count = 0;
    for (auto& endpoint : audio.created) {
        if (endpoint->id == endpointId) {
            count += endpoint->registrations.size();
        }
    }
    return count;
}

bool WaitIdle(DWORD timeoutMilliseconds) {
    auto& audio = State();
    std::unique_lock<std::mutex> guard(audio.lock);
    return audio.changed.wait_for(guard, std::chrono::milliseconds(timeoutMilliseconds),
                                  [&] { return audio.pending == 0; });
}

} // namespace sim::audio
