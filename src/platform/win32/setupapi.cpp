// setupapi forwards: each seam call of platform/setupapi.h passed unchanged to Windows, nothing
// more.
#include "platform/setupapi.h"

HDEVINFO WINAPI platform::SetupDiGetClassDevsW(const GUID* ClassGuid, LPCWSTR Enumerator,
                                               HWND hwndParent, DWORD Flags) {
    return ::SetupDiGetClassDevsW(ClassGuid, Enumerator, hwndParent, Flags);
}

BOOL WINAPI platform::SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet,
                                                  PSP_DEVINFO_DATA DeviceInfoData,
                                                  const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                                  PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    return ::SetupDiEnumDeviceInterfaces(DeviceInfoSet, DeviceInfoData, InterfaceClassGuid,
                                         MemberIndex, DeviceInterfaceData);
}

BOOL WINAPI platform::SetupDiGetDeviceInterfaceDetailW(
    HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
    DWORD DeviceInterfaceDetailDataSize, LPDWORD RequiredSize, PSP_DEVINFO_DATA DeviceInfoData) {
    return ::SetupDiGetDeviceInterfaceDetailW(
        DeviceInfoSet, DeviceInterfaceData, DeviceInterfaceDetailData,
        DeviceInterfaceDetailDataSize, RequiredSize, DeviceInfoData);
}

BOOL WINAPI platform::SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    return ::SetupDiDestroyDeviceInfoList(DeviceInfoSet);
}
