// advapi32 forwards: each seam call of platform/scm.h passed unchanged to Windows, nothing more.
#include "platform/scm.h"

BOOL WINAPI platform::StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* lpServiceStartTable) {
    return ::StartServiceCtrlDispatcherW(lpServiceStartTable);
}

SERVICE_STATUS_HANDLE WINAPI platform::RegisterServiceCtrlHandlerExW(
    LPCWSTR lpServiceName, LPHANDLER_FUNCTION_EX lpHandlerProc, LPVOID lpContext) {
    return ::RegisterServiceCtrlHandlerExW(lpServiceName, lpHandlerProc, lpContext);
}

BOOL WINAPI platform::SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus,
                                       LPSERVICE_STATUS lpServiceStatus) {
    return ::SetServiceStatus(hServiceStatus, lpServiceStatus);
}

SC_HANDLE WINAPI platform::OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName,
                                          DWORD dwDesiredAccess) {
    return ::OpenSCManagerW(lpMachineName, lpDatabaseName, dwDesiredAccess);
}

SC_HANDLE WINAPI platform::CreateServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName,
                                          LPCWSTR lpDisplayName, DWORD dwDesiredAccess,
                                          DWORD dwServiceType, DWORD dwStartType,
                                          DWORD dwErrorControl, LPCWSTR lpBinaryPathName,
                                          LPCWSTR lpLoadOrderGroup, LPDWORD lpdwTagId,
                                          LPCWSTR lpDependencies, LPCWSTR lpServiceStartName,
                                          LPCWSTR lpPassword) {
    return ::CreateServiceW(hSCManager, lpServiceName, lpDisplayName, dwDesiredAccess,
                            dwServiceType, dwStartType, dwErrorControl, lpBinaryPathName,
                            lpLoadOrderGroup, lpdwTagId, lpDependencies, lpServiceStartName,
                            lpPassword);
}

SC_HANDLE WINAPI platform::OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName,
                                        DWORD dwDesiredAccess) {
    return ::OpenServiceW(hSCManager, lpServiceName, dwDesiredAccess);
}

BOOL WINAPI platform::DeleteService(SC_HANDLE hService) {
    return ::DeleteService(hService);
}

BOOL WINAPI platform::QueryServiceConfigW(SC_HANDLE hService,
                                          LPQUERY_SERVICE_CONFIGW lpServiceConfig, DWORD cbBufSize,
                                          LPDWORD pcbBytesNeeded) {
    return ::QueryServiceConfigW(hService, lpServiceConfig, cbBufSize, pcbBytesNeeded);
}

BOOL WINAPI platform::QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
    return ::QueryServiceStatus(hService, lpServiceStatus);
}

BOOL WINAPI platform::CloseServiceHandle(SC_HANDLE hSCObject) {
    return ::CloseServiceHandle(hSCObject);
}

BOOL WINAPI platform::ControlService(SC_HANDLE hService, DWORD dwControl,
                                     LPSERVICE_STATUS lpServiceStatus) {
    return ::ControlService(hService, dwControl, lpServiceStatus);
}

BOOL WINAPI platform::ChangeServiceConfig2W(SC_HANDLE hService, DWORD dwInfoLevel, LPVOID lpInfo) {
    return ::ChangeServiceConfig2W(hService, dwInfoLevel, lpInfo);
}
