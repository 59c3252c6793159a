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

// The KS interface path of each plugged device, by endpoint id.
struct PluggedDevices {
    std::mutex lock;
    std::map<platform::WideString, platform::WideString> paths;
};

PluggedDevices& Plugged() {
    return sim::AreaState<PluggedDevices>([](PluggedDevices& state) { state.paths.clear(); });
}

} // namespace

void PlugRenderDevice(const RenderDevice& device, const sim::ks::RenderInterface& renderInterface,
                      DWORD eventType) {
    platform::WideString id = device.module.value_or(platform::WideString());
    {
        auto& plugged = Plugged();
        std::lock_guard<std::mutex> guard(plugged.lock);
        plugged.paths[id] = renderInterface.path;
    }
    AddRenderDevice(device);
    sim::ks::AddInterface(renderInterface);
    sim::Record("PlugRenderDevice " + sim::Narrow(id) + " " + sim::Narrow(renderInterface.path));
    // Outside every lock of the machine: the service's handler runs before this returns.
    sim::RaiseDeviceInterfaceEvent(eventType, platform::KSCATEGORY_RENDER);
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
        path = found->second;
        plugged.paths.erase(found);
    }
    RemoveRenderDevice(endpointId);
    sim::ks::RemoveInterface(path);
    sim::Record("UnplugRenderDevice " + sim::Narrow(endpointId) + " " + sim::Narrow(path));
    sim::RaiseDeviceInterfaceEvent(eventType, platform::KSCATEGORY_RENDER);
    return true;
}

} // namespace sim::audio
