// The Windows types of the logic: the SDK's own on Windows, a layout-compatible subset elsewhere.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include "platform/host_types.h"
#endif

#include <cstring>
#include <string>

// Wide literals: WCHAR is wchar_t on Windows and char16_t elsewhere, both 16 bits.
#ifdef _WIN32
#define WIDE(text) L##text
#else
#define WIDE(text) u##text
#endif

static_assert(sizeof(WCHAR) == 2, "WCHAR must be a 16-bit code unit");

namespace platform {

using WideString = std::basic_string<WCHAR>;

// Equality of all 16 bytes, as the platform compares GUIDs.
inline bool SameGuid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

} // namespace platform
