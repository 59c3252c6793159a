#include "driver/ks_channel.h"

#include "platform/guids.h"
#include "platform/handle.h"
#include "platform/kernel.h"
#include "platform/ks.h"
#include "platform/setupapi.h"

#include <cstddef>
#include <utility>
#include <new>
#include <vector>

namespace {

struct DeviceInfoSetTraits {
    using Value = HDEVINFO;
    static Value Invalid() { return static_cast<HDEVINFO>(INVALID_HANDLE_VALUE); }
    static void Close(Value value) { platform::SetupDiDestroyDeviceInfoList(value); }
};
using UniqueDeviceInfoSet = platform::UniqueHandle<DeviceInfoSetTraits>;

// The detail buffer must at least hold the header whose cbSize we write and one path character.
constexpr DWORD MinimumDetailSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
static_assert(MinimumDetailSize >=
              offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + sizeof(WCHAR));

// Two-call detail protocol: ask for the size, then fill a buffer of exactly that size. False
// skips the interface.
bool ReadInterfaceDetail(HDEVINFO deviceInfo, SP_DEVICE_INTERFACE_DATA& interfaceData,
                         std::vector<BYTE>& detail) {
    DWORD requiredSize = 0;
    if (platform::SetupDiGetDeviceInterfaceDetailW(deviceInfo, &interfaceData, nullptr, 0,
                                                   &requiredSize, nullptr) ||
        platform::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return false;
    }
    if (requiredSize < MinimumDetailSize) {
        return false;
    }
    // The flag is written from the service's control handler, where no exception may escape:
    // a buffer that cannot be had skips the interface like any other failed step.
    try {
        detail.resize(requiredSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
    auto* detailData = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(detail.data());
    detailData->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    return platform::SetupDiGetDeviceInterfaceDetailW(deviceInfo, &interfaceData, detailData,
                                                      requiredSize, &requiredSize,
                                                      nullptr) != FALSE;
}

bool HasProductGuid(HANDLE filter, const GUID& productGuid) {
    // Cleared for every filter: a short or failed reply must never be judged by the bytes an
    // earlier filter left behind.
    platform::KSCOMPONENTID componentId{};
    return KsGetProperty(filter, platform::KSPROPSETID_General,
                         platform::KSPROPERTY_GENERAL_COMPONENTID, &componentId,
                         sizeof(componentId)) &&
           platform::SameGuid(componentId.Product, productGuid);
}

} // namespace

bool SendKsProperty(HANDLE handle, const GUID& propertySet, ULONG propertyId, ULONG flags,
                    void* data, ULONG dataSize) {
    platform::KSPROPERTY property{};
    property.Set = propertySet;
    property.Id = propertyId;
    property.Flags = flags;
    DWORD bytesReturned = 0;
    return platform::DeviceIoControl(handle, IOCTL_KS_PROPERTY, &property, sizeof(property), data,
                                     dataSize, &bytesReturned, nullptr) != FALSE;
}

bool KsGetProperty(HANDLE handle, const GUID& propertySet, ULONG propertyId, void* data,
                   ULONG dataSize) {
    return SendKsProperty(handle, propertySet, propertyId, KSPROPERTY_TYPE_GET, data, dataSize);
}

bool KsSetProperty(HANDLE handle, const GUID& propertySet, ULONG propertyId, void* data,
                   ULONG dataSize) {
    return SendKsProperty(handle, propertySet, propertyId, KSPROPERTY_TYPE_SET, data, dataSize);
}

HANDLE FindVirtualRenderFilter(const GUID& productGuid, platform::WideString* devicePath) {
    UniqueDeviceInfoSet deviceInfo(platform::SetupDiGetClassDevsW(
        &platform::KSCATEGORY_RENDER, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!deviceInfo) {
        return INVALID_HANDLE_VALUE;
    }
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(interfaceData);
    std::vector<BYTE> detail;
    platform::UniqueFileHandle result;
    for (DWORD memberIndex = 0; !result; ++memberIndex) {
        if (!platform::SetupDiEnumDeviceInterfaces(deviceInfo.get(), nullptr,
                                                   &platform::KSCATEGORY_RENDER, memberIndex,
                                                   &interfaceData)) {
            break;
        }
        if (!ReadInterfaceDetail(deviceInfo.get(), interfaceData, detail)) {
            continue;
        }
        auto* detailData = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(detail.data());
        platform::UniqueFileHandle filter(platform::CreateFileW(
            detailData->DevicePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (filter && HasProductGuid(filter.get(), productGuid)) {
            result = std::move(filter);
            if (devicePath) {
                *devicePath = detailData->DevicePath;
            }
        }
    }
    return result.release();
}

void NotifyDriverSyncState(ULONG value) {
    platform::UniqueFileHandle filter(FindVirtualRenderFilter(VirtualDeviceProductGuid));
    if (!filter) {
        return;
    }
    ULONG flag = value;
    KsSetProperty(filter.get(), SyncPropertySet, SyncActiveProperty, &flag, sizeof(flag));
}
