// Shared set-up of the endpoint suites: render devices on the simulated audio system, an enumerator
// and binding helpers. Every test ends with its notifications delivered, no Core Audio object
// alive and no fault noticed by the machine.
#pragma once

#include "endpoint/endpoint_device.h"
#include "endpoint/volume_change.h"
#include "platform/com.h"
#include "platform/guids.h"
#include "platform/handle.h"
#include "platform/sim/audio.h"
#include "platform/sim/machine.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace endpoint_test {

inline const platform::WideString HardwareId = WIDE("{0.0.0.00000000}.{hw-codec}");
inline const platform::WideString VirtualId = WIDE("{0.0.0.00000000}.{orvane}");
inline const WCHAR* const HardwarePrimary = WIDE("Realtek High Definition Audio");
inline const WCHAR* const HardwareSecondary = WIDE("Speakers");
inline const WCHAR* const VirtualPrimary = WIDE("Speakers (Orvane)");
inline const WCHAR* const NoName = WIDE("");

struct RecordDeleter {
    void operator()(EndpointDevice* record) const { DestroyEndpointDevice(record); }
};
using BoundEndpoint = std::unique_ptr<EndpointDevice, RecordDeleter>;

// Journal entries without their thread tag.
inline std::vector<std::string> Untagged(const std::vector<std::string>& entries) {
    std::vector<std::string> result;
    for (auto entry : entries) {
        result.push_back(entry.substr(0, entry.rfind(" [")));
    }
    return result;
}

inline std::string Context(const GUID& guid) {
    return "ctx=" + sim::FormatGuid(guid);
}
// The service's event context, written out: every write must carry exactly this GUID.
inline const std::string SyncContext = "ctx={B7F24C4A-2856-4AC1-B471-33F151EED165}";

class EndpointTest : public ::testing::Test {
  public:
    void SetUp() override {
        ASSERT_EQ(platform::CoInitialize(nullptr), S_OK);
        ASSERT_EQ(platform::CoCreateInstance(platform::CLSID_MMDeviceEnumerator, nullptr,
                                             CLSCTX_ALL, platform::IID_IMMDeviceEnumerator,
                                             enumerator.put_void()),
                  S_OK);
    }

    void TearDown() override {
        enumerator.reset();
        platform::CoUninitialize();
        EXPECT_TRUE(sim::audio::WaitIdle());
        EXPECT_EQ(sim::audio::LiveObjects(), 0u);
        EXPECT_EQ(sim::Faults(), std::vector<std::string>());
    }

    // A null description adds an entry without one.
    static void AddDevice(const WCHAR* description, const platform::WideString& id,
                          std::vector<float> channels = {1.0f, 1.0f}) {
        sim::audio::RenderDevice device;
        if (description) {
            device.description = description;
        }
        device.module = id;
        device.channelLevels = std::move(channels);
        sim::audio::AddRenderDevice(device);
    }

    BoundEndpoint Bind(const WCHAR* primary, const WCHAR* secondary) {
        return BoundEndpoint(BindEndpoint(primary, secondary, enumerator.get()));
    }

    // The HRESULT a failing bind throws; S_OK (and a test failure) when it binds.
    HRESULT BindFailure(const WCHAR* primary, const WCHAR* secondary) {
        try {
            BoundEndpoint bound(BindEndpoint(primary, secondary, enumerator.get()));
            ADD_FAILURE() << "bound " << sim::Narrow(bound->endpointId);
        } catch (HRESULT hr) {
            return hr;
        }
        return S_OK;
    }

    platform::ComPtr<IMMDeviceEnumerator> enumerator;
};

} // namespace endpoint_test
