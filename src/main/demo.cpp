// quenvar-sim: the real service logic hosted on a simulated Windows machine. It plays a short
// scenario at Windows 6.1 (Core Audio endpoints) and at 5.1 (winmm mixers) and prints, after each
// step, what both devices show and the value of the virtual device's driver flag.
#include "driver/ks_channel.h"
#include "platform/guids.h"
#include "platform/sim/audio.h"
#include "platform/sim/ks.h"
#include "platform/sim/machine.h"
#include "platform/sim/scm.h"
#include "platform/sim/user32.h"
#include "platform/sim/winmm.h"
#include "service/service.h"

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

const platform::WideString CodecId = WIDE("{0.0.0.00000000}.{codec-speakers}");
const platform::WideString OrvaneId = WIDE("{0.0.0.00000000}.{orvane-speakers}");
const platform::WideString CodecPath = WIDE("\\\\?\\hdaudio#func_01#codec#{render}");
const platform::WideString OrvanePath = WIDE("\\\\?\\root#media#0000#orvane#{render}");

// The service's process: its main thread enters the dispatcher, as the service manager starts it.
class ServiceProcess {
  public:
    bool Start() {
        sim::scm::SetStartedByScm(true);
        std::size_t run = sim::scm::DispatcherRuns() + 1;
        main_ = std::thread([] {
            sim::SetThreadName("main");
            WCHAR program[] = WIDE("C:\\Program Files\\Quenvar\\QuenvarService.exe");
            WCHAR* argv[] = {program, nullptr};
            WCHAR* envp[] = {nullptr};
            ProcessEntry(1, argv, envp);
        });
        return sim::scm::WaitForDispatcherRuns(run) && sim::scm::WaitForState(SERVICE_RUNNING);
    }
    bool Stop() {
        DWORD result = sim::scm::Control(SERVICE_CONTROL_STOP);
        main_.join();
        return result == NO_ERROR && sim::scm::CurrentState() == SERVICE_STOPPED;
    }

  private:
    std::thread main_;
};

// The flag as the virtual device's driver holds it; none while the device is unplugged.
bool OrvanePresent = true;

std::string Flag() {
    if (!OrvanePresent) {
        return "(no driver)";
    }
    auto value = sim::ks::SyncActive(OrvanePath);
    return value ? std::to_string(*value) : "-";
}

void Header(const char* codec, const char* orvane) {
    std::printf("  %-34s %-28s %-28s %s\n", "step", codec, orvane, "flag");
}

void Row(const std::string& step, const std::string& codec, const std::string& orvane) {
    std::printf("  %-34s %-28s %-28s %s\n", step.c_str(), codec.c_str(), orvane.c_str(),
                Flag().c_str());
}

std::string Endpoint(const platform::WideString& id) {
    auto state = sim::audio::ReadEndpoint(id);
    if (!state.present) {
        return "(unplugged)";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%3.0f%% %s L%3.0f R%3.0f", state.masterLevel * 100,
                  state.muted ? "muted" : "on   ",
                  state.channelLevels.size() > 0 ? state.channelLevels[0] * 100 : 0.0,
                  state.channelLevels.size() > 1 ? state.channelLevels[1] * 100 : 0.0);
    return text;
}

sim::audio::RenderDevice Device(const WCHAR* description, const platform::WideString& id,
                                float master, BOOL muted) {
    sim::audio::RenderDevice device;
    device.description = platform::WideString(description);
    device.module = id;
    device.masterLevel = master;
    device.muted = muted;
    device.channelLevels = {master, master};
    return device;
}

