// Simulated render device arrival and removal: one device in DirectSound's list, Core Audio and
// the KS render interfaces at once, followed by the device-interface event Windows broadcasts.
#include "platform/guids.h"
#include "platform/sim/audio.h"
#include "platform/sim/ks.h"
#include "platform/sim/machine.h"

#include <map>
#include <mutex>

namespace sim::audio {
namespace {

// The KS interface path of each plugged device, by endpoint id, and the number of its plugging
// (a late endpoint is built only for the plugging that asked for it).
struct PluggedDevices {
    std::mutex lock;
    std::map<platform::WideString, std::pair<platform::WideString, unsigned>> paths;
    unsigned pluggings = 0;
    bool lateBuilder = false;
    DWORD builderDelay = 0;
};

PluggedDevices& Plugged() {
    return sim::AreaState<PluggedDevices>([](PluggedDevices& state) {
        state.paths.clear();
        state.lateBuilder = false;
    });
}

} // namespace

void PlugRenderDevice(const RenderDevice& device, const sim::ks::RenderInterface& renderInterface,
                      DWORD eventType) {
    platform::WideString id = device.module.value_or(platform::WideString());
    bool late;
    DWORD delay;
    unsigned plugging;
    {
        auto& plugged = Plugged();
        std::lock_guard<std::mutex> guard(plugged.lock);
        plugging = ++plugged.pluggings;
        plugged.paths[id] = {renderInterface.path, plugging};
        late = plugged.lateBuilder;
        delay = plugged.builderDelay;
    }
    if (!late) {
        AddRenderDevice(device);
    }
    sim::ks::AddInterface(renderInterface);
    sim::Record("PlugRenderDevice " + sim::Narrow(id) + " " + sim::Narrow(renderInterface.path));
    if (late) {
        sim::AtMachineTime(delay, [device, id, plugging] {
            {
                auto& plugged = Plugged();
                std::lock_guard<std::mutex> guard(plugged.lock);
                auto found = plugged.paths.find(id);
                if (found == plugged.paths.end() || found->second.second != plugging) {
                    return; // pulled out before its endpoint was built
                }
            }
            sim::Record("EndpointBuilt " + sim::Narrow(id));
            AddRenderDevice(device);
        });
    }
    // Outside every lock of the machine: the service's handler runs before this returns.
    sim::RaiseDeviceInterfaceEvent(eventType, platform::KSCATEGORY_RENDER);
}

void SetLateEndpointBuilder(bool late, DWORD delayMilliseconds) {
    auto& plugged = Plugged();
    std::lock_guard<std::mutex> guard(plugged.lock);
    plugged.lateBuilder = late;
    plugged.builderDelay = delayMilliseconds;
}

bool UnplugRenderDevice(const platform::WideString& endpointId, DWORD eventType) {
    platform::WideString path;
    {
        auto& plugged = Plugged();
        std::lock_guard<std::mutex> guard(plugged.lock);
        auto found = plugged.paths.find(endpointId);
        if (found == plugged.paths.end()) {
            return false;
        }
        path = found->second.first;
        plugged.paths.erase(found);
    }
    RemoveRenderDevice(endpointId);
    sim::ks::RemoveInterface(path);
    sim::Record("UnplugRenderDevice " + sim::Narrow(endpointId) + " " + sim::Narrow(path));
    sim::RaiseDeviceInterfaceEvent(eventType, platform::KSCATEGORY_RENDER);
    return true;
}

} // namespace sim::audio
