// A seeded soak of the whole service on the simulated machine. One seed draws one sequence of
// steps (user changes on either device, several before the service can react; devices unplugged
// and plugged back; device events of any type; controls of any code; stops and new starts; a
// failure injected into one platform call) and checks, at the quiescent point after each step,
// that the two devices agree where they must, that the driver flag says whether a sync runs,
// that nothing is held beyond the current sync, that every stop completes and that no user change
// is written back to its own device. A failing seed prints its steps; the same seed replays them.
//   quenvar-soak [--version 6|5] [--seeds FIRST[-LAST]] [--steps N] [--seconds S]
// --seconds runs new seeds (from the clock) at both versions until the time is up. Each seed also
// draws the machine's variants (soak_variants.h); --variants name=answer,... fixes some.
#include "endpoint_sync_devices.h"
#include "mixer/mixer_table.h"
#include "mixer_sync_devices.h"
#include "platform/guids.h"
#include "platform/sim/audio.h"
#include "platform/sim/com.h"
#include "platform/sim/ks.h"
#include "platform/sim/machine.h"
#include "platform/sim/scm.h"
#include "platform/sim/user32.h"
#include "platform/sim/winmm.h"
#include "service/recovery.h"
#include "service/state.h"
#include "soak/soak_variants.h"
#include "support/service_runner.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// splitmix64: the same numbers from a seed on every compiler and library.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint32_t Below(std::uint32_t bound) { return static_cast<std::uint32_t>(Next() % bound); }
    bool Percent(std::uint32_t chance) { return Below(100) < chance; }
    float Level() { return static_cast<float>(Below(1001)) / 1000.0f; }

  private:
    std::uint64_t state_;
};

// Device events of every type a render interface can report, and some no one sends.
constexpr DWORD EventTypes[] = {DBT_DEVICEARRIVAL,
                                DBT_DEVICEQUERYREMOVE,
                                0x8002,
                                0x8003,
                                DBT_DEVICEREMOVECOMPLETE,
                                0x8005,
                                0x8006,
                                DBT_DEVNODES_CHANGED,
                                0x0018,
                                0xFFFFFFFF};

// The platform calls the machine can fail at each version, by their failure-injection names.
// Left out: CoInitialize, whose
// failure leaves the stop's CoUninitialize unmatched, which Windows ignores but this machine
// reports as a fault; UnregisterControlChangeNotify, which the machine fails while keeping the
// registration, so no caller could free the callback safely; CreateEventW and
// GetModuleFileNameW, which the running service does not call.
const std::vector<std::string> CommonCalls = {"GetVersionExW",
                                              "RegisterServiceCtrlHandlerExW",
                                              "RegisterDeviceNotificationW",
                                              "SetupDiGetClassDevsW",
                                              "SetupDiEnumDeviceInterfaces",
                                              "SetupDiGetDeviceInterfaceDetailW",
                                              "CreateFileW",
                                              "DeviceIoControl"};
const std::vector<std::string> EndpointCalls = {"AllocateObject",
                                                "CoCreateInstance",
                                                "DirectSoundEnumerateW",
                                                "GetDevice",
                                                "Activate",
                                                "RegisterControlChangeNotify",
                                                "GetMasterVolumeLevelScalar",
                                                "GetMute",
                                                "GetChannelCount",
                                                "GetChannelVolumeLevelScalar",
                                                "SetMute",
                                                "SetMasterVolumeLevelScalar",
                                                "SetChannelVolumeLevelScalar"};
const std::vector<std::string> MixerCalls = {"CreateThread",
                                             "RegisterClassExW",
                                             "CreateWindowExW",
                                             "PostMessageW",
                                             "PostThreadMessageW",
                                             "mixerGetNumDevs",
                                             "mixerGetDevCapsW",
                                             "mixerOpen",
                                             "mixerGetLineInfoW",
                                             "mixerGetLineControlsW",
                                             "mixerGetControlDetailsW",
                                             "mixerSetControlDetails"};

// What real machines do without any interface event, as steps of a running service above version
// 5, with their weights in percent of its steps: an endpoint disabled, unplugged or enabled again;
// the virtual device's driver installed again with a late endpoint builder; the audio service
// restarted. After one, a sync must run again within RecoverySteps steps once both devices can:
// the machine settles before each check, so recovery ends within the event's own step.
enum MachineEvent { EndpointState, LateDriver, AudioRestart, MachineEvents };
constexpr std::uint32_t MachineEventWeights[MachineEvents] = {4, 2, 2};
constexpr int RecoverySteps = 0;

// Whether the soak knows that a sync must run now.
enum class Expect { Running, Idle, Unknown };

struct Totals {
    std::uint64_t seeds = 0;
    std::uint64_t steps = 0;
    std::uint64_t races = 0;
    std::uint64_t injections = 0;
    std::uint64_t agreementChecks = 0;
    std::uint64_t restarts = 0;
    std::uint64_t events[MachineEvents] = {};
    int longestRecovery = 0;
};

class Soak {
  public:
    Soak(int major, std::uint64_t seed, int steps)
        : major_(major), seed_(seed), steps_(steps),
          random_(seed * 2 + static_cast<unsigned>(major)) {}

    // Plays the seed; false (after printing the steps) when an invariant did not hold.
    bool Run(Totals& totals);

