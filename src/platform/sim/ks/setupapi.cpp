// Simulated SetupAPI: device information sets of KS render interfaces and their detail records.
#include "platform/setupapi.h"

#include "platform/guids.h"
#include "platform/kernel.h"
#include "platform/sim/ks/state.h"
#include "platform/sim/machine.h"

#include <algorithm>
#include <cstddef>

namespace sim::ks {
namespace {

std::vector<SetMember>* FindSet(Devices& devices, HDEVINFO set) {
    auto found = devices.sets.find(reinterpret_cast<std::uintptr_t>(set));
    return found == devices.sets.end() ? nullptr : &found->second;
}

const SetMember* FindMember(const std::vector<SetMember>& members,
                            const SP_DEVICE_INTERFACE_DATA* data) {
    for (auto& member : members) {
        if (member.token == data->Reserved) {
            return &member;
        }
    }
    return nullptr;
}

BOOL Fail(DWORD error) {
    platform::SetLastError(error);
    return FALSE;
}

} // namespace
} // namespace sim::ks

namespace platform {

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* ClassGuid, LPCWSTR, HWND, DWORD Flags) {
    using namespace sim::ks;
    std::string entry = "SetupDiGetClassDevsW " +
                        (ClassGuid ? sim::FormatGuid(*ClassGuid) : std::string("null")) +
                        " flags=" + Hex(Flags) + " ";
    DWORD error = 0;
    if (sim::ShouldFail("SetupDiGetClassDevsW")) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    } else if (!ClassGuid) {
        error = ERROR_INVALID_PARAMETER;
    }
    if (error != 0) {
        sim::Record(entry + Outcome(error));
        SetLastError(error);
        return static_cast<HDEVINFO>(INVALID_HANDLE_VALUE);
    }
    std::uintptr_t key;
    {
        auto& devices = State();
        std::lock_guard<std::mutex> guard(devices.lock);
        std::vector<SetMember> members;
        // Only render interfaces exist here; a set of devices rather than interfaces holds none.
        bool interfaces =
            (Flags & DIGCF_DEVICEINTERFACE) != 0 && SameGuid(*ClassGuid, KSCATEGORY_RENDER);
        for (auto& filter : devices.filters) {
            if (interfaces && (filter->present || (Flags & DIGCF_PRESENT) == 0)) {
                members.push_back({filter->config, devices.nextToken++});
            }
        }
        key = devices.nextSet;
        devices.nextSet += 8;
        devices.sets[key] = std::move(members);
    }
    sim::Record(entry + Outcome(0));
    return reinterpret_cast<HDEVINFO>(key);
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    using namespace sim::ks;
    std::string entry = "SetupDiEnumDeviceInterfaces index=" + std::to_string(MemberIndex) + " ";
    auto& devices = State();
    std::unique_lock<std::mutex> guard(devices.lock);
    auto* members = FindSet(devices, DeviceInfoSet);
    if (!members) {
        guard.unlock();
        sim::ReportFault("SetupDiEnumDeviceInterfaces on an unknown device information set");
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!DeviceInterfaceData || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        guard.unlock();
        sim::ReportFault("SetupDiEnumDeviceInterfaces with an SP_DEVICE_INTERFACE_DATA whose "
                         "cbSize is not its size");
        return Fail(ERROR_INVALID_PARAMETER); // as Wine 8 answers (tests/contract/ks.cpp)
    }
    if (DeviceInfoData) {
        guard.unlock();
        sim::ReportFault("SetupDiEnumDeviceInterfaces by device: not modelled by this machine");
        return Fail(ERROR_INVALID_PARAMETER);
    }
    DWORD error = 0;
    const SetMember* member = nullptr;
    if (sim::ShouldFail("SetupDiEnumDeviceInterfaces")) {
        error = ERROR_GEN_FAILURE;
    } else if (!InterfaceClassGuid || !SameGuid(*InterfaceClassGuid, KSCATEGORY_RENDER) ||
               MemberIndex >= members->size()) {
        error = ERROR_NO_MORE_ITEMS;
    } else {
        member = &(*members)[MemberIndex];
        error = member->config.enumerateError;
    }
    if (error != 0) {
        guard.unlock();
        sim::Record(entry + Outcome(error));
        return Fail(error);
    }
    DeviceInterfaceData->InterfaceClassGuid = KSCATEGORY_RENDER;
    DeviceInterfaceData->Flags = 1; // SPINT_ACTIVE
    DeviceInterfaceData->Reserved = member->token;
    std::string path = sim::Narrow(member->config.path);
    guard.unlock();
    sim::Record(entry + "-> " + path);
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(
    HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
    DWORD DeviceInterfaceDetailDataSize, LPDWORD RequiredSize, PSP_DEVINFO_DATA DeviceInfoData) {
    using namespace sim::ks;
    constexpr DWORD headerSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    auto* buffer = reinterpret_cast<BYTE*>(DeviceInterfaceDetailData);
    std::string fault;
    if (DeviceInfoData) {
        fault = "device info data: not modelled by this machine";
    } else if (!buffer && DeviceInterfaceDetailDataSize != 0) {
        fault = "a size of " + std::to_string(DeviceInterfaceDetailDataSize) + " but no buffer";
    } else if (buffer && DeviceInterfaceDetailDataSize < headerSize) {
        fault = "a buffer of " + std::to_string(DeviceInterfaceDetailDataSize) +
                " bytes, too small for the detail header";
    } else if (buffer) {
        // Windows probes the whole buffer it is given: a buffer smaller than claimed shows here.
        std::vector<BYTE> probe(buffer, buffer + DeviceInterfaceDetailDataSize);
        if (DeviceInterfaceDetailData->cbSize != headerSize) {
            fault = "a detail record whose cbSize is " +
                    std::to_string(DeviceInterfaceDetailData->cbSize);
        }
    }
    if (!fault.empty()) {
        sim::ReportFault("SetupDiGetDeviceInterfaceDetailW with " + fault);
        return Fail(ERROR_INVALID_USER_BUFFER);
    }

    RenderInterface config;
    {
        auto& devices = State();
        std::lock_guard<std::mutex> guard(devices.lock);
        auto* members = FindSet(devices, DeviceInfoSet);
        if (!members) {
            fault = "an unknown device information set";
        } else if (!DeviceInterfaceData ||
                   DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
            fault = "an SP_DEVICE_INTERFACE_DATA whose cbSize is not its size";
        } else if (const SetMember* member = FindMember(*members, DeviceInterfaceData)) {
            config = member->config;
        } else {
            fault = "interface data that is not of this set";
        }
    }
    if (!fault.empty()) {
        sim::ReportFault("SetupDiGetDeviceInterfaceDetailW with " + fault);
        return Fail(ERROR_INVALID_PARAMETER);
    }

    const DWORD trueSize =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                           (config.path.size() + 1) * sizeof(WCHAR));
    const DWORD reportedSize = config.requiredSize != 0 ? config.requiredSize : trueSize;
    DWORD error = 0;
    bool storeSize = false;
    if (sim::ShouldFail("SetupDiGetDeviceInterfaceDetailW")) {
        error = ERROR_GEN_FAILURE;
    } else if (!buffer) {
        // The size is stored whatever the answer, so that only the error tells a skip apart.
        error = config.sizeQueryError;
        storeSize = true;
    } else if (DeviceInterfaceDetailDataSize < trueSize) {
        error = ERROR_INSUFFICIENT_BUFFER;
        storeSize = true;
    } else {
        error = config.detailError;
    }
    if (buffer && error == 0) {
        std::copy(config.path.begin(), config.path.end(), DeviceInterfaceDetailData->DevicePath);
        DeviceInterfaceDetailData->DevicePath[config.path.size()] = 0;
        storeSize = true;
    }
    if (storeSize && RequiredSize) {
        *RequiredSize = buffer && error == 0 ? trueSize : reportedSize;
    }
    std::string entry = "SetupDiGetDeviceInterfaceDetailW " + sim::Narrow(config.path) +
                        " size=" + std::to_string(DeviceInterfaceDetailDataSize) + " " +
                        Outcome(error);
    if (error != 0 && storeSize) {
        entry += " required=" + std::to_string(reportedSize);
    }
    sim::Record(entry);
    if (error != 0) {
        return Fail(error);
    }
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    using namespace sim::ks;
    {
        auto& devices = State();
        std::lock_guard<std::mutex> guard(devices.lock);
        auto found = devices.sets.find(reinterpret_cast<std::uintptr_t>(DeviceInfoSet));
        if (found != devices.sets.end()) {
            devices.sets.erase(found);
            sim::Record("SetupDiDestroyDeviceInfoList");
            return TRUE;
        }
    }
    sim::ReportFault("SetupDiDestroyDeviceInfoList of an unknown or destroyed set");
    return Fail(ERROR_INVALID_HANDLE);
}

} // namespace platform
