// The device sections of the check: the render endpoints (above version 5), the mixers (version
// 5 and below) and the virtual device's kernel-streaming filter, each judged by the service's
// own binding, lookup and filter search.
#include "check/report.h"
#include "driver/ks_channel.h"
#include "endpoint/endpoint_device.h"
#include "endpoint/endpoint_sync.h"
#include "mixer/mixer_lookup.h"
#include "mixer/mixer_scan.h"
#include "mixer/mixer_sync.h"
#include "platform/com.h"
#include "platform/dsound.h"
#include "platform/guids.h"
#include "platform/handle.h"
#include "platform/winmm.h"

#include <cstdio>
#include <new>
#include <optional>
#include <vector>

namespace check {
namespace {

std::string Level(float value) {
    char text[16];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(value));
    return text;
}

// One DirectSound render entry, as listed.
struct RenderEntry {
    std::optional<platform::WideString> description;
    platform::WideString module;
};

BOOL CALLBACK ListDirectSoundDevice(LPGUID, LPCWSTR description, LPCWSTR module, LPVOID context) {
    auto* entries = static_cast<std::vector<RenderEntry>*>(context);
    try {
        RenderEntry entry;
        if (description) {
            entry.description = platform::WideString(description);
        }
        entry.module = module ? module : WIDE("");
        entries->push_back(std::move(entry));
    } catch (const std::bad_alloc&) {
        return FALSE; // never across DirectSound's frames
    }
    return TRUE;
}

// One of the two records the endpoint sync binds.
struct EndpointRole {
    const char* name;
    const WCHAR* primary;
    const WCHAR* secondary;
};

std::string Words(const EndpointRole& role) {
    std::string words = "\"" + Utf8(role.primary) + "\"";
    if (role.secondary && *role.secondary) {
        words += " and \"" + Utf8(role.secondary) + "\"";
    }
    return words;
}

// The entry the record would bind to: the first whose description holds the words, by the
// binding's own test.
std::optional<std::size_t> MatchingEntry(const std::vector<RenderEntry>& entries,
                                         const EndpointRole& role) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& description = entries[i].description;
        if (DescriptionMatches(description ? description->c_str() : nullptr, role.primary,
                               role.secondary)) {
            return i;
        }
    }
    return std::nullopt;
}

// Reads the endpoint's current settings; reads only.
std::string Settings(IAudioEndpointVolume* volume) {
    float master = 0.0f;
    BOOL muted = FALSE;
    UINT channels = 0;
    std::string text = "master ";
    text += FAILED(volume->GetMasterVolumeLevelScalar(&master)) ? "unreadable" : Level(master);
    text += ", mute ";
    text += FAILED(volume->GetMute(&muted)) ? "unreadable" : (muted ? "on" : "off");
    if (FAILED(volume->GetChannelCount(&channels))) {
        return text + ", channels unreadable";
    }
    text += ", channels";
    for (UINT channel = 0; channel < channels; ++channel) {
        float level = 0.0f;
        text += " ";
        text += FAILED(volume->GetChannelVolumeLevelScalar(channel, &level)) ? "unreadable"
                                                                             : Level(level);
    }
    return text;
}

// The name of a render endpoint that is not active, and why, in the user's words.
struct InactiveEndpoint {
    platform::WideString name;
    std::string why;
};

// DirectSound lists active endpoints only: an endpoint disabled in the Sound panel or with its
// jack pulled out is found by its friendly name, which is the description DirectSound would give.
std::optional<InactiveEndpoint> FindInactiveEndpoint(IMMDeviceEnumerator* enumerator,
                                                     const EndpointRole& role) {
    platform::ComPtr<IMMDeviceCollection> endpoints;
    UINT count = 0;
    if (FAILED(enumerator->EnumAudioEndpoints(
            eRender, DEVICE_STATE_DISABLED | DEVICE_STATE_UNPLUGGED, endpoints.put())) ||
        FAILED(endpoints->GetCount(&count))) {
        return std::nullopt;
    }
    for (UINT i = 0; i < count; ++i) {
        platform::ComPtr<IMMDevice> device;
        platform::ComPtr<IPropertyStore> properties;
        DWORD state = 0;
        PROPVARIANT name{};
        if (FAILED(endpoints->Item(i, device.put())) || FAILED(device->GetState(&state)) ||
            FAILED(device->OpenPropertyStore(STGM_READ, properties.put())) ||
            FAILED(properties->GetValue(platform::PKEY_Device_FriendlyName, &name))) {
            continue;
        }
        std::optional<InactiveEndpoint> found;
        if (name.vt == VT_LPWSTR &&
            DescriptionMatches(name.pwszVal, role.primary, role.secondary)) {
            found = InactiveEndpoint{name.pwszVal, state == DEVICE_STATE_DISABLED
                                                       ? "disabled in the Sound panel"
                                                       : "unplugged"};
        }
        platform::PropVariantClear(&name);
        if (found) {
            return found;
        }
    }
    return std::nullopt;
}