  private:
    bool Endpoints() const { return major_ > 5; }
    void SetUpMachine();
    void Step();
    void UserChanges();
    // The device to unplug or plug back: a missing one most of the time.
    bool PickDevice();
    void TogglePresence(bool codec);
    void DeviceEvent();
    // One of the events of real machines, drawn by weight; false when none was drawn.
    bool RecoveryEvent();
    bool Usable(bool codec) const {
        return codec ? codecPresent_ && codecEnabled_ : orvanePresent_ && orvaneEnabled_;
    }
    void CheckRecovery(bool runs);
    void SendControl();
    void StartService();
    void StopService();
    void ArmFailure();
    void Settle();
    void Check();
    void CheckStopped();
    void CheckAgreement();
    bool SyncRuns();
    void Violation(const std::string& what);
    void Log(const std::string& text) { log_.push_back(text); }

    // Mixer side: the two devices by their current identifiers (removing a mixer renumbers the
    // ones after it).
    void RemoveMixer(UINT& device);

    int major_;
    std::uint64_t seed_;
    int steps_;
    Random random_;
    support::ServiceRunner runner_;
    std::vector<std::string> log_;
    std::vector<std::string> violations_;
    std::string variants_;
    std::size_t threadHandles_ = 0;
    std::size_t eventHandles_ = 0;

    bool running_ = false;
    bool codecPresent_ = true;
    bool orvanePresent_ = true;
    UINT codecMixer_ = 0;
    UINT orvaneMixer_ = 0;
    Expect expect_ = Expect::Idle;
    // An injected failure, a race or a device change the sync did not see since the last clean
    // start of the sync: the devices may rightly differ until the next one.
    bool tainted_ = false;
    bool armed_ = false;        // a failure is armed for the current step
    bool flagFresh_ = false;    // the flag was written since the virtual device last came
    bool windowFailed_ = false; // this run's sync window could not be made
    bool startArmed_ = false;   // this run started with a failure armed
    bool changeStep_ = false;   // the current step's user changes
    int changedDevices_ = 0;    // bit 0 codec, bit 1 virtual
    bool syncBefore_ = false;
    std::uint64_t races_ = 0;
    std::uint64_t injections_ = 0;
    std::uint64_t agreementChecks_ = 0;
    std::uint64_t restarts_ = 0;
    bool watcherRuns_ = false; // the run took the endpoint path (at 5: its version query failed)
    bool codecEnabled_ = true;
    bool orvaneEnabled_ = true;
    int step_ = 0;
    int eventStep_ = -1; // the step of the last event of real machines, while its recovery is due
    std::uint64_t events_[MachineEvents] = {};
    int longestRecovery_ = 0;
};

// Device identifiers and paths of the machine; the mixer side uses the control identifiers of
// mixer_sync_devices.
using sync_test::HardwareId;
using sync_test::HardwarePath;
using sync_test::VirtualId;
using sync_test::VirtualPath;
const platform::WideString DecoyCodecId = WIDE("{0.0.0.00000000}.{decoy-digital}");
const platform::WideString DecoyOrvaneId = WIDE("{0.0.0.00000000}.{decoy-headphones}");

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

sim::audio::RenderDevice EndpointDevice(const WCHAR* description, const platform::WideString& id,
                                        Random& random) {
    sim::audio::RenderDevice device;
    device.description = platform::WideString(description);
    device.module = id;
    device.masterLevel = random.Level();
    device.muted = random.Percent(50) ? TRUE : FALSE;
    device.channelLevels = {random.Level(), random.Level()};
    return device;
}

sim::winmm::Mixer MixerDevice(bool codec, Random& random) {
    std::vector<std::vector<DWORD>> values;
    for (int slot = 0; slot < MixerSlotCount; ++slot) {
        bool mute = slot % 2 == 1;
        values.push_back({mute ? random.Below(2) : random.Below(65536),
                          mute ? random.Below(2) : random.Below(65536)});
    }
    if (codec) {
        auto mixer = mixer_sync_devices::SyncMixer(mixer_sync_devices::CodecIds, values, true);
        mixer.name = WIDE("Realtek HD Audio output");
        return mixer;
    }
    auto mixer = mixer_sync_devices::SyncMixer(mixer_sync_devices::VirtualIds, values, false);
    mixer.name = WIDE("Orvane Audio");
    mixer.productGuid = VirtualDeviceProductGuid;
    return mixer;
}

