// The simulated machine's render device arrival and removal, which the endpoint sync's rebuilds
// answer: the device is in DirectSound's list, Core Audio and the KS interfaces, or in none of
// them, by the time the render-class event reaches its recipient.
#include "endpoint_sync_devices.h"

#include "driver/ks_channel.h"
#include "platform/com.h"
#include "platform/dsound.h"
#include "platform/guids.h"
#include "platform/kernel.h"
#include "platform/user32.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace sync_test;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// What a recipient of the event finds at the moment it is told.
struct Seen {
    DWORD eventType;
    bool listed;   // in DirectSound's list
    bool endpoint; // a present Core Audio endpoint
    bool filter;   // the virtual device's KS filter can be found
};

BOOL CALLBACK ListVirtual(LPGUID, LPCWSTR, LPCWSTR module, LPVOID context) {
    if (module && platform::WideString(module) == VirtualId) {
        *static_cast<bool*>(context) = true;
    }
    return TRUE;
}

class RenderDevicePlugging : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::SetServiceDeviceEventSink([this](HANDLE recipient, DWORD eventType) {
            EXPECT_EQ(recipient, Recipient());
            bool listed = false;
            platform::DirectSoundEnumerateW(ListVirtual, &listed);
            HANDLE filter = FindVirtualRenderFilter(VirtualDeviceProductGuid);
            bool found = filter != INVALID_HANDLE_VALUE;
            if (found) {
                platform::CloseHandle(filter);
            }
            seen_.push_back(
                {eventType, listed, sim::audio::ReadEndpoint(VirtualId).present, found});
        });
        DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = platform::KSCATEGORY_RENDER;
        registration_ = platform::RegisterDeviceNotificationW(Recipient(), &filter,
                                                              DEVICE_NOTIFY_SERVICE_HANDLE);
        ASSERT_NE(registration_, nullptr);
    }

    void TearDown() override {
        platform::UnregisterDeviceNotification(registration_);
        sim::SetServiceDeviceEventSink(nullptr);
        EXPECT_THAT(sim::Faults(), IsEmpty());
    }

    static HANDLE Recipient() { return reinterpret_cast<HANDLE>(std::uintptr_t{0x5C0DE}); }

    HDEVNOTIFY registration_ = nullptr;
    std::vector<Seen> seen_;
};

TEST_F(RenderDevicePlugging, ArrivalIsCompleteWhenTheEventArrives) {
    PlugVirtual();
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].eventType, static_cast<DWORD>(DBT_DEVICEARRIVAL));
    EXPECT_TRUE(seen_[0].listed);
    EXPECT_TRUE(seen_[0].endpoint);
    EXPECT_TRUE(seen_[0].filter);
    EXPECT_THAT(sim::JournalWith("PlugRenderDevice"),
                ElementsAre("PlugRenderDevice " + Virtual + " " + sim::Narrow(VirtualPath) + " [" +
                            sim::ThreadName() + "]"));
}

TEST_F(RenderDevicePlugging, RemovalIsCompleteWhenTheEventArrives) {
    PlugVirtual();
    ASSERT_TRUE(sim::audio::UnplugRenderDevice(VirtualId, DBT_DEVICEQUERYREMOVE));
    ASSERT_EQ(seen_.size(), 2u);
    EXPECT_EQ(seen_[1].eventType, static_cast<DWORD>(DBT_DEVICEQUERYREMOVE));
    EXPECT_FALSE(seen_[1].listed);
    EXPECT_FALSE(seen_[1].endpoint);
    EXPECT_FALSE(seen_[1].filter);
}

TEST_F(RenderDevicePlugging, UnpluggingAnAbsentDeviceRaisesNothing) {
    EXPECT_FALSE(sim::audio::UnplugRenderDevice(VirtualId));
    PlugVirtual();
    ASSERT_TRUE(sim::audio::UnplugRenderDevice(VirtualId));
    EXPECT_FALSE(sim::audio::UnplugRenderDevice(VirtualId));
    EXPECT_EQ(seen_.size(), 2u);
    EXPECT_EQ(sim::JournalWith("UnplugRenderDevice").size(), 1u);
}

// Plugged back, the device is a new endpoint with the settings it arrives with; objects of the
// old one answer as invalidated and can still be released.
TEST_F(RenderDevicePlugging, ObjectsOfTheRemovedEndpointOnlyRelease) {
    ASSERT_EQ(platform::CoInitialize(nullptr), S_OK);
    PlugVirtual(VirtualDevice(0.5f));
    {
        platform::ComPtr<IMMDeviceEnumerator> enumerator;
        ASSERT_EQ(platform::CoCreateInstance(platform::CLSID_MMDeviceEnumerator, nullptr,
                                             CLSCTX_ALL, platform::IID_IMMDeviceEnumerator,
                                             enumerator.put_void()),
                  S_OK);
        platform::ComPtr<IMMDevice> device;
        ASSERT_EQ(enumerator->GetDevice(VirtualId.c_str(), device.put()), S_OK);
        platform::ComPtr<IAudioEndpointVolume> volume;
        ASSERT_EQ(device->Activate(platform::IID_IAudioEndpointVolume, CLSCTX_ALL, nullptr,
                                   volume.put_void()),
                  S_OK);
        ASSERT_TRUE(sim::audio::UnplugRenderDevice(VirtualId));
        float level = -1.0f;
        EXPECT_EQ(volume->GetMasterVolumeLevelScalar(&level), sim::audio::DeviceInvalidated);
        EXPECT_EQ(volume->SetMute(TRUE, nullptr), sim::audio::DeviceInvalidated);
        PlugVirtual(VirtualDevice(0.75f));
        EXPECT_EQ(volume->GetMasterVolumeLevelScalar(&level), sim::audio::DeviceInvalidated);
        EXPECT_FLOAT_EQ(sim::audio::ReadEndpoint(VirtualId).masterLevel, 0.75f);
    }
    EXPECT_EQ(sim::audio::LiveObjects(), 0u);
    platform::CoUninitialize();
}

} // namespace
