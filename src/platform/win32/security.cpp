// advapi32 security forwards: each seam call of platform/security.h passed unchanged to Windows.
#include "platform/security.h"

BOOL WINAPI platform::GetFileSecurityW(LPCWSTR lpFileName,
                                       SECURITY_INFORMATION RequestedInformation,
                                       PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength,
                                       LPDWORD lpnLengthNeeded) {
    return ::GetFileSecurityW(lpFileName, RequestedInformation, pSecurityDescriptor, nLength,
                              lpnLengthNeeded);
}
