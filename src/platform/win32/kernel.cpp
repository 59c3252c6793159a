// kernel32 forwards: each seam call of platform/kernel.h passed unchanged to Windows, nothing more.
#include "platform/kernel.h"

HANDLE WINAPI platform::CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                                     BOOL bInitialState, LPCWSTR lpName) {
    return ::CreateEventW(lpEventAttributes, bManualReset, bInitialState, lpName);
}

BOOL WINAPI platform::SetEvent(HANDLE hEvent) {
    return ::SetEvent(hEvent);
}

DWORD WINAPI platform::WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    return ::WaitForSingleObject(hHandle, dwMilliseconds);
}

DWORD WINAPI platform::WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                              DWORD dwMilliseconds) {
    return ::WaitForMultipleObjects(nCount, lpHandles, bWaitAll, dwMilliseconds);
}

BOOL WINAPI platform::CloseHandle(HANDLE hObject) {
    return ::CloseHandle(hObject);
}

void WINAPI platform::Sleep(DWORD dwMilliseconds) {
    ::Sleep(dwMilliseconds);
}

HANDLE WINAPI platform::CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                                     LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                                     DWORD dwCreationFlags, LPDWORD lpThreadId) {
    return ::CreateThread(lpThreadAttributes, dwStackSize, lpStartAddress, lpParameter,
                          dwCreationFlags, lpThreadId);
}

DWORD WINAPI platform::GetLastError() {
    return ::GetLastError();
}

void WINAPI platform::SetLastError(DWORD dwErrCode) {
    ::SetLastError(dwErrCode);
}

BOOL WINAPI platform::GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
    return ::GetVersionExW(lpVersionInformation);
}

DWORD WINAPI platform::GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    return ::GetModuleFileNameW(hModule, lpFilename, nSize);
}

int WINAPI platform::lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2) {
    return ::lstrcmpiW(lpString1, lpString2);
}

HANDLE WINAPI platform::CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                    LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                    DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                    HANDLE hTemplateFile) {
    return ::CreateFileW(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                         dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
}

BOOL WINAPI platform::DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                      DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                                      LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped) {
    return ::DeviceIoControl(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer,
                             nOutBufferSize, lpBytesReturned, lpOverlapped);
}

HMODULE WINAPI platform::GetModuleHandleW(LPCWSTR lpModuleName) {
    return ::GetModuleHandleW(lpModuleName);
}

FARPROC WINAPI platform::GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    return ::GetProcAddress(hModule, lpProcName);
}

BOOL WINAPI platform::SetDllDirectoryW(LPCWSTR lpPathName) {
    return ::SetDllDirectoryW(lpPathName);
}

DWORD WINAPI platform::GetCurrentThreadId() {
    return ::GetCurrentThreadId();
}

DWORD WINAPI platform::WaitForMultipleObjectsEx(DWORD nCount, const HANDLE* lpHandles,
                                                BOOL bWaitAll, DWORD dwMilliseconds,
                                                BOOL bAlertable) {
    return ::WaitForMultipleObjectsEx(nCount, lpHandles, bWaitAll, dwMilliseconds, bAlertable);
}