void Soak::SetUpMachine() {
    sim::ResetMachine();
    variants_ = soak_variants::Apply(seed_, major_);
    sim::SetWindowsVersion(static_cast<DWORD>(major_), 1);
    // A fresh process: the mixer tables hold their first state.
    HardwareControlTable = EmptyMixerControlTable();
    VirtualControlTable = EmptyMixerControlTable();
    if (Endpoints()) {
        // Decoys a user's machine has, listed before the two devices; never to be written.
        sim::audio::AddRenderDevice(EndpointDevice(
            WIDE("Digital Output (Realtek High Definition Audio)"), DecoyCodecId, random_));
        sim::audio::AddRenderDevice(
            EndpointDevice(WIDE("Headphones (Orvane Virtual)"), DecoyOrvaneId, random_));
        sync_test::PlugHardware(
            EndpointDevice(WIDE("Speakers (Realtek High Definition Audio)"), HardwareId, random_));
        sync_test::PlugVirtual(EndpointDevice(WIDE("Speakers (Orvane)"), VirtualId, random_));
        // The recovery watcher's retry delays run on the machine's clock.
        sim::UseMachineTime(true);
    } else {
        auto decoy = MixerDevice(true, random_);
        decoy.name = WIDE("Realtek HD Audio 2nd output");
        sim::winmm::AddMixer(decoy); // device 0, never removed
        codecMixer_ = sim::winmm::AddMixer(MixerDevice(true, random_));
        orvaneMixer_ = sim::winmm::AddMixer(MixerDevice(false, random_));
        sim::ks::AddInterface(sim::ks::CodecRenderInterface(HardwarePath));
        sim::ks::AddInterface(sim::ks::VirtualRenderInterface(VirtualPath));
    }
    threadHandles_ = sim::OpenHandles(sim::HandleKind::Thread);
    eventHandles_ = sim::OpenHandles(sim::HandleKind::Event);
}

bool Soak::Run(Totals& totals) {
    SetUpMachine();
    Log("start");
    StartService();
    Settle();
    Check();
    for (int step = 0; step < steps_ && violations_.empty(); ++step) {
        step_ = step;
        sim::ClearJournal();
        if (Endpoints()) {
            // The machine's clock goes on between steps, whoever drives it: an endpoint the
            // builder makes late appears even when no retry of the service waits for it.
            sim::AdvanceMachineTime(2000);
        }
        Step();
        Settle();
        soak_variants::CountStep();
        Check();
        if (armed_) {
            sim::ClearFailures();
            armed_ = false;
        }
    }
    if (violations_.empty() && running_) {
        sim::ClearJournal();
        Log("final stop");
        StopService();
    }
    totals.seeds += 1;
    totals.steps += static_cast<std::uint64_t>(steps_);
    totals.races += races_;
    totals.injections += injections_;
    totals.agreementChecks += agreementChecks_;
    totals.restarts += restarts_;
    for (int event = 0; event < MachineEvents; ++event) {
        totals.events[event] += events_[event];
    }
    totals.longestRecovery = std::max(totals.longestRecovery, longestRecovery_);
    if (violations_.empty()) {
        return true;
    }
    std::fprintf(stderr, "soak: seed %llu at Windows %d.1 failed after %zu steps:\n",
                 static_cast<unsigned long long>(seed_), major_, log_.size());
    for (std::size_t i = 0; i < log_.size(); ++i) {
        std::fprintf(stderr, "  %5zu %s\n", i, log_[i].c_str());
    }
    // The machine's journal of the failing step, its last entries.
    auto journal = sim::Journal();
    for (std::size_t i = journal.size() > 40 ? journal.size() - 40 : 0; i < journal.size(); ++i) {
        std::fprintf(stderr, "  journal: %s\n", journal[i].c_str());
    }
    for (auto& violation : violations_) {
        std::fprintf(stderr, "  VIOLATION: %s\n", violation.c_str());
    }
    std::fprintf(stderr,
                 "  replay: quenvar-soak --version %d --seeds %llu --steps %d --variants %s\n",
                 major_, static_cast<unsigned long long>(seed_), steps_, variants_.c_str());
    if (!runner_.Finished()) {
        // Stop what is left so the runner can end; a hang here aborts.
        sim::ClearFailures();
        runner_.Stop(10000);
    }
    return false;
}

void Soak::Step() {
    changeStep_ = false;
    changedDevices_ = 0;
    syncBefore_ = running_ && SyncRuns();
    if (!running_ && random_.Percent(40)) {
        StartService();
        return;
    }
    if (Endpoints() && running_ && RecoveryEvent()) {
        return; // an event of real machines
    }
    std::uint32_t pick = random_.Below(100);
    if (pick < 40) {
        UserChanges();
    } else if (pick < 50) {
        TogglePresence(PickDevice());
    } else if (pick < 60) {
        DeviceEvent();
    } else if (pick < 78) {
        SendControl();
    } else if (pick < 82) {
        StopService();
    } else if (pick < 88) {
        ArmFailure();
        // The failure meets the next action of the same step.
        pick = random_.Below(3);
        if (pick == 0) {
            TogglePresence(PickDevice());
        } else if (pick == 1 && running_) {
            DeviceEvent();
        } else if (running_) {
            if (random_.Percent(30)) {
                StopService();
                StartService();
            } else {
                UserChanges();
            }
        } else {
            StartService();
        }
    } else {
        UserChanges();
    }
}