bool PlayEndpoints() {
    std::printf("Windows 6.1: Core Audio endpoints mirrored by volume callbacks\n");
    sim::ResetMachine();
    sim::SetWindowsVersion(6, 1);
    OrvanePresent = true;
    sim::audio::PlugRenderDevice(
        Device(WIDE("Speakers (Realtek High Definition Audio)"), CodecId, 0.30f, FALSE),
        sim::ks::CodecRenderInterface(CodecPath));
    auto orvane = Device(WIDE("Speakers (Orvane)"), OrvaneId, 0.80f, TRUE);
    sim::audio::PlugRenderDevice(orvane, sim::ks::VirtualRenderInterface(OrvanePath));

    Header("codec speakers", "Speakers (Orvane)");
    Row("before the service starts", Endpoint(CodecId), Endpoint(OrvaneId));
    ServiceProcess service;
    if (!service.Start()) {
        return false;
    }
    sim::audio::WaitIdle();
    Row("service running (codec copied)", Endpoint(CodecId), Endpoint(OrvaneId));

    auto writes = [](const platform::WideString& id) { return sim::audio::SetCalls(id).size(); };
    auto toOrvane = writes(OrvaneId), toCodec = writes(CodecId);
    sim::audio::UserSetMasterLevel(CodecId, 0.55f);
    sim::audio::WaitIdle();
    Row("user sets codec to 55%", Endpoint(CodecId), Endpoint(OrvaneId));
    std::printf("  (%zu writes mirrored to Orvane, %zu echoed back to the codec)\n",
                writes(OrvaneId) - toOrvane, writes(CodecId) - toCodec);

    toOrvane = writes(OrvaneId), toCodec = writes(CodecId);
    sim::audio::UserSetMute(OrvaneId, TRUE);
    sim::audio::WaitIdle();
    Row("user mutes Orvane", Endpoint(CodecId), Endpoint(OrvaneId));
    std::printf("  (%zu writes mirrored to the codec, %zu echoed back to Orvane)\n",
                writes(CodecId) - toCodec, writes(OrvaneId) - toOrvane);

    sim::audio::UnplugRenderDevice(OrvaneId);
    OrvanePresent = false;
    Row("Orvane unplugged", Endpoint(CodecId), Endpoint(OrvaneId));
    sim::audio::UserSetMasterLevel(CodecId, 0.20f);
    sim::audio::WaitIdle();
    Row("user sets codec to 20%", Endpoint(CodecId), Endpoint(OrvaneId));
    sim::audio::PlugRenderDevice(orvane, sim::ks::VirtualRenderInterface(OrvanePath));
    OrvanePresent = true;
    sim::audio::WaitIdle();
    Row("Orvane plugged back", Endpoint(CodecId), Endpoint(OrvaneId));

    bool stopped = service.Stop();
    sim::audio::WaitIdle();
    Row(stopped ? "service stopped" : "service did NOT stop", Endpoint(CodecId),
        Endpoint(OrvaneId));
    return stopped && sim::Faults().empty();
}

// The codec's and the virtual device's mixers: a speakers destination (master volume and mute)
// with a wave output source (wave volume and mute).
constexpr DWORD MasterVolume = 1, MasterMute = 2, WaveVolume = 10, WaveMute = 11;

sim::winmm::Mixer MixerDevice(const WCHAR* name, const GUID& product, DWORD master, DWORD wave) {
    using sim::winmm::Control;
    sim::winmm::Line waveOut;
    waveOut.componentType = MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
    waveOut.lineId = 0x1000;
    waveOut.controls = {Control{WaveVolume, MIXERCONTROL_CONTROLTYPE_VOLUME, {wave, wave}},
                        Control{WaveMute, MIXERCONTROL_CONTROLTYPE_MUTE, {0, 0}}};
    sim::winmm::Line speakers;
    speakers.componentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    speakers.lineId = 0xFFFF0000;
    speakers.controls = {Control{MasterVolume, MIXERCONTROL_CONTROLTYPE_VOLUME, {master, master}},
                         Control{MasterMute, MIXERCONTROL_CONTROLTYPE_MUTE, {0, 0}}};
    speakers.sources = {waveOut};
    sim::winmm::Mixer mixer;
    mixer.name = name;
    mixer.productGuid = product;
    mixer.destinations = {speakers};
    return mixer;
}

