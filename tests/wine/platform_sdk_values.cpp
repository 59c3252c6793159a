// The platform identifiers and records the project declares itself (platform/guids.h,
// platform/ks.h) against the SDK's own, on the Windows build: a wrong digit there would pass every
// simulated test and fail only on Windows. The numeric constants of platform/host_types.h are
// checked at compile time (host_types_check in this folder's CMakeLists.txt).
#include "platform/guids.h"
#include "platform/ks.h"

#include <gtest/gtest.h>

namespace {

// The host build's fallback values of the kernel-streaming codes, against the SDK's macros.
static_assert(IOCTL_KS_PROPERTY == 0x002F0003);
static_assert(KSPROPERTY_TYPE_GET == 0x00000001);
static_assert(KSPROPERTY_TYPE_SET == 0x00000002);
static_assert(platform::KSPROPERTY_GENERAL_COMPONENTID == ::KSPROPERTY_GENERAL_COMPONENTID);
static_assert(sizeof(platform::KSPROPERTY) == sizeof(::KSPROPERTY));
static_assert(alignof(platform::KSPROPERTY) == alignof(::KSPROPERTY));
static_assert(sizeof(platform::KSCOMPONENTID) == sizeof(::KSCOMPONENTID));

TEST(SdkValues, CoreAudioIdentifiersAreTheSdks) {
    EXPECT_TRUE(platform::SameGuid(platform::IID_IUnknown, __uuidof(IUnknown)));
    EXPECT_TRUE(
        platform::SameGuid(platform::IID_IAudioEndpointVolume, __uuidof(IAudioEndpointVolume)));
    EXPECT_TRUE(platform::SameGuid(platform::IID_IAudioEndpointVolumeCallback,
                                   __uuidof(IAudioEndpointVolumeCallback)));
    EXPECT_TRUE(
        platform::SameGuid(platform::IID_IMMDeviceEnumerator, __uuidof(IMMDeviceEnumerator)));
    EXPECT_TRUE(
        platform::SameGuid(platform::CLSID_MMDeviceEnumerator, __uuidof(MMDeviceEnumerator)));
    EXPECT_TRUE(platform::SameGuid(platform::GUID_NULL, GUID{}));
}

TEST(SdkValues, KernelStreamingIdentifiersAreTheSdks) {
    const GUID render = {STATIC_KSCATEGORY_RENDER};
    const GUID general = {STATIC_KSPROPSETID_General};
    EXPECT_TRUE(platform::SameGuid(platform::KSCATEGORY_RENDER, render));
    EXPECT_TRUE(platform::SameGuid(platform::KSPROPSETID_General, general));
}

} // namespace