// One to four user changes in a row, on one device or on both, before the service reacts.
void Soak::UserChanges() {
    changeStep_ = true;
    int count = 1 + static_cast<int>(random_.Below(4));
    bool both = random_.Percent(15);
    bool codecFirst = random_.Percent(50);
    std::string text = "user:";
    for (int i = 0; i < count; ++i) {
        bool codec = both ? random_.Percent(50) : codecFirst;
        if (!Usable(codec)) {
            continue;
        }
        changedDevices_ |= codec ? 1 : 2;
        if (Endpoints()) {
            const auto& id = codec ? HardwareId : VirtualId;
            std::string device = codec ? " codec" : " orvane";
            switch (random_.Below(3)) {
            case 0: {
                BOOL muted = random_.Percent(50) ? TRUE : FALSE;
                sim::audio::UserSetMute(id, muted);
                text += device + " mute=" + std::to_string(muted);
                break;
            }
            case 1: {
                float level = random_.Level();
                sim::audio::UserSetMasterLevel(id, level);
                text += device + " master=" + std::to_string(level);
                break;
            }
            default: {
                UINT channel = random_.Below(2);
                float level = random_.Level();
                sim::audio::UserSetChannelLevel(id, channel, level);
                text += device + " ch" + std::to_string(channel) + "=" + std::to_string(level);
                break;
            }
            }
        } else {
            // The codec's line input lies outside the eight slots.
            int slot = static_cast<int>(random_.Below(codec ? MixerSlotCount + 1 : MixerSlotCount));
            DWORD control = slot == MixerSlotCount ? mixer_sync_devices::CodecLineInVolume
                            : codec                ? mixer_sync_devices::CodecIds[slot]
                                                   : mixer_sync_devices::VirtualIds[slot];
            bool mute = slot < MixerSlotCount && slot % 2 == 1;
            const DWORD muteValues[3] = {0, 1, 0xFFFFFFFF};
            DWORD v0 = mute ? muteValues[random_.Below(3)] : random_.Below(65536);
            DWORD v1 = random_.Percent(70)
                           ? v0
                           : (mute ? muteValues[random_.Below(3)] : random_.Below(65536));
            sim::winmm::UserSetControl(codec ? codecMixer_ : orvaneMixer_, control, {v0, v1});
            text += std::string(codec ? " codec" : " orvane") + " control " +
                    std::to_string(control) + "=" + std::to_string(v0) + "," + std::to_string(v1);
        }
    }
    if (changedDevices_ == 3) {
        ++races_;
        text += " (race)";
    }
    Log(text);
}

void Soak::RemoveMixer(UINT& device) {
    UINT removed = device;
    sim::winmm::RemoveMixer(removed);
    for (UINT* other : {&codecMixer_, &orvaneMixer_}) {
        if (*other > removed) {
            --*other;
        }
    }
}

bool Soak::PickDevice() {
    if (codecPresent_ != orvanePresent_ && random_.Percent(70)) {
        return !codecPresent_;
    }
    return random_.Percent(50);
}

// Unplugs a present device or plugs back a missing one, with the event that goes with it (now
// and then another type of event).
void Soak::TogglePresence(bool codec) {
    bool& present = codec ? codecPresent_ : orvanePresent_;
    bool plug = !present;
    DWORD eventType = plug ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
    if (random_.Percent(15)) {
        eventType = EventTypes[random_.Below(std::size(EventTypes))];
    }
    Log(std::string(plug ? "plug " : "unplug ") + (codec ? "codec" : "orvane") + " event " +
        Hex(eventType));
    const auto& path = codec ? HardwarePath : VirtualPath;
    if (Endpoints()) {
        if (plug) {
            auto device = codec ? EndpointDevice(WIDE("Speakers (Realtek High Definition Audio)"),
                                                 HardwareId, random_)
                                : EndpointDevice(WIDE("Speakers (Orvane)"), VirtualId, random_);
            sim::audio::PlugRenderDevice(device,
                                         codec ? sim::ks::CodecRenderInterface(path)
                                               : sim::ks::VirtualRenderInterface(path),
                                         eventType);
        } else {
            sim::audio::UnplugRenderDevice(codec ? HardwareId : VirtualId, eventType);
        }
    } else {
        UINT& device = codec ? codecMixer_ : orvaneMixer_;
        if (plug) {
            device = sim::winmm::AddMixer(MixerDevice(codec, random_));
            sim::ks::AddInterface(codec ? sim::ks::CodecRenderInterface(path)
                                        : sim::ks::VirtualRenderInterface(path));
        } else {
            RemoveMixer(device);
            sim::ks::RemoveInterface(path);
        }
        sim::RaiseDeviceInterfaceEvent(eventType, platform::KSCATEGORY_RENDER);
    }
    present = plug;
    (codec ? codecEnabled_ : orvaneEnabled_) = true; // a device plugged in comes active
    if (!codec && plug) {
        flagFresh_ = false; // a new driver instance: nothing written to it yet
    }
}

// A render-interface event with no device change (at version 5 also a broadcast one).
void Soak::DeviceEvent() {
    DWORD eventType = EventTypes[random_.Below(std::size(EventTypes))];
    if (!Endpoints() && random_.Percent(30)) {
        Log("broadcast WM_DEVICECHANGE " + Hex(eventType));
        sim::user32::BroadcastDeviceChange(eventType);
        return;
    }
    Log("render event " + Hex(eventType));
    sim::RaiseDeviceInterfaceEvent(eventType, platform::KSCATEGORY_RENDER);
}