std::string MixerView(UINT device, bool present) {
    if (!present) {
        return "(unplugged)";
    }
    auto master = sim::winmm::ControlValues(device, MasterVolume);
    auto wave = sim::winmm::ControlValues(device, WaveVolume);
    auto mute = sim::winmm::ControlValues(device, MasterMute);
    char text[64];
    std::snprintf(text, sizeof text, "master %5u wave %5u %s", master.empty() ? 0 : master[0],
                  wave.empty() ? 0 : wave[0], !mute.empty() && mute[0] ? "muted" : "");
    return text;
}

void RaiseRenderEvent(DWORD eventType) {
    sim::RaiseDeviceInterfaceEvent(eventType, platform::KSCATEGORY_RENDER);
}

bool PlayMixers() {
    std::printf("\nWindows 5.1: winmm mixers mirrored from the hidden window's thread\n");
    sim::ResetMachine();
    sim::SetWindowsVersion(5, 1);
    OrvanePresent = true;
    UINT codec = sim::winmm::AddMixer(
        MixerDevice(WIDE("Realtek HD Audio output"), platform::GUID_NULL, 30000, 20000));
    auto orvaneMixer = MixerDevice(WIDE("Orvane Audio"), VirtualDeviceProductGuid, 60000, 50000);
    UINT orvane = sim::winmm::AddMixer(orvaneMixer);
    sim::ks::AddInterface(sim::ks::VirtualRenderInterface(OrvanePath));

    Header("codec mixer", "Orvane mixer");
    Row("before the service starts", MixerView(codec, true), MixerView(orvane, true));
    ServiceProcess service;
    if (!service.Start()) {
        return false;
    }
    HWND window = sim::user32::WaitForWindow("QuenvarWnd", 10000);
    auto settle = [window] { sim::user32::WaitUntilIdle(window, 10000); };
    settle();
    Row("service running (codec copied)", MixerView(codec, true), MixerView(orvane, true));

    auto writes = [] { return sim::JournalWith("mixerSetControlDetails").size(); };
    std::size_t before = writes();
    sim::winmm::UserSetControl(codec, WaveVolume, {41000, 41000});
    settle();
    Row("user sets codec wave to 41000", MixerView(codec, true), MixerView(orvane, true));
    std::printf("  (%zu write to Orvane; its echo compared equal and wrote nothing)\n",
                writes() - before);
    sim::winmm::UserSetControl(orvane, MasterMute, {0xFFFFFFFF, 0xFFFFFFFF});
    settle();
    Row("user mutes the Orvane mixer", MixerView(codec, true), MixerView(orvane, true));

    sim::winmm::RemoveMixer(orvane);
    sim::ks::RemoveInterface(OrvanePath);
    RaiseRenderEvent(DBT_DEVICEREMOVECOMPLETE);
    OrvanePresent = false;
    settle();
    Row("Orvane unplugged", MixerView(codec, true), MixerView(orvane, false));
    orvane = sim::winmm::AddMixer(orvaneMixer);
    sim::ks::AddInterface(sim::ks::VirtualRenderInterface(OrvanePath));
    RaiseRenderEvent(DBT_DEVICEARRIVAL);
    OrvanePresent = true;
    settle();
    Row("Orvane plugged back", MixerView(codec, true), MixerView(orvane, true));

    bool stopped = service.Stop();
    Row(stopped ? "service stopped" : "service did NOT stop", MixerView(codec, true),
        MixerView(orvane, true));
    return stopped && sim::Faults().empty();
}

} // namespace

int main() {
    std::printf("Quenvar on a simulated Windows machine (flag: the virtual device's driver "
                "sync flag)\n\n");
    bool endpoints = PlayEndpoints();
    bool mixers = PlayMixers();
    for (auto& fault : sim::Faults()) {
        std::printf("fault: %s\n", fault.c_str());
    }
    std::printf("\n%s\n", endpoints && mixers ? "Both devices stayed at one setting."
                                              : "Something went wrong (see above).");
    return endpoints && mixers ? 0 : 1;
}
