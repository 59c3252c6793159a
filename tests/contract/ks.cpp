// Contract cases of SetupAPI and kernel streaming: the render interfaces the driver channel walks
// and the property requests it sends the virtual device's filter. Wine has no KS render filter, so
// the cases that need one run on the simulated machine alone.
#include "audio_fixture.h"
#include "contract.h"

#include "platform/guids.h"
#include "platform/kernel.h"
#include "platform/ks.h"
#include "platform/setupapi.h"

#include <cstddef>
#include <vector>

namespace {

// The fixed part of the detail record, which its cbSize must give: 8 bytes on 64-bit Windows.
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8);

class SetupApi : public ::testing::Test {
  protected:
    void SetUp() override {
        paths = contract::audio::AddRenderInterfaces();
        set = platform::SetupDiGetClassDevsW(&platform::KSCATEGORY_RENDER, nullptr, nullptr,
                                             DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        ASSERT_NE(set, static_cast<HDEVINFO>(INVALID_HANDLE_VALUE));
        data.cbSize = sizeof(data);
    }
    void TearDown() override { EXPECT_TRUE(platform::SetupDiDestroyDeviceInfoList(set)); }
    BOOL Enumerate(DWORD index) {
        return platform::SetupDiEnumDeviceInterfaces(set, nullptr, &platform::KSCATEGORY_RENDER,
                                                     index, &data);
    }

    std::vector<platform::WideString> paths;
    HDEVINFO set = nullptr;
    SP_DEVICE_INTERFACE_DATA data{};
};

TEST_F(SetupApi, EnumerationEndsWithNoMoreItems) {
    DWORD index = 0;
    while (Enumerate(index)) {
        EXPECT_TRUE(platform::SameGuid(data.InterfaceClassGuid, platform::KSCATEGORY_RENDER));
        ++index;
    }
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(index, paths.size());
}

TEST_F(SetupApi, InterfaceDataNeedsItsSize) {
    contract::ExpectMisuse();
    data.cbSize = sizeof(data) - 4;
    EXPECT_FALSE(Enumerate(0));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// First the size, then the record: the caller sets cbSize to the fixed part (8 on 64-bit).
TEST_F(SetupApi, DetailIsReadInTwoCalls) {
    CONTRACT_SIM_ONLY("SetupDiGetDeviceInterfaceDetailW on learn.microsoft.com");
    ASSERT_TRUE(Enumerate(0));
    DWORD required = 0;
    EXPECT_FALSE(
        platform::SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    const DWORD size = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                          (paths[0].size() + 1) * sizeof(WCHAR));
    ASSERT_EQ(required, size);
    std::vector<BYTE> buffer(required);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
    contract::ExpectMisuse();
    detail->cbSize = 6;
    EXPECT_FALSE(
        platform::SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required, nullptr, nullptr));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    ASSERT_TRUE(
        platform::SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required, nullptr, nullptr));
    EXPECT_EQ(platform::WideString(detail->DevicePath), paths[0]);
}

// As the driver channel opens a filter.
HANDLE Open(const WCHAR* path) {
    return platform::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(KernelStreaming, PathWithoutAFilterDoesNotOpen) {
    EXPECT_EQ(Open(WIDE("\\\\?\\root#media#9999#{no-such-filter}")), INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// IOCTL_KS_PROPERTY: a 24-byte KSPROPERTY in, the value out; the component id is 72 bytes.
TEST(KernelStreaming, FilterAnswersPropertyRequests) {
    CONTRACT_SIM_ONLY("IOCTL_KS_PROPERTY and KSPROPERTY_GENERAL_COMPONENTID on "
                      "learn.microsoft.com");
    auto paths = contract::audio::AddRenderInterfaces();
    HANDLE filter =
        platform::CreateFileW(paths[0].c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(filter, INVALID_HANDLE_VALUE);
    platform::KSPROPERTY property{platform::KSPROPSETID_General,
                                  platform::KSPROPERTY_GENERAL_COMPONENTID, KSPROPERTY_TYPE_GET};
    platform::KSCOMPONENTID id{};
    DWORD returned = 0;
    EXPECT_TRUE(platform::DeviceIoControl(filter, IOCTL_KS_PROPERTY, &property, sizeof(property),
                                          &id, sizeof(id), &returned, nullptr));
    EXPECT_EQ(returned, sizeof(id));
    EXPECT_FALSE(platform::DeviceIoControl(filter, IOCTL_KS_PROPERTY, &property, sizeof(property),
                                           &id, 4, &returned, nullptr));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    property.Id = 99;
    EXPECT_FALSE(platform::DeviceIoControl(filter, IOCTL_KS_PROPERTY, &property, sizeof(property),
                                           &id, sizeof(id), &returned, nullptr));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));
    EXPECT_TRUE(platform::CloseHandle(filter));
    contract::ExpectMisuse();
    EXPECT_FALSE(platform::DeviceIoControl(filter, IOCTL_KS_PROPERTY, &property, sizeof(property),
                                           &id, sizeof(id), &returned, nullptr));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

} // namespace