bool Soak::RecoveryEvent() {
    std::uint32_t pick = random_.Below(100);
    int event = 0;
    while (event < MachineEvents && pick >= MachineEventWeights[event]) {
        pick -= MachineEventWeights[event++];
    }
    if (event == EndpointState) {
        bool codec = random_.Percent(50);
        if (!(codec ? codecPresent_ : orvanePresent_)) {
            return false;
        }
        bool& enabled = codec ? codecEnabled_ : orvaneEnabled_;
        DWORD state = enabled
                          ? (random_.Percent(50) ? DEVICE_STATE_DISABLED : DEVICE_STATE_UNPLUGGED)
                          : DEVICE_STATE_ACTIVE;
        Log(std::string("endpoint state ") + (codec ? "codec " : "orvane ") +
            std::to_string(state));
        sim::audio::SetEndpointState(codec ? HardwareId : VirtualId, state);
        enabled = state == DEVICE_STATE_ACTIVE;
    } else if (event == LateDriver) {
        // The driver installed again: the device goes and comes back, its endpoint late.
        Log("driver installed, endpoint builder late");
        sim::audio::UnplugRenderDevice(VirtualId); // nothing when it is not plugged in
        sim::audio::SetLateEndpointBuilder(true);
        sim::audio::PlugRenderDevice(EndpointDevice(WIDE("Speakers (Orvane)"), VirtualId, random_),
                                     sim::ks::VirtualRenderInterface(VirtualPath));
        sim::audio::SetLateEndpointBuilder(false);
        orvanePresent_ = orvaneEnabled_ = true;
        flagFresh_ = false;
    } else if (event == AudioRestart) {
        Log("audio service restart");
        sim::audio::RestartAudioService();
    } else {
        return false;
    }
    ++events_[event];
    eventStep_ = step_;
    return true;
}

// After an event of real machines, a sync runs again within RecoverySteps steps after the event's
// own step whenever both devices can be bound; the longest wait is reported.
void Soak::CheckRecovery(bool runs) {
    if (eventStep_ < 0) {
        return;
    }
    if (!Usable(true) || !Usable(false) || armed_ || startArmed_) {
        eventStep_ = -1; // nothing to recover, or a failure the recovery may rightly meet
    } else if (runs) {
        longestRecovery_ = std::max(longestRecovery_, step_ - eventStep_);
        eventStep_ = -1;
    } else if (step_ - eventStep_ >= RecoverySteps) {
        Violation("no sync " + std::to_string(step_ - eventStep_) + " steps after the event");
    }
}

// Interrogation, an unknown code (user-defined ones included) or a device event with any type.
void Soak::SendControl() {
    DWORD code;
    DWORD eventType = 0;
    switch (random_.Below(3)) {
    case 0:
        code = SERVICE_CONTROL_INTERROGATE;
        break;
    case 1:
        do {
            code = random_.Percent(50) ? 128 + random_.Below(128) : random_.Below(128);
        } while (code == SERVICE_CONTROL_STOP || code == SERVICE_CONTROL_INTERROGATE ||
                 code == SERVICE_CONTROL_DEVICEEVENT);
        eventType = static_cast<DWORD>(random_.Next());
        break;
    default:
        code = SERVICE_CONTROL_DEVICEEVENT;
        eventType = random_.Percent(50) ? EventTypes[random_.Below(std::size(EventTypes))]
                                        : static_cast<DWORD>(random_.Next());
        break;
    }
    Log("control " + std::to_string(code) + " type " + Hex(eventType));
    bool event = code == SERVICE_CONTROL_DEVICEEVENT;
    DWORD result = event ? sim::scm::DeviceEvent(eventType) : sim::scm::Control(code, eventType);
    // The manager sends the standard codes 1 to 10 but shutdown, and the user-defined ones; it
    // refuses the standard codes the service does not accept.
    bool sendable =
        event || (code >= 1 && code <= 10 && code != SERVICE_CONTROL_SHUTDOWN) || code >= 128;
    DWORD expected =
        !sendable   ? static_cast<DWORD>(ERROR_INVALID_PARAMETER)
        : !running_ ? static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE)
        : code == SERVICE_CONTROL_INTERROGATE || event || (code == RecoveryControl && Endpoints())
            ? static_cast<DWORD>(NO_ERROR)
        : code < 128 ? static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL)
                     : static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED);
    if (result != expected) {
        Violation("control " + std::to_string(code) + " answered " + std::to_string(result) +
                  ", expected " + std::to_string(expected));
    }
    if (running_ && sim::scm::CurrentState() != SERVICE_RUNNING) {
        Violation("the service left RUNNING after control " + std::to_string(code));
    }
}

