// Simulated audio system, shared by its implementation files: the DirectSound list, the
// endpoints, the reference-counted objects and the notification queues, under one lock.
#pragma once

#include "platform/sim/audio.h"
#include "platform/sim/machine.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace sim::audio::detail {

struct Registration {
    IAudioEndpointVolumeCallback* callback;
    const void* owner;        // the IAudioEndpointVolume object it was registered through
    unsigned run = 0;         // the audio service's run it was made in
    unsigned incarnation = 0; // the endpoint's, when it was made
    bool active = true;
    bool running = false;
    std::thread::id runner;
};

struct Delivery {
    std::string endpointName; // of the endpoint that changed, whichever thread delivers it
    std::shared_ptr<AUDIO_VOLUME_NOTIFICATION_DATA> data;
    std::vector<std::shared_ptr<Registration>> registrations;
};

struct Endpoint {
    platform::WideString id;
    std::string name; // the id as journal text
    platform::WideString friendlyName;
    bool present = true;
    DWORD state = DEVICE_STATE_ACTIVE;
    // Counts the endpoint's returns to ACTIVE: volume objects of an earlier one stay invalidated.
    unsigned incarnation = 0;
    float masterLevel = 1.0f;
    BOOL muted = FALSE;
    std::vector<float> channelLevels;
    std::vector<std::shared_ptr<Registration>> registrations;
    std::vector<std::string> setCalls;
    // The endpoint's audio-system thread, started with its first notification.
    std::deque<Delivery> queue;
    std::thread thread;
    bool stopping = false;
};

struct Entry {
    std::optional<platform::WideString> description;
    std::optional<platform::WideString> module;
    std::optional<GUID> guid;
};

// What every simulated COM object shares: its reference count and what it belongs to.
struct Object {
    virtual ~Object() = default;
    // Called with the lock held when the last reference goes.
    virtual void Died(std::unique_lock<std::mutex>&) {}
    std::string kind;
    std::shared_ptr<Endpoint> endpoint; // null for the enumerator
    IUnknown* unknown = nullptr;
    ULONG refs = 1;
    unsigned run = 0;         // the audio service's run it was made in
    unsigned incarnation = 0; // the endpoint's, when it was made
};

// An IMMNotificationClient registered through an enumerator.
struct Client {
    IMMNotificationClient* client;
    const void* owner;
    unsigned run = 0;
    bool active = true;
};

// One endpoint notification for the clients registered when it was raised.
struct ClientEvent {
    enum Kind { StateChanged, Added, Removed } kind;
    platform::WideString id;
    DWORD state = 0;
    std::vector<std::shared_ptr<Client>> clients;
};

struct Audio {
    std::mutex lock;
    std::condition_variable changed; // registrations, queues and the pending count
    std::vector<Entry> entries;
    std::map<platform::WideString, std::shared_ptr<Endpoint>> endpoints; // present ones
    std::vector<std::shared_ptr<Endpoint>> created; // all of this machine, for the reset
    std::vector<std::unique_ptr<Object>> objects;
    // Objects of earlier machines: kept so that a stale pointer is reported, not dereferenced.
    std::vector<std::unique_ptr<Object>> retired;
    std::map<std::string, HRESULT> results; // injected failure results by FailCall key
    std::size_t pending = 0;
    int nextThread = 1;
    // The audio service's run: objects and registrations of an earlier one are dead.
    unsigned run = 0;
    bool serviceDown = false; // between a restart's STOPPED and its START_PENDING
    bool callbacksSurviveRestart = false;
    std::vector<std::shared_ptr<Client>> clients;
    std::deque<ClientEvent> clientQueue;
    std::thread clientThread;
    std::thread::id clientRunner; // while a client callback runs
    bool clientStopping = false;
    // Under endpoint-callback-threads=shared: the endpoint whose thread delivers for all.
    std::shared_ptr<Endpoint> sharedNotifier;
};

Audio& State();
// With the lock held: the injected result of this call on the endpoint of this journal name
// (empty: none), or S_OK.
HRESULT Injected(Audio& audio, const std::string& call, const std::string& endpointName);
std::string FailureSuffix(HRESULT hr);
// With the lock held: the present endpoint of this id, or null.
std::shared_ptr<Endpoint> FindEndpoint(Audio& audio, const platform::WideString& endpointId);

// With the lock held: why a call on the object cannot be made now (the audio service restarted
// since it was made, the endpoint is gone or not active, or the volume object was made before the
// endpoint last left ACTIVE), or S_OK.
HRESULT Unusable(const Audio& audio, const Object& object, bool volumeObject);
// With the lock held: whether a call of the calling thread runs inside an endpoint notification
// callback, where registering, unregistering and last releases are faults.
bool InClientCallback(const Audio& audio);
// With the lock held: queues the notification for every client registered now.
void NotifyClients(Audio& audio, ClientEvent::Kind kind, const platform::WideString& id,
                   DWORD state);

// With the lock held: the Set calls, by the code under test through an object (failure injection
// applies, the call is counted in SetCalls) or by the user.
HRESULT SetMuteOf(Audio& audio, const std::shared_ptr<Endpoint>& endpoint, bool byUser, BOOL muted,
                  const GUID* context);
HRESULT SetMasterLevelOf(Audio& audio, const std::shared_ptr<Endpoint>& endpoint, bool byUser,
                         float level, const GUID* context);
HRESULT SetChannelLevelOf(Audio& audio, const std::shared_ptr<Endpoint>& endpoint, bool byUser,
                          UINT channel, float level, const GUID* context);
// The master level and the channel levels are one state, as Windows keeps them (the Sound panel's
// Levels and Balance sliders; SetChannelVolumeLevelScalar on learn.microsoft.com: a channel Set
// "changes the volume level of the endpoint"): the master is the loudest channel, and a new master
// scales every channel keeping their balance (from silence, all channels take the new level).
void ApplyMasterLevel(Endpoint& endpoint, float level);

} // namespace sim::audio::detail
