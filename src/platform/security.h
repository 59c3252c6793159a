// advapi32: the security descriptor of a file or folder.
#pragma once

#include "platform/types.h"

namespace platform {

// Gives a self-relative security descriptor; with a buffer too small, FALSE with
// ERROR_INSUFFICIENT_BUFFER and the size needed.
BOOL WINAPI GetFileSecurityW(LPCWSTR lpFileName, SECURITY_INFORMATION RequestedInformation,
                             PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength,
                             LPDWORD lpnLengthNeeded);

} // namespace platform