// A new process of the service, as the service control manager starts it.
void Soak::StartService() {
    Log("start service");
    windowFailed_ = false;
    expect_ = Expect::Unknown; // until the start of the sync is seen
    startArmed_ = armed_;
    HardwareControlTable = EmptyMixerControlTable();
    VirtualControlTable = EmptyMixerControlTable();
    std::size_t runs = sim::scm::DispatcherRuns();
    runner_.Start();
    if (!sim::scm::WaitForDispatcherRuns(runs + 1)) {
        Violation("the dispatcher did not start");
        return;
    }
    // RUNNING, or the process ended (its handler could not be registered).
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (sim::scm::CurrentState() != SERVICE_RUNNING && !runner_.Finished()) {
        if (Clock::now() > deadline) {
            Violation("the service neither reached RUNNING nor ended");
            return;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    running_ = !runner_.Finished();
    watcherRuns_ = running_ && !sim::JournalWith("CoInitialize [service]").empty();
    if (!running_) {
        Log("  (the service ended at its start)");
        runner_.Join();
    }
    ++restarts_;
}

void Soak::StopService() {
    Log("stop service");
    if (!runner_.Stop(20000)) {
        Violation("the stop did not complete");
        return;
    }
    if (runner_.ExitCode() != 0 || sim::scm::CurrentState() != SERVICE_STOPPED) {
        Violation("the stop ended with exit code " + std::to_string(runner_.ExitCode()) +
                  " in state " + std::to_string(sim::scm::CurrentState()));
    }
    running_ = false;
    eventStep_ = -1;
}

void Soak::ArmFailure() {
    std::vector<std::string> calls = CommonCalls;
    const auto& more = Endpoints() ? EndpointCalls : MixerCalls;
    calls.insert(calls.end(), more.begin(), more.end());
    const std::string& call = calls[random_.Below(static_cast<std::uint32_t>(calls.size()))];
    int skip = static_cast<int>(random_.Below(6));
    Log("fail " + call + " after " + std::to_string(skip));
    sim::FailCall(call, 1, skip);
    armed_ = true;
    tainted_ = true;
    ++injections_;
}

void Soak::Settle() {
    if (Endpoints()) {
        // The recovery watcher reacts on its own thread (its retry delays on the machine's clock)
        // to what may concern it: settled once it, the handler and the audio system are all idle.
        if (!sim::WaitQuiet()) {
            Violation("the machine did not settle");
        }
        return;
    }
    if (!running_ || watcherRuns_) {
        return;
    }
    // The mixer thread makes its window after RUNNING: wait until it serves its queue, unless
    // its thread or window could not be made.
    auto deadline = Clock::now() + std::chrono::seconds(20);
    for (;;) {
        HWND window = sim::user32::WaitForWindow("QuenvarWnd", 0);
        if (window) {
            if (!sim::user32::WaitUntilIdle(window, 20000)) {
                Violation("the sync window did not settle");
            }
            return;
        }
        bool noThread = sim::OpenHandles(sim::HandleKind::Thread) == threadHandles_;
        for (auto& entry : sim::JournalWith("CreateWindowExW")) {
            windowFailed_ = windowFailed_ || entry.find("failed") != std::string::npos;
        }
        if (noThread || windowFailed_) {
            return;
        }
        if (Clock::now() > deadline) {
            Violation("the sync window did not appear");
            return;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

// Whether a sync runs now, from what the machine holds; a half-held sync is a violation.
bool Soak::SyncRuns() {
    if (Endpoints()) {
        auto volumes = sim::audio::LiveObjects("IAudioEndpointVolume");
        auto devices = sim::audio::LiveObjects("IMMDevice");
        // The recovery watcher keeps one enumerator of its own while the service runs.
        auto enumerators = sim::audio::LiveObjects("IMMDeviceEnumerator");
        if (enumerators > (running_ ? 1u : 0u)) {
            Violation(std::to_string(enumerators) + " enumerators held");
        }
        auto all = sim::audio::LiveObjects() - enumerators;
        if (volumes == 2 && devices == 2 && all == 4) {
            return true;
        }
        if (all != 0) {
            Violation("endpoint objects held outside a whole sync: " + std::to_string(all));
        }
        return false;
    }
    auto mixers = sim::winmm::OpenMixerHandles();
    if (mixers == 1 || mixers > 2) {
        Violation(std::to_string(mixers) + " mixer handles open");
    }
    return mixers == 2;
}

void Soak::Check() {
    for (auto& fault : sim::Faults()) {
        Violation("machine fault: " + fault);
    }
    if (!violations_.empty()) {
        return;
    }
    if (sim::ks::OpenFilterHandles() != 0 || sim::ks::OpenDeviceInfoSets() != 0 ||
        sim::OpenHandles(sim::HandleKind::File) != 0) {
        Violation("a filter handle or device information set outlived its call");
    }
    // The recovery watcher's thread and its three events, while the service runs.
    bool watcher = running_ && watcherRuns_;
    if (sim::OpenHandles(sim::HandleKind::Event) != eventHandles_ + (watcher ? 3 : 0)) {
        Violation("event handles: " + std::to_string(sim::OpenHandles(sim::HandleKind::Event)));
    }
    // Writes in this step: never to a decoy.
    for (auto& entry : sim::JournalWith("Set")) {
        if (entry.find(sim::Narrow(DecoyCodecId)) != std::string::npos ||
            entry.find(sim::Narrow(DecoyOrvaneId)) != std::string::npos) {
            Violation("a decoy was written: " + entry);
        }
    }
    if (!Endpoints()) {
        for (auto& entry : sim::JournalWith("mixerSetControlDetails")) {
            if (entry.find("mixer=0 ") != std::string::npos) {
                Violation("the decoy mixer was written: " + entry);
            }
        }
    }
    if (!running_) {
        CheckStopped();
        return;
    }

    bool runs = SyncRuns();
    // Did this step start the sync afresh (every start begins by looking for the devices)?
    // (The recovery watcher's own enumerator, made on its thread, is no start of the sync.)
    auto starts = sim::JournalWith(Endpoints() ? "CoCreateInstance" : "mixerGetNumDevs");
    bool rebuilt = std::any_of(starts.begin(), starts.end(),
                               [](auto& entry) { return entry.find("[thread-") == entry.npos; });
    bool bothPresent = Usable(true) && Usable(false);
    if (rebuilt) {
        if (armed_) {
            expect_ = Expect::Unknown;
        } else {
            expect_ = bothPresent ? Expect::Running : Expect::Idle;
            tainted_ = false;
        }
    } else if (log_.back().rfind("plug", 0) == 0 || log_.back().rfind("unplug", 0) == 0) {
        // A device came or went and the sync was not told: it may hold dead handles.
        expect_ = Expect::Unknown;
        tainted_ = true;
    } else if (armed_) {
        tainted_ = true;
    }
    if (!sim::JournalWith("KsSet " + sim::Narrow(VirtualPath)).empty()) {
        flagFresh_ = true;
    }

    CheckRecovery(runs);
    if (expect_ == Expect::Running && !runs) {
        Violation("both devices are present but no sync runs");
    }
    if (expect_ == Expect::Idle && runs) {
        Violation("a sync runs without both devices");
    }
    // The driver flag: 1 exactly while a sync runs.
    if (orvanePresent_ && flagFresh_ && !tainted_) {
        auto flag = sim::ks::SyncActive(VirtualPath);
        bool on = flag && *flag == 1;
        if (on != runs) {
            Violation(std::string("driver flag ") + (flag ? std::to_string(*flag) : "none") +
                      (runs ? " while a sync runs" : " while no sync runs"));
        }
    }
    // Held beyond the current sync.
    if (Endpoints()) {
        for (const auto* id : {&HardwareId, &VirtualId}) {
            auto registrations = sim::audio::Registrations(*id);
            if (registrations > (runs ? 1u : 0u) || (runs && !tainted_ && registrations != 1)) {
                Violation(std::to_string(registrations) + " callback registrations on " +
                          sim::Narrow(*id));
            }
        }
        if (sim::OpenHandles(sim::HandleKind::Thread) != threadHandles_ + (watcher ? 1 : 0)) {
            Violation("thread handles held");
        }
    } else {
        if (sim::user32::LiveWindowCount() > 1) {
            Violation("more than one sync window");
        }
        if (sim::OpenHandles(sim::HandleKind::Thread) > threadHandles_ + 1) {
            Violation("thread handles held beyond the mixer thread");
        }
    }
    // Made once per run, at its start (version 5: by the sync window's creation).
    if (sim::DeviceNotificationCount() > 1 ||
        (!startArmed_ && !windowFailed_ && sim::DeviceNotificationCount() != 1)) {
        Violation(std::to_string(sim::DeviceNotificationCount()) + " device notifications");
    }

    if (changeStep_) {
        if (changedDevices_ == 3) {
            tainted_ = true; // the design's accepted race: the two may now differ
        } else if (changedDevices_ != 0 && syncBefore_ && runs && !tainted_) {
            // Never written back to the device the change came from.
            bool codec = changedDevices_ == 1;
            std::vector<std::string> writes;
            if (Endpoints()) {
                std::string id = sim::Narrow(codec ? HardwareId : VirtualId);
                for (auto& entry : sim::JournalWith("Set")) {
                    if (entry.find(" " + id + " ") != std::string::npos) {
                        writes.push_back(entry);
                    }
                }
            } else {
                std::string device = "mixer=" + std::to_string(codec ? codecMixer_ : orvaneMixer_);
                for (auto& entry : sim::JournalWith("mixerSetControlDetails")) {
                    if (entry.find(device + " ") != std::string::npos) {
                        writes.push_back(entry);
                    }
                }
            }
            if (!writes.empty()) {
                Violation("a user's change was written back to its own device: " + writes[0]);
            }
        }
    }
    if (bothPresent && runs && !tainted_) {
        CheckAgreement();
    }
}

void Soak::CheckStopped() {
    if (Endpoints() ? sim::audio::LiveObjects() != 0 : sim::winmm::OpenMixerHandles() != 0) {
        Violation("the stopped service holds endpoint objects or mixers");
    }
    if (sim::audio::Registrations(HardwareId) + sim::audio::Registrations(VirtualId) != 0) {
        Violation("callbacks registered after the stop");
    }
    if (sim::DeviceNotificationCount() != 0 || sim::user32::LiveWindowCount() != 0) {
        Violation("a device notification or window outlived the stop");
    }
    if (sim::OpenHandles(sim::HandleKind::Thread) != threadHandles_) {
        Violation("thread handles held after the stop");
    }
    auto com = sim::com::Counts("main");
    if (com.uninitialize < com.initialize) {
        Violation("the handler's thread holds its apartment after the stop");
    }
    if (ServiceState.ServiceDeviceNotification || ServiceState.MixerThreadHandle) {
        Violation("the service state record still holds a handle");
    }
    if (orvanePresent_ && flagFresh_ && !tainted_) {
        auto flag = sim::ks::SyncActive(VirtualPath);
        if (flag && *flag == 1) {
            Violation("driver flag 1 after the stop");
        }
    }
    expect_ = Expect::Idle;
}

void Soak::CheckAgreement() {
    ++agreementChecks_;
    if (Endpoints()) {
        auto codec = sim::audio::ReadEndpoint(HardwareId);
        auto orvane = sim::audio::ReadEndpoint(VirtualId);
        auto near = [](float a, float b) { return std::fabs(a - b) <= 1e-6f; };
        bool same = codec.muted == orvane.muted && near(codec.masterLevel, orvane.masterLevel) &&
                    codec.channelLevels.size() == orvane.channelLevels.size();
        for (std::size_t i = 0; same && i < codec.channelLevels.size(); ++i) {
            same = near(codec.channelLevels[i], orvane.channelLevels[i]);
        }
        if (!same) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "devices differ: codec %.6f %d [%.6f %.6f], orvane %.6f %d [%.6f %.6f]",
                          codec.masterLevel, codec.muted,
                          codec.channelLevels.empty() ? -1.0 : codec.channelLevels[0],
                          codec.channelLevels.size() < 2 ? -1.0 : codec.channelLevels[1],
                          orvane.masterLevel, orvane.muted,
                          orvane.channelLevels.empty() ? -1.0 : orvane.channelLevels[0],
                          orvane.channelLevels.size() < 2 ? -1.0 : orvane.channelLevels[1]);
            Violation(text);
        }
        return;
    }
    for (int slot = 0; slot < MixerSlotCount; ++slot) {
        auto codec = sim::winmm::ControlValues(codecMixer_, mixer_sync_devices::CodecIds[slot]);
        auto orvane = sim::winmm::ControlValues(orvaneMixer_, mixer_sync_devices::VirtualIds[slot]);
        if (slot % 2 == 1) {
            for (auto* values : {&codec, &orvane}) {
                for (auto& value : *values) {
                    value = value != 0;
                }
            }
        }
        // Volumes read back rounded may rightly be a step apart.
        bool same = codec.size() == orvane.size();
        for (std::size_t i = 0; same && i < codec.size(); ++i) {
            DWORD apart = codec[i] > orvane[i] ? codec[i] - orvane[i] : orvane[i] - codec[i];
            same = apart <= (slot % 2 == 0 ? soak_variants::VolumeTolerance() : 0u);
        }
        if (!same) {
            Violation("mixer slot " + std::to_string(slot) + " differs");
        }
    }
}

void Soak::Violation(const std::string& what) {
    violations_.push_back(what);
}

struct Options {
    int major = 0; // 0: both
    std::uint64_t first = 1;
    std::uint64_t last = 1;
    int steps = 2000;
    double seconds = 0;
};

bool Parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        const char* value = argv[++i];
        if (word == "--version") {
            options.major = std::atoi(value);
        } else if (word == "--seeds") {
            char* end = nullptr;
            options.first = std::strtoull(value, &end, 10);
            options.last = *end == '-' ? std::strtoull(end + 1, nullptr, 10) : options.first;
        } else if (word == "--steps") {
            options.steps = std::atoi(value);
        } else if (word == "--seconds") {
            options.seconds = std::atof(value);
        } else if (word == "--variants") {
            if (!soak_variants::Fix(value)) {
                return false;
            }
        } else {
            return false;
        }
    }
    return options.major == 0 || options.major == 5 || options.major == 6;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: quenvar-soak [--version 6|5] [--seeds FIRST[-LAST]] "
                             "[--steps N] [--seconds S] [--variants NAME=ANSWER,...]\n");
        return 2;
    }
    std::vector<int> versions;
    if (options.major != 5) {
        versions.push_back(6);
    }
    if (options.major != 6) {
        versions.push_back(5);
    }
    auto started = Clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - started).count(); };
    if (options.seconds > 0) {
        options.first = static_cast<std::uint64_t>(
            std::chrono::system_clock::now().time_since_epoch().count() & 0xFFFFFFFFFFull);
        options.last = ~0ull;
    }
    Totals totals[2];
    bool passed = true;
    for (std::uint64_t seed = options.first; passed && seed <= options.last; ++seed) {
        if (options.seconds > 0 && elapsed() >= options.seconds) {
            break;
        }
        for (std::size_t v = 0; passed && v < versions.size(); ++v) {
            Soak soak(versions[v], seed, options.steps);
            passed = soak.Run(totals[versions[v] == 6 ? 0 : 1]);
        }
    }
    for (int major : versions) {
        const Totals& t = totals[major == 6 ? 0 : 1];
        std::printf(
            "soak at Windows %d.1: %llu seeds (from %llu), %llu steps, %llu service starts, "
            "%llu failures injected, %llu both-device races, %llu agreement checks\n",
            major, static_cast<unsigned long long>(t.seeds),
            static_cast<unsigned long long>(options.first),
            static_cast<unsigned long long>(t.steps), static_cast<unsigned long long>(t.restarts),
            static_cast<unsigned long long>(t.injections), static_cast<unsigned long long>(t.races),
            static_cast<unsigned long long>(t.agreementChecks));
        if (major > 5) {
            std::printf("soak at Windows %d.1: %llu endpoint state changes, %llu late endpoint "
                        "builders, %llu audio service restarts; longest recovery %d steps\n",
                        major, static_cast<unsigned long long>(t.events[EndpointState]),
                        static_cast<unsigned long long>(t.events[LateDriver]),
                        static_cast<unsigned long long>(t.events[AudioRestart]), t.longestRecovery);
        }
    }
    std::printf("soak: %s in %.1f s\n", passed ? "no invariant violated" : "FAILED", elapsed());
    std::printf("%s\n", soak_variants::Summary().c_str());
    return passed ? 0 : 1;
}
