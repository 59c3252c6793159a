// The simulated audio system: DirectSound's render device list and the Core Audio endpoints behind
// it (IMMDeviceEnumerator, IMMDevice, IAudioEndpointVolume), with CoCreateInstance for the
// enumerator. Endpoints hold a master level, a mute state and one level per channel.
//
// Behaviour the logic relies on, as on Windows:
// - DirectSoundEnumerateW calls back synchronously on the caller's thread, first for the primary
//   device ("Primary Sound Driver", null GUID, empty module string) when any entry is listed, then
//   once per entry in the order the entries were added, until the callback returns FALSE.
// - A Set call, through any IAudioEndpointVolume of the endpoint or by "the user", that changes
//   the endpoint's state notifies every callback registered on that endpoint; one that changes
//   nothing notifies no one. Notifications run on an audio-system thread of the endpoint
//   ("audio-N", one per endpoint, so they keep their order per endpoint), never on the caller's
//   thread. The record carries the caller's event context (GUID_NULL for a null one), the state
//   after the change and exactly nChannels levels laid out past the one-element afChannelVolumes
//   field.
// - UnregisterControlChangeNotify returns only when no callback of that registration is running,
//   and none is delivered after it returns. Registrations of the same callback are separate.
//   As on Windows, a registration holds a reference on the callback until it is unregistered.
//   Unregistering a callback that is not registered through that object returns E_INVALIDARG.
// - CoCreateInstance makes only the MMDeviceEnumerator, for IID_IMMDeviceEnumerator or
//   IID_IUnknown (E_NOINTERFACE otherwise), and fails with CO_E_NOTINITIALIZED (0x800401F0) on a
//   thread without CoInitialize (sim/com.h); a failure leaves *ppv null.
// - Objects count their references and can be used and released on any thread. GetDevice and
//   Activate hand out a new object each time. A call on a released object, a Release beyond zero,
//   or releasing an endpoint volume that still has registrations is reported with
//   sim::ReportFault; released objects stay allocated until the next reset.
// - Levels are scalars from 0.0 to 1.0; a level outside, or a channel index at or beyond the
//   endpoint's channel count, gives E_INVALIDARG. The master level is the loudest channel's: a
//   channel Set moves the master with it, a master Set scales every channel keeping their balance
//   (from silence, all channels take the new level). Where the pages are silent the machine takes
//   each answer of its variants (sim/variants.h): endpoint-unchanged-notice, endpoint-levels (the
//   balance kept as dB offsets, the scalar taken as linear in dB) and endpoint-callback-threads.
//   SetMute answers S_FALSE when the state does not change; the level Sets answer S_OK.
// - A removed device's endpoint answers every call of its objects with
//   AUDCLNT_E_DEVICE_INVALIDATED (0x88890004) and GetDevice with E_NOTFOUND.
//
// Journal (sim::Record, each entry followed by " [thread]"; a failed call ends in
// " -> 0x%08X" with its HRESULT; <id> is the endpoint id, <guid> as sim::FormatGuid or "null",
// levels printed with "%.9g", BOOLs as passed):
//   CoCreateInstance MMDeviceEnumerator <IMMDeviceEnumerator|IUnknown|iid> clsctx=<n>
//   DirectSoundEnumerateW
//   DirectSoundEnumerateW primary                before the callback for the primary device
//   DirectSoundEnumerateW entry <i>              before the callback for entry i (from 0)
//   GetDevice <id>
//   Activate <id> <IAudioEndpointVolume|guid> clsctx=<n>
//   AddRef <interface> [<id>] refs=<count after>
//   Release <interface> [<id>] refs=<count after>
//   RegisterControlChangeNotify <id>
//   UnregisterControlChangeNotify <id>
//   GetMasterVolumeLevelScalar <id> | GetMute <id> | GetChannelCount <id>
//   GetChannelVolumeLevelScalar <id> <channel>
//   SetMute <id> <bMute> ctx=<guid>
//   SetMasterVolumeLevelScalar <id> <level> ctx=<guid>
//   SetChannelVolumeLevelScalar <id> <channel> <level> ctx=<guid>
//   User SetMute|SetMasterVolumeLevelScalar|SetChannelVolumeLevelScalar ...   (a change by
//                                                the user, same arguments as above)
//   OnNotify <id> ctx=<guid>                     on the audio thread, before each callback call
//   EnumAudioEndpoints <dataFlow> <stateMask>    (render endpoints only; IMMDeviceCollection)
//   OpenPropertyStore <id>                       read-only (STGM_READ; E_ACCESSDENIED otherwise):
//                                                PKEY_Device_FriendlyName, the description it
//                                                arrived with, as a VT_LPWSTR that
//                                                PropVariantClear frees
#pragma once

