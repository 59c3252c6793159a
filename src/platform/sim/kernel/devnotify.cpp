// Simulated device interface notifications: registrations of services and windows, and the
// delivery of device events to them.
#include "platform/sim/machine.h"
#include "platform/kernel.h"
#include "platform/user32.h"

#include <map>
#include <mutex>

namespace sim {
namespace {

struct Registry {
    std::mutex lock;
    std::map<std::uintptr_t, DeviceRegistration> registrations;
    std::uintptr_t next = 0xD000;
    DeviceEventSink serviceSink;
    DeviceEventSink windowSink;
};

Registry& Notifications() {
    return AreaState<Registry>([](Registry& state) { state.registrations.clear(); });
}

} // namespace

void SetServiceDeviceEventSink(DeviceEventSink sink) {
    std::lock_guard<std::mutex> guard(Notifications().lock);
    Notifications().serviceSink = std::move(sink);
}

void SetWindowDeviceEventSink(DeviceEventSink sink) {
    std::lock_guard<std::mutex> guard(Notifications().lock);
    Notifications().windowSink = std::move(sink);
}

// Delivered outside the registry lock: a sink may block until the recipient has handled the
// event, and the recipient may register or unregister meanwhile.
void RaiseDeviceInterfaceEvent(DWORD eventType, const GUID& interfaceClass) {
    std::vector<std::pair<DeviceRegistration, DeviceEventSink>> deliveries;
    {
        auto& registry = Notifications();
        std::lock_guard<std::mutex> guard(registry.lock);
        for (auto& [id, registration] : registry.registrations) {
            bool allClasses = (registration.flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != 0;
            if (!allClasses &&
                !platform::SameGuid(registration.filter.dbcc_classguid, interfaceClass)) {
                continue;
            }
            bool toService = (registration.flags & DEVICE_NOTIFY_SERVICE_HANDLE) != 0;
            auto& sink = toService ? registry.serviceSink : registry.windowSink;
            if (sink) {
                deliveries.emplace_back(registration, sink);
            }
        }
    }
    for (auto& [registration, sink] : deliveries) {
        sink(registration.recipient, eventType);
    }
}

std::size_t DeviceNotificationCount() {
    std::lock_guard<std::mutex> guard(Notifications().lock);
    return Notifications().registrations.size();
}

std::vector<DeviceRegistration> DeviceRegistrations() {
    std::lock_guard<std::mutex> guard(Notifications().lock);
    std::vector<DeviceRegistration> all;
    for (auto& [id, registration] : Notifications().registrations) {
        all.push_back(registration);
    }
    return all;
}

} // namespace sim

namespace platform {

HDEVNOTIFY WINAPI RegisterDeviceNotificationW(HANDLE hRecipient, LPVOID NotificationFilter,
                                              DWORD Flags) {
    auto* filter = static_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(NotificationFilter);
    sim::Record("RegisterDeviceNotificationW " + sim::FormatGuid(filter->dbcc_classguid) +
                " flags=" + std::to_string(Flags));
    if (sim::ShouldFail("RegisterDeviceNotificationW") || !hRecipient ||
        filter->dbcc_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) ||
        filter->dbcc_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto& registry = sim::Notifications();
    std::lock_guard<std::mutex> guard(registry.lock);
    std::uintptr_t id = registry.next++;
    registry.registrations[id] = sim::DeviceRegistration{hRecipient, Flags, *filter};
    return reinterpret_cast<HDEVNOTIFY>(id);
}

BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY Handle) {
    sim::Record("UnregisterDeviceNotification");
    auto& registry = sim::Notifications();
    std::lock_guard<std::mutex> guard(registry.lock);
    if (registry.registrations.erase(reinterpret_cast<std::uintptr_t>(Handle)) == 0) {
        sim::ReportFault("UnregisterDeviceNotification of an unknown handle");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

} // namespace platform
