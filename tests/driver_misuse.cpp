// The simulated filters report misuse of the platform calls that the channel relies on.
#include "platform/guids.h"
#include "platform/kernel.h"
#include "platform/ks.h"
#include "platform/setupapi.h"

#include "driver_fixture.h"

namespace {

using driver_test::PathOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(DriverMisuse, RequestOnAClosedFilterHandle) {
    sim::ks::AddInterface(sim::ks::VirtualRenderInterface(PathOf("v")));
    HANDLE filter = platform::CreateFileW(PathOf("v").c_str(), GENERIC_READ, 3, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(filter, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(platform::CloseHandle(filter));

    platform::KSPROPERTY property{};
    DWORD value = 0;
    DWORD returned = 0;
    EXPECT_FALSE(platform::DeviceIoControl(filter, IOCTL_KS_PROPERTY, &property, sizeof(property),
                                           &value, 4, &returned, nullptr));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_THAT(sim::Faults(), ElementsAre(HasSubstr("not an open filter")));
}

TEST(DriverMisuse, DetailRecordWithAWrongCbSize) {
    sim::ks::AddInterface(sim::ks::VirtualRenderInterface(PathOf("v")));
    HDEVINFO set = platform::SetupDiGetClassDevsW(&platform::KSCATEGORY_RENDER, nullptr, nullptr,
                                                  DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    ASSERT_TRUE(platform::SetupDiEnumDeviceInterfaces(set, nullptr, &platform::KSCATEGORY_RENDER, 0,
                                                      &data));
    alignas(8) BYTE buffer[64] = {};
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer);
    detail->cbSize = 6;

    EXPECT_FALSE(platform::SetupDiGetDeviceInterfaceDetailW(set, &data, detail, sizeof(buffer),
                                                            nullptr, nullptr));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    EXPECT_TRUE(platform::SetupDiDestroyDeviceInfoList(set));
    EXPECT_THAT(sim::Faults(), ElementsAre(HasSubstr("cbSize is 6")));
}

TEST(DriverMisuse, InterfaceDataWithAWrongCbSize) {
    sim::ks::AddInterface(sim::ks::VirtualRenderInterface(PathOf("v")));
    HDEVINFO set = platform::SetupDiGetClassDevsW(&platform::KSCATEGORY_RENDER, nullptr, nullptr,
                                                  DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = 28;

    EXPECT_FALSE(platform::SetupDiEnumDeviceInterfaces(set, nullptr, &platform::KSCATEGORY_RENDER,
                                                       0, &data));
    EXPECT_TRUE(platform::SetupDiDestroyDeviceInfoList(set));
    EXPECT_THAT(sim::Faults(), ElementsAre(HasSubstr("cbSize is not its size")));
}

} // namespace