#include "platform/guids.h"
#include "platform/sim/ks.h"
#include "platform/types.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace sim::audio {

inline constexpr HRESULT DeviceInvalidated = static_cast<HRESULT>(0x88890004u);
inline constexpr HRESULT ServiceNotRunning = static_cast<HRESULT>(0x88890010u);

// One render device: its DirectSound entry and, when `endpoint` is set and the module string is
// non-empty, a Core Audio endpoint whose id is the module string.
struct RenderDevice {
    std::optional<platform::WideString> description = std::nullopt; // null description
    std::optional<platform::WideString> module = std::nullopt;      // null module string
    std::optional<GUID> guid = std::nullopt;                        // null GUID pointer
    bool endpoint = true;
    // Arrives as if set through SetMasterVolumeLevelScalar: the channels keep their balance and
    // the loudest takes masterLevel.
    float masterLevel = 1.0f;
    BOOL muted = FALSE;
    std::vector<float> channelLevels = {1.0f, 1.0f};
};

// Device arrival: the entry goes to the end of DirectSound's list. An endpoint whose id is
// already present is replaced, as a removal followed by an arrival.
void AddRenderDevice(const RenderDevice& device);
// Device removal: drops the entries with this module string and invalidates the endpoint.
// Returns false when no such device exists.
bool RemoveRenderDevice(const platform::WideString& endpointId);

// A whole render device plugged in or pulled out, as Windows sees it: its DirectSound entry and
// Core Audio endpoint (as AddRenderDevice and RemoveRenderDevice), its KS render interface
// (sim::ks::AddInterface and RemoveInterface), and then the device-interface event of
// KSCATEGORY_RENDER (sim::RaiseDeviceInterfaceEvent), in that order, so that whoever the event
// reaches finds the device already there or already gone. A running service registered for the
// class receives it as SERVICE_CONTROL_DEVICEEVENT on the dispatcher's thread; raised from any
// other thread, the call returns once the service's handler has returned. The event type is free
// (DBT_DEVICEQUERYREMOVE, DBT_DEVNODES_CHANGED, ...). Journal, before the event:
//   PlugRenderDevice <id> <interface path>
//   UnplugRenderDevice <id> <interface path>
// Unplugging an id that is not plugged in (through PlugRenderDevice) changes nothing, raises no
// event and answers false. Endpoint objects that the code under test still holds stay valid to
// release; every other call on them answers AUDCLNT_E_DEVICE_INVALIDATED.
void PlugRenderDevice(const RenderDevice& device, const sim::ks::RenderInterface& renderInterface,
                      DWORD eventType = DBT_DEVICEARRIVAL);
// The endpoint builder is late ("Audio Endpoint Builder Algorithm" on learn.microsoft.com: it
// creates a device's endpoints after it sees the interface arrival). While on, PlugRenderDevice
// adds the KS render interface and raises its event first; the endpoint and its DirectSound entry
// appear only once machine time (sim/machine.h) has moved on by the delay, with OnDeviceAdded and
// OnDeviceStateChanged ACTIVE to the registered clients, and not at all when the device was pulled
// out before. Journal: "EndpointBuilt <id>". Off on a fresh machine.
void SetLateEndpointBuilder(bool late, DWORD delayMilliseconds = 2000);
bool UnplugRenderDevice(const platform::WideString& endpointId,
                        DWORD eventType = DBT_DEVICEREMOVECOMPLETE);

struct EndpointState {
    bool present = false;
    DWORD state = 0; // DEVICE_STATE_XXX

    float masterLevel = 0.0f;
    BOOL muted = FALSE;
    std::vector<float> channelLevels;
};
EndpointState ReadEndpoint(const platform::WideString& endpointId);

// Endpoint states ("DEVICE_STATE_XXX Constants" and "Audio Endpoint Builder Algorithm" on
// learn.microsoft.com): the user disables or enables the endpoint in the Sound panel (DISABLED),
// pulls or plugs a jack (UNPLUGGED), or its device goes (NOTPRESENT); no interface event is sent.
// An endpoint that is not ACTIVE keeps its id (GetDevice still finds it, GetState tells its
// state, EnumAudioEndpoints lists it under its state's bit) but DirectSound omits it, and
// Activate, every IAudioEndpointVolume call and the user's changes answer
// AUDCLNT_E_DEVICE_INVALIDATED. Volume objects made before the endpoint left ACTIVE stay
// invalidated, and their callbacks silent, after it returns. Each change that changes the state
// reaches the registered IMMNotificationClients as OnDeviceStateChanged. False (and a fault) for
// an unknown endpoint. Journal: "SetEndpointState <id> <state>".
bool SetEndpointState(const platform::WideString& endpointId, DWORD state);

