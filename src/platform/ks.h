// Kernel-streaming declarations the driver channel needs, the same on both builds. The SDK's
// ks.h is not used: these few records and codes are the platform's published ABI.
#pragma once

#include "platform/types.h"

namespace platform {

// KSPROPERTY (KSIDENTIFIER): 24 bytes, 8-byte aligned.
struct alignas(8) KSPROPERTY {
    GUID Set;
    ULONG Id;
    ULONG Flags;
};
static_assert(sizeof(KSPROPERTY) == 24);

struct KSCOMPONENTID {
    GUID Manufacturer;
    GUID Product;
    GUID Component;
    GUID Name;
    ULONG Version;
    ULONG Revision;
};
static_assert(sizeof(KSCOMPONENTID) == 72);

constexpr ULONG KSPROPERTY_GENERAL_COMPONENTID = 0;

} // namespace platform

// On Windows the Core Audio headers bring in the SDK's ks.h, which defines these codes as macros
// of the same values; elsewhere they are defined here, so both builds use the macro names.
#ifndef IOCTL_KS_PROPERTY
#define IOCTL_KS_PROPERTY 0x002F0003
#endif
#ifndef KSPROPERTY_TYPE_GET
#define KSPROPERTY_TYPE_GET 0x00000001
#endif
#ifndef KSPROPERTY_TYPE_SET
#define KSPROPERTY_TYPE_SET 0x00000002
#endif