void CheckEndpoint(Report& report, const std::vector<RenderEntry>& entries,
                   const EndpointRole& role, IMMDeviceEnumerator* enumerator) {
    std::string head = std::string(role.name) + " (description holds " + Words(role) + "): ";
    auto match = MatchingEntry(entries, role);
    if (!match) {
        if (auto inactive = FindInactiveEndpoint(enumerator, role)) {
            std::string what =
                "the endpoint " + Quoted(inactive->name.c_str()) + " is " + inactive->why;
            report.Line(head + "no device: " + what);
            report.Reason(std::string(role.name) + ": " + what);
            return;
        }
        report.Line(head + "no device");
        report.Reason(std::string(role.name) + ": no render device's description holds " +
                      Words(role));
        return;
    }
    const RenderEntry& entry = entries[*match];
    report.Line(head + "device " + std::to_string(*match));
    if (entry.module.empty()) {
        report.Line("  module string empty: no endpoint id to open");
        report.Reason(std::string(role.name) + ": the module string of device " +
                      std::to_string(*match) + " is empty");
        return;
    }
    // The service's own binding, the same call the endpoint sync makes.
    EndpointDevice* record = nullptr;
    HRESULT bindResult = S_OK;
    try {
        record = BindEndpoint(role.primary, role.secondary, enumerator);
    } catch (HRESULT hr) {
        bindResult = hr;
    } catch (const std::bad_alloc&) {
        bindResult = E_OUTOFMEMORY;
    }
    if (record) {
        report.Line("  endpoint opens, volume activates: " +
                    Settings(record->endpointVolume.get()));
        DestroyEndpointDevice(record);
        return;
    }
    // Which step failed: the binding throws only its HRESULT, so the endpoint is tried alone.
    platform::ComPtr<IMMDevice> device;
    HRESULT opened = enumerator->GetDevice(entry.module.c_str(), device.put());
    if (FAILED(opened)) {
        report.Line("  endpoint does not open (GetDevice " + Hex(static_cast<DWORD>(opened)) +
                    "): module string " + Quoted(entry.module.c_str()) + " is no endpoint id");
        report.Reason(std::string(role.name) + ": module string " + Quoted(entry.module.c_str()) +
                      " of device " + std::to_string(*match) + " is no endpoint id");
        return;
    }
    report.Line("  endpoint opens, volume does not activate (" +
                Hex(static_cast<DWORD>(bindResult)) + ")");
    report.Reason(std::string(role.name) + ": the endpoint volume does not activate (" +
                  Hex(static_cast<DWORD>(bindResult)) + ")");
}

const char* SlotNames[MixerSlotCount] = {
    "wave output volume", "wave output mute", "compact disc volume", "compact disc mute",
    "synthesizer volume", "synthesizer mute", "speakers volume",     "speakers mute"};

// Opens nothing: the capabilities by device identifier.
std::vector<MIXERCAPS2W> MixerCapabilities() {
    std::vector<MIXERCAPS2W> all;
    UINT count = platform::mixerGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        MIXERCAPS2W caps{};
        platform::mixerGetDevCapsW(id, reinterpret_cast<LPMIXERCAPSW>(&caps), sizeof caps);
        all.push_back(caps);
    }
    return all;
}

std::optional<UINT> FirstMatch(const std::vector<MIXERCAPS2W>& all, const MixerCriteria& criteria) {
    for (UINT id = 0; id < all.size(); ++id) {
        if (MixerMatches(all[id], criteria)) {
            return id;
        }
    }
    return std::nullopt;
}

struct ScannedMixer {
    MixerControlTable table = EmptyMixerControlTable();
    MixerUniformSlots uniform{};
};

// The mixer a lookup opened, scanned as the sync scans it and closed at once.
std::optional<ScannedMixer> ScanAndClose(HMIXER mixer) {
    if (!mixer) {
        return std::nullopt;
    }
    ScannedMixer scanned;
    ScanMixerLines(mixer, scanned.table, &scanned.uniform);
    platform::mixerClose(mixer);
    return scanned;
}

void ReportTable(Report& report, const ScannedMixer& scanned) {
    const MixerControlTable& table = scanned.table;
    for (int slot = 0; slot < MixerSlotCount; ++slot) {
        const MixerControlSlot& control = table[static_cast<std::size_t>(slot)];
        std::string line = "  " + std::to_string(slot) + " " + SlotNames[slot] + ": ";
        if (control.controlId == NoMixerControl) {
            line += "no control";
        } else if (control.controlType == 0) {
            line += "control " + std::to_string(control.controlId) + ", value unreadable";
        } else {
            line += "control " + std::to_string(control.controlId) + ", values " +
                    std::to_string(control.value0) + " " + std::to_string(control.value1);
        }
        // The service reads and writes every slot with two channels; the details page asks one
        // channel of a uniform control and says nothing of more.
        if (control.controlId != NoMixerControl &&
            scanned.uniform[static_cast<std::size_t>(slot)]) {
            line += ", uniform: its two-channel reads and writes may be wrong";
        }
        report.Line(line);
    }
}

} // namespace