// IMMNotificationClient (IMMDeviceEnumerator::RegisterEndpointNotificationCallback page): the
// enumerator takes no reference on the client; E_POINTER for null, E_NOTFOUND unregistering a
// client not registered through that enumerator. Notifications run in order on one audio-system
// thread of the machine, never the caller's, and none is delivered after the unregistration
// returns: AddRenderDevice sends OnDeviceAdded then OnDeviceStateChanged ACTIVE, RemoveRenderDevice
// OnDeviceStateChanged NOTPRESENT, SetEndpointState OnDeviceStateChanged. Faults (the
// IMMNotificationClient page: callbacks must not block or call back into the audio system):
// releasing an enumerator with a client still registered through it; registering or
// unregistering a client or a volume callback, or releasing the last reference of an object,
// inside a notification. Journal, on the audio thread before each call:
//   OnDeviceStateChanged <id> <state> | OnDeviceAdded <id> | OnDeviceRemoved <id>
// and RegisterEndpointNotificationCallback / UnregisterEndpointNotificationCallback (+ failure).
// Clients registered now (through live enumerators).
std::size_t EndpointClients();

// The Windows audio service restarts (a driver or enhancement installer restarts it; restarting
// the endpoint builder takes it down too): the "AudioSrv" service of the service manager goes
// STOP_PENDING, STOPPED, START_PENDING and RUNNING (sim/scm.h: status notices). Every Core Audio
// object made before answers AUDCLNT_E_SERVICE_NOT_RUNNING (0x88890010) to every call but
// AddRef, Release and QueryInterface, forever; unregistering through it still lets the
// registration go, with that answer. Callbacks and clients registered before never fire again
// (no source says whether they do: the harsher answer, switchable with
// SetCallbacksSurviveRestart). Objects made after it work. No interface event is sent. With a
// down time, the service stays STOPPED until machine time (sim/machine.h) has moved on by it:
// meanwhile Activate and the calls of every endpoint volume answer AUDCLNT_E_SERVICE_NOT_RUNNING
// too (the enumerator and the devices, which the endpoint builder serves, still answer). Journal:
// "RestartAudioService <down time>".
void RestartAudioService(DWORD downMilliseconds = 0);
void SetCallbacksSurviveRestart(bool survive);

// A change made by the user (or by another program) with the given event context. Not subject to
// failure injection, not counted in SetCalls.
HRESULT UserSetMute(const platform::WideString& endpointId, BOOL muted,
                    const GUID& context = platform::GUID_NULL);
HRESULT UserSetMasterLevel(const platform::WideString& endpointId, float level,
                           const GUID& context = platform::GUID_NULL);
HRESULT UserSetChannelLevel(const platform::WideString& endpointId, UINT channel, float level,
                            const GUID& context = platform::GUID_NULL);

// The Set calls made through IAudioEndpointVolume objects of the endpoint, in order, in the
// journal's format without the thread tag (failed ones included).
std::vector<std::string> SetCalls(const platform::WideString& endpointId);

// Failure injection: the next `times` calls of `call` (-1: every call until reset) on the
// endpoint fail with `result`, after `skip` calls that succeed. Calls: "GetDevice", "Activate",
// "RegisterControlChangeNotify", "UnregisterControlChangeNotify" (the registration stays),
// "GetMasterVolumeLevelScalar", "GetMute", "GetChannelCount", "GetChannelVolumeLevelScalar",
// "SetMute", "SetMasterVolumeLevelScalar", "SetChannelVolumeLevelScalar". An empty endpoint id
// applies to every endpoint, and is how "CoCreateInstance" and "DirectSoundEnumerateW" (which
// then calls nothing back) are made to fail.
void FailCall(const platform::WideString& endpointId, const std::string& call, HRESULT result,
              int times = -1, int skip = 0);

// Reference counting, for leak and over-release checks.
std::size_t LiveObjects();
std::size_t LiveObjects(const std::string& interfaceName); // "IMMDevice", ...
ULONG RefCount(IUnknown* object);                          // without touching the count
std::size_t Registrations(const platform::WideString& endpointId);

// Waits until every notification made so far, and every one they caused, has been delivered.
// False when that takes longer than the timeout.
bool WaitIdle(DWORD timeoutMilliseconds = 10000);

} // namespace sim::audio
