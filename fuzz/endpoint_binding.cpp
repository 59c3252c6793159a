// DirectSound render lists of any descriptions and module strings (null ones included), bound by
// the endpoint sync: the first entry whose description holds the words is the one bound, and a
// start that cannot bind both leaves nothing behind.
#include "endpoint/endpoint_sync.h"
#include "fuzz_input.h"
#include "platform/com.h"
#include "platform/sim/audio.h"
#include "platform/sim/machine.h"

#include <optional>
#include <vector>

namespace {

using platform::WideString;

// What the binding must find: the module string of the first entry whose description holds both
// words, or none.
std::optional<WideString> Expected(const std::vector<sim::audio::RenderDevice>& devices,
                                   const WideString& primary, const WideString& secondary) {
    for (auto& device : devices) {
        if (!device.description || device.description->find(primary) == WideString::npos ||
            device.description->find(secondary) == WideString::npos) {
            continue;
        }
        return device.module.value_or(WideString());
    }
    return std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    sim::ResetMachine();
    sim::SetWindowsVersion(6, 1);
    std::vector<sim::audio::RenderDevice> devices;
    std::size_t count = input.Below(6);
    for (std::size_t i = 0; i < count; ++i) {
        sim::audio::RenderDevice device;
        auto flags = input.Take<std::uint8_t>();
        if (flags & 1) {
            device.description = input.Text({WIDE("Speakers (Realtek High Definition Audio)"),
                                             WIDE("Speakers (Orvane)"),
                                             WIDE("Digital Output (Realtek High Definition Audio)"),
                                             WIDE("Headphones (Orvane Virtual)")},
                                            48);
        }
        if (flags & 2) {
            device.module = input.Text({WIDE("{0.0.0.00000000}.{codec}"),
                                        WIDE("{0.0.0.00000000}.{orvane}"), WIDE("winemm.vxd")},
                                       24);
        }
        if (flags & 4) {
            device.guid = input.Take<GUID>();
        }
        device.endpoint = (flags & 8) == 0;
        device.channelLevels.resize(input.Below(4), 0.5f);
        devices.push_back(device);
        sim::audio::AddRenderDevice(device);
    }
    auto hardware = Expected(devices, HardwarePrimaryName, HardwareSecondaryName);
    auto orvane = Expected(devices, VirtualPrimaryName, VirtualSecondaryName);

    platform::CoInitialize(nullptr);
    StartEndpointSync();
    if (HardwareEndpoint) {
        if (!hardware || HardwareEndpoint->endpointId != *hardware || !VirtualEndpoint || !orvane ||
            VirtualEndpoint->endpointId != *orvane) {
            fuzz::Fail("bound another entry than the first whose description holds the words");
        }
    } else if (VirtualEndpoint || VirtualToHardwareChange || HardwareToVirtualChange) {
        fuzz::Fail("a failed start left part of the sync");
    }
    StopEndpointSync();
    platform::CoUninitialize();
    sim::audio::WaitIdle();
    if (sim::audio::LiveObjects() != 0 || !sim::Faults().empty()) {
        fuzz::Fail("objects or faults left after the stop");
    }
    return 0;
}
