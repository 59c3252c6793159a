// The two render devices of the endpoint sync on the simulated machine, and readings of the
// journal that the endpoint sync suites share (unit and scenario).
#pragma once

#include "endpoint/endpoint_sync.h"
#include "platform/sim/audio.h"
#include "platform/sim/ks.h"
#include "platform/sim/machine.h"

#include <algorithm>
#include <string>
#include <vector>

namespace sync_test {

inline const platform::WideString HardwareId = WIDE("{0.0.0.00000000}.{5e1d-codec}");
inline const platform::WideString VirtualId = WIDE("{0.0.0.00000000}.{5e1d-orvane}");
inline const platform::WideString HardwarePath = WIDE("\\\\?\\hdaudio#func_01#codec#render");
inline const platform::WideString VirtualPath = WIDE("\\\\?\\root#orvane#0000#render");
inline const std::string Hardware = sim::Narrow(HardwareId);
// The service's event context, written out: every write must carry exactly this GUID.
inline const std::string SyncContext = "ctx={B7F24C4A-2856-4AC1-B471-33F151EED165}";
inline const std::string Virtual = sim::Narrow(VirtualId);

inline sim::audio::RenderDevice HardwareDevice(float master = 0.75f, BOOL muted = TRUE,
                                               std::vector<float> channels = {0.5f, 0.75f}) {
    sim::audio::RenderDevice device;
    device.description = WIDE("Speakers (Realtek High Definition Audio)");
    device.module = HardwareId;
    device.masterLevel = master;
    device.muted = muted;
    device.channelLevels = std::move(channels);
    return device;
}

inline sim::audio::RenderDevice VirtualDevice(float master = 0.875f, BOOL muted = FALSE,
                                              std::vector<float> channels = {0.125f, 1.0f}) {
    sim::audio::RenderDevice device;
    device.description = WIDE("Speakers (Orvane)");
    device.module = VirtualId;
    device.masterLevel = master;
    device.muted = muted;
    device.channelLevels = std::move(channels);
    return device;
}

// Render devices a user's machine has besides the two, each sharing words with one of them. The
// sync suites list them first, so a name cut short or a word dropped binds one of these instead.
inline void AddOtherRenderDevices() {
    const WCHAR* descriptions[] = {
        WIDE("Digital Output (Realtek High Definition Audio)"),
        WIDE("Realtek HD Audio 2nd output (Realtek High Definition Audio)"),
        WIDE("Speakers (Realtek(R) Audio)"), WIDE("Headphones (Orvane Virtual)")};
    int index = 0;
    for (const WCHAR* description : descriptions) {
        sim::audio::RenderDevice device;
        device.description = description;
        device.module = sim::Widen("{0.0.0.00000000}.{5e1d-other-" + std::to_string(index++) + "}");
        sim::audio::AddRenderDevice(device);
    }
}

inline void PlugHardware(sim::audio::RenderDevice device = HardwareDevice()) {
    sim::audio::PlugRenderDevice(device, sim::ks::CodecRenderInterface(HardwarePath));
}
inline void PlugVirtual(sim::audio::RenderDevice device = VirtualDevice()) {
    sim::audio::PlugRenderDevice(device, sim::ks::VirtualRenderInterface(VirtualPath));
}

// The journal without thread tags.
inline std::vector<std::string> Untagged() {
    std::vector<std::string> result;
    for (auto& entry : sim::Journal()) {
        result.push_back(entry.substr(0, entry.rfind(" [")));
    }
    return result;
}

// How many journal entries equal entry (thread tag ignored).
inline long Count(const std::string& entry) {
    auto journal = Untagged();
    return static_cast<long>(std::count(journal.begin(), journal.end(), entry));
}

// Positions of the first journal entry equal to each of entries, searched in order, each after the
// one before: the whole list is found in this order when no position is -1.
inline std::vector<long> InOrder(const std::vector<std::string>& entries) {
    auto journal = Untagged();
    std::vector<long> positions;
    auto from = journal.begin();
    for (auto& entry : entries) {
        auto found = std::find(from, journal.end(), entry);
        if (found == journal.end()) {
            positions.push_back(-1);
            continue;
        }
        positions.push_back(static_cast<long>(found - journal.begin()));
        from = found + 1;
    }
    return positions;
}

// The sync-active values the virtual device's driver took, in order.
inline std::vector<std::string> DriverFlags() {
    std::vector<std::string> flags;
    for (auto& entry : Untagged()) {
        if (entry.rfind("KsSet ", 0) == 0) {
            flags.push_back(entry.substr(entry.rfind('=') + 1));
        }
    }
    return flags;
}

inline std::string Registered(const std::string& id) {
    return "RegisterControlChangeNotify " + id;
}
inline std::string Unregistered(const std::string& id) {
    return "UnregisterControlChangeNotify " + id;
}
inline std::string Bound(const std::string& id) {
    return "Activate " + id + " IAudioEndpointVolume clsctx=23";
}
inline std::string VolumeReleased(const std::string& id) {
    return "Release IAudioEndpointVolume " + id + " refs=0";
}
inline std::string DeviceReleased(const std::string& id) {
    return "Release IMMDevice " + id + " refs=0";
}
inline const std::string EnumeratorCreated =
    "CoCreateInstance MMDeviceEnumerator IMMDeviceEnumerator clsctx=23";
inline const std::string EnumeratorReleased = "Release IMMDeviceEnumerator refs=0";
inline const std::string FlagOn = "KsSet " + sim::Narrow(VirtualPath) + " SyncActive=1";
inline const std::string FlagOff = "KsSet " + sim::Narrow(VirtualPath) + " SyncActive=0";

inline bool Idle() {
    return !HardwareEndpoint && !VirtualEndpoint && !VirtualToHardwareChange &&
           !HardwareToVirtualChange;
}

// All four slots filled, each callback between the records in the slots.
inline bool Running() {
    return HardwareEndpoint && VirtualEndpoint && VirtualToHardwareChange &&
           HardwareToVirtualChange && VirtualToHardwareChange->source == VirtualEndpoint &&
           VirtualToHardwareChange->target == HardwareEndpoint &&
           HardwareToVirtualChange->source == HardwareEndpoint &&
           HardwareToVirtualChange->target == VirtualEndpoint;
}

inline bool SameSettings(const sim::audio::EndpointState& a, const sim::audio::EndpointState& b) {
    return a.present && b.present && a.masterLevel == b.masterLevel && a.muted == b.muted &&
           a.channelLevels == b.channelLevels;
}

} // namespace sync_test
