// setupapi forwards: each seam call of platform/setupapi.h passed unchanged to Windows, nothing
// more. setupapi.dll is resolved from the system folder on first use (platform/win32/system_dll.h);
// were it missing, each call fails as with no device of the class, with ERROR_MOD_NOT_FOUND.
#include "platform/setupapi.h"

#include "platform/win32/system_dll.h"

namespace {

template <typename Result> Result Missing(Result result) {
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return result;
}

} // namespace

HDEVINFO WINAPI platform::SetupDiGetClassDevsW(const GUID* ClassGuid, LPCWSTR Enumerator,
                                               HWND hwndParent, DWORD Flags) {
    static auto* const call = QUENVAR_SYSTEM_ENTRY(Setupapi, SetupDiGetClassDevsW);
    return call ? call(ClassGuid, Enumerator, hwndParent, Flags) : Missing(INVALID_HANDLE_VALUE);
}

BOOL WINAPI platform::SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet,
                                                  PSP_DEVINFO_DATA DeviceInfoData,
                                                  const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                                  PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    static auto* const call = QUENVAR_SYSTEM_ENTRY(Setupapi, SetupDiEnumDeviceInterfaces);
    return call ? call(DeviceInfoSet, DeviceInfoData, InterfaceClassGuid, MemberIndex,
                       DeviceInterfaceData)
                : Missing(FALSE);
}

BOOL WINAPI platform::SetupDiGetDeviceInterfaceDetailW(
    HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
    DWORD DeviceInterfaceDetailDataSize, LPDWORD RequiredSize, PSP_DEVINFO_DATA DeviceInfoData) {
    static auto* const call = QUENVAR_SYSTEM_ENTRY(Setupapi, SetupDiGetDeviceInterfaceDetailW);
    return call ? call(DeviceInfoSet, DeviceInterfaceData, DeviceInterfaceDetailData,
                       DeviceInterfaceDetailDataSize, RequiredSize, DeviceInfoData)
                : Missing(FALSE);
}

BOOL WINAPI platform::SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    static auto* const call = QUENVAR_SYSTEM_ENTRY(Setupapi, SetupDiDestroyDeviceInfoList);
    return call ? call(DeviceInfoSet) : Missing(FALSE);
}