void CheckEndpoints(Report& report) {
    std::vector<RenderEntry> entries;
    platform::DirectSoundEnumerateW(ListDirectSoundDevice, &entries);
    report.Line("Render devices (DirectSound): " + std::to_string(entries.size()));
    const EndpointRole hardware{"Codec's speakers", HardwarePrimaryName, HardwareSecondaryName};
    const EndpointRole virtualDevice{"Virtual device", VirtualPrimaryName, VirtualSecondaryName};
    auto hardwareEntry = MatchingEntry(entries, hardware);
    auto virtualEntry = MatchingEntry(entries, virtualDevice);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& description = entries[i].description;
        std::string line = "  " + std::to_string(i) + " " +
                           Quoted(description ? description->c_str() : nullptr) + ", module " +
                           Quoted(entries[i].module.c_str());
        if (hardwareEntry == i) {
            line += "  <- codec's speakers";
        }
        if (virtualEntry == i) {
            line += "  <- virtual device";
        }
        report.Line(line);
    }

    // The thread's apartment, as the service's threads have one; both calls balance.
    HRESULT initialised = platform::CoInitialize(nullptr);
    {
        platform::ComPtr<IMMDeviceEnumerator> enumerator;
        HRESULT hr =
            platform::CoCreateInstance(platform::CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                       platform::IID_IMMDeviceEnumerator, enumerator.put_void());
        if (FAILED(hr)) {
            report.Line("Core Audio device enumerator: not created (" +
                        Hex(static_cast<DWORD>(hr)) + ")");
            report.Reason("Core Audio's device enumerator cannot be created (" +
                          Hex(static_cast<DWORD>(hr)) + ")");
        } else {
            CheckEndpoint(report, entries, hardware, enumerator.get());
            CheckEndpoint(report, entries, virtualDevice, enumerator.get());
        }
    }
    if (SUCCEEDED(initialised)) {
        platform::CoUninitialize();
    }
}

void CheckMixers(Report& report) {
    std::vector<MIXERCAPS2W> all = MixerCapabilities();
    // The same lookups StartMixerSync makes, without a window; each mixer is closed as soon as
    // its table is read.
    auto virtualTable = ScanAndClose(FindVirtualMixer(nullptr));
    const WCHAR* hardwareName = nullptr;
    auto hardwareTable = ScanAndClose(FindHardwareMixer(nullptr, &hardwareName));
    std::optional<UINT> virtualId, hardwareId;
    if (virtualTable) {
        virtualId = FirstMatch(all, VirtualMixerCriteria());
    }
    if (hardwareTable) {
        hardwareId = FirstMatch(all, HardwareMixerCriteria(hardwareName));
    }

    report.Line("Mixers (winmm): " + std::to_string(all.size()));
    for (UINT id = 0; id < all.size(); ++id) {
        std::string line = "  " + std::to_string(id) + " " + Quoted(all[id].szPname) +
                           ", product GUID " + Guid(all[id].ProductGuid);
        if (virtualId == id) {
            line += "  <- virtual mixer";
        }
        if (hardwareId == id) {
            line += "  <- codec's mixer";
        }
        report.Line(line);
    }

    std::string wanted = "Virtual mixer (product GUID " + Guid(VirtualDeviceProductGuid) + "): ";
    if (virtualTable) {
        report.Line(wanted + "mixer " + (virtualId ? std::to_string(*virtualId) : "?"));
        ReportTable(report, *virtualTable);
    } else {
        report.Line(wanted + "none");
        report.Reason("no mixer carries the virtual device's product GUID " +
                      Guid(VirtualDeviceProductGuid));
    }
    std::string names;
    for (const WCHAR* name : HardwareMixerNames) {
        names += (names.empty() ? "" : ", ") + Quoted(name);
    }
    if (hardwareTable) {
        report.Line("Codec's mixer (named " + names + "): mixer " +
                    (hardwareId ? std::to_string(*hardwareId) : "?") + ", by the name " +
                    Quoted(hardwareName));
        ReportTable(report, *hardwareTable);
    } else {
        report.Line("Codec's mixer (named " + names + "): none");
        report.Reason("no mixer is named " + names);
    }
}

void CheckFilter(Report& report) {
    platform::WideString path;
    // The driver channel's own search; only the component id is read (a GET), and the filter
    // is closed at once.
    platform::UniqueFileHandle filter(FindVirtualRenderFilter(VirtualDeviceProductGuid, &path));
    std::string head =
        "Kernel-streaming filter (product GUID " + Guid(VirtualDeviceProductGuid) + "): ";
    if (filter) {
        filter.reset();
        report.Line(head + "found, " + Quoted(path.c_str()));
    } else {
        report.Line(head + "not found");
        report.Reason("the virtual device's kernel-streaming filter is not found");
    }
}

} // namespace check
