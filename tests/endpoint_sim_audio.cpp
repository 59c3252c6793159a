// The simulated audio system's promises that the mirroring relies on: notifications on its own
// threads, in order, with the caller's context and the channel layout of Windows; unregistration
// that waits for a running callback; reference misuse and removed devices made visible.
#include "endpoint_fixture.h"

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>

namespace endpoint_test {
namespace {

struct Seen {
    std::string thread;
    GUID context;
    BOOL muted;
    float masterLevel;
    std::vector<float> channelLevels;
};

class RecordingCallback final : public IAudioEndpointVolumeCallback {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override {
        const float* levels = data->afChannelVolumes;
        {
            std::lock_guard<std::mutex> guard(lock);
            seen.push_back({sim::ThreadName(), data->guidEventContext, data->bMuted,
                            data->fMasterVolume,
                            std::vector<float>(levels, levels + data->nChannels)});
        }
        if (hook) {
            hook();
        }
        return S_OK;
    }
    std::vector<Seen> Notifications() {
        std::lock_guard<std::mutex> guard(lock);
        return seen;
    }

    std::atomic<int> refs{1};
    std::function<void()> hook;
    std::mutex lock;
    std::vector<Seen> seen;
};

const platform::WideString DeviceId = WIDE("{0.0.0.00000000}.{device}");

class SimAudioTest : public EndpointTest {
  protected:
    void SetUp() override {
        EndpointTest::SetUp();
        AddDevice(WIDE("Device"), DeviceId, {1.0f, 1.0f, 1.0f});
        device = Bind(WIDE("Device"), NoName);
        volume = device->endpointVolume.get();
    }
    void TearDown() override {
        device.reset();
        EndpointTest::TearDown();
    }
    BoundEndpoint device;
    IAudioEndpointVolume* volume = nullptr;
};

TEST_F(SimAudioTest, NotificationCarriesContextStateAndExactlyItsChannels) {
    RecordingCallback callback;
    ASSERT_EQ(volume->RegisterControlChangeNotify(&callback), S_OK);
    EXPECT_EQ(callback.refs, 2); // as Windows, the registration holds a reference
    const GUID context = {0xABCDEF01, 0x2345, 0x6789, {1, 2, 3, 4, 5, 6, 7, 8}};
    ASSERT_EQ(sim::audio::UserSetChannelLevel(DeviceId, 2, 0.5f, context), S_OK);
    ASSERT_EQ(volume->SetMute(TRUE, nullptr), S_OK);
    ASSERT_TRUE(sim::audio::WaitIdle());
    std::vector<Seen> seen = callback.Notifications();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(platform::SameGuid(seen[0].context, context));
    EXPECT_EQ(seen[0].channelLevels, (std::vector<float>{1.0f, 1.0f, 0.5f}));
    EXPECT_EQ(seen[0].muted, FALSE);
    EXPECT_TRUE(platform::SameGuid(seen[1].context, platform::GUID_NULL));
    EXPECT_EQ(seen[1].muted, TRUE);
    for (auto& notification : seen) {
        EXPECT_EQ(notification.thread.rfind("audio-", 0), 0u) << notification.thread;
    }
    ASSERT_EQ(volume->UnregisterControlChangeNotify(&callback), S_OK);
    EXPECT_EQ(callback.refs, 1);
    EXPECT_EQ(volume->UnregisterControlChangeNotify(&callback), E_INVALIDARG);
}

TEST_F(SimAudioTest, NotificationsKeepTheOrderOfTheChanges) {
    RecordingCallback callback;
    ASSERT_EQ(volume->RegisterControlChangeNotify(&callback), S_OK);
    std::vector<float> levels;
    for (int i = 0; i <= 64; ++i) {
        levels.push_back(static_cast<float>(i) / 64.0f);
        ASSERT_EQ(sim::audio::UserSetMasterLevel(DeviceId, levels.back()), S_OK);
    }
    ASSERT_TRUE(sim::audio::WaitIdle());
    std::vector<float> seen;
    for (auto& notification : callback.Notifications()) {
        seen.push_back(notification.masterLevel);
    }
    EXPECT_EQ(seen, levels);
    volume->UnregisterControlChangeNotify(&callback);
}

TEST_F(SimAudioTest, UnregisterWaitsForTheRunningCallback) {
    RecordingCallback callback;
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> blocked{false};
    callback.hook = [&] {
        if (!blocked.exchange(true)) {
            entered.set_value();
            released.wait();
        }
    };
    ASSERT_EQ(volume->RegisterControlChangeNotify(&callback), S_OK);
    ASSERT_EQ(sim::audio::UserSetMute(DeviceId, TRUE), S_OK);
    ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    std::atomic<bool> returned{false};
    std::thread unregister([&] {
        EXPECT_EQ(volume->UnregisterControlChangeNotify(&callback), S_OK);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned);
    release.set_value();
    unregister.join();
    ASSERT_EQ(sim::audio::UserSetMute(DeviceId, FALSE), S_OK);
    ASSERT_TRUE(sim::audio::WaitIdle());
    EXPECT_EQ(callback.Notifications().size(), 1u);
}

// One callback unregisters another of the same endpoint from the audio thread: no deadlock, and the
// other is not called for a change that was already queued.
TEST_F(SimAudioTest, UnregisterFromAnotherCallbackDoesNotDeadlock) {
    RecordingCallback first;
    RecordingCallback second;
    first.hook = [&] { EXPECT_EQ(volume->UnregisterControlChangeNotify(&second), S_OK); };
    ASSERT_EQ(volume->RegisterControlChangeNotify(&first), S_OK);
    ASSERT_EQ(volume->RegisterControlChangeNotify(&second), S_OK);
    ASSERT_EQ(sim::audio::UserSetMute(DeviceId, TRUE), S_OK);
    ASSERT_TRUE(sim::audio::WaitIdle());
    EXPECT_EQ(first.Notifications().size(), 1u);
    EXPECT_TRUE(second.Notifications().empty());
    volume->UnregisterControlChangeNotify(&first);
}

// Callbacks created and destroyed while changes keep arriving: none may be called once its
// destruction has returned (the sanitizer build sees any such call).
TEST_F(SimAudioTest, NoDeliveryAfterUnregistrationReturns) {
    AddDevice(WIDE("Other"), VirtualId);
    BoundEndpoint other = Bind(WIDE("Other"), NoName);
    std::atomic<bool> stop{false};
    std::thread user([&] {
        for (int i = 0; !stop; i = (i + 1) % 64) {
            sim::audio::UserSetMasterLevel(DeviceId, static_cast<float>(i) / 64.0f);
        }
    });
    for (int i = 0; i < 200; ++i) {
        delete new VolumeChange(device.get(), other.get());
    }
    stop = true;
    user.join();
    ASSERT_TRUE(sim::audio::WaitIdle());
    EXPECT_EQ(sim::audio::Registrations(DeviceId), 0u);
    other.reset();
}

TEST_F(SimAudioTest, RemovedDeviceInvalidatesItsObjects) {
    ASSERT_TRUE(sim::audio::RemoveRenderDevice(DeviceId));
    float level = -1.0f;
    EXPECT_EQ(volume->GetMasterVolumeLevelScalar(&level), sim::audio::DeviceInvalidated);
    EXPECT_EQ(level, -1.0f);
    EXPECT_EQ(volume->SetMute(TRUE, nullptr), sim::audio::DeviceInvalidated);
    IMMDevice* reopened = reinterpret_cast<IMMDevice*>(0x1);
    EXPECT_EQ(enumerator->GetDevice(DeviceId.c_str(), &reopened), E_NOTFOUND);
    EXPECT_EQ(reopened, nullptr);
    EXPECT_EQ(BindFailure(WIDE("Device"), NoName), E_FAIL);
}

// Misuse by the code under test must surface as faults, not pass silently.
// As ole32: the calling thread needs an apartment, and only the device enumerator is made.
TEST(SimAudioCom, EnumeratorNeedsAnApartment) {
    auto create = [](REFCLSID clsid, void** out) {
        return platform::CoCreateInstance(clsid, nullptr, CLSCTX_ALL,
                                          platform::IID_IMMDeviceEnumerator, out);
    };
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(create(platform::CLSID_MMDeviceEnumerator, &out), static_cast<HRESULT>(0x800401F0));
    EXPECT_EQ(out, nullptr);
    ASSERT_EQ(platform::CoInitialize(nullptr), S_OK);
    sim::audio::FailCall(WIDE(""), "CoCreateInstance", E_OUTOFMEMORY, 1);
    EXPECT_EQ(create(platform::CLSID_MMDeviceEnumerator, &out), E_OUTOFMEMORY);
    EXPECT_EQ(create(platform::IID_IMMDeviceEnumerator, &out), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(sim::audio::LiveObjects(), 0u);
    platform::CoUninitialize();
}

TEST(SimAudioFaults, OverReleaseAndUseAfterReleaseAreReported) {
    ASSERT_EQ(platform::CoInitialize(nullptr), S_OK);
    IMMDeviceEnumerator* enumerator = nullptr;
    ASSERT_EQ(platform::CoCreateInstance(platform::CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                         platform::IID_IMMDeviceEnumerator,
                                         reinterpret_cast<void**>(&enumerator)),
              S_OK);
    EXPECT_EQ(sim::audio::LiveObjects("IMMDeviceEnumerator"), 1u);
    EXPECT_EQ(enumerator->Release(), 0u);
    EXPECT_EQ(sim::audio::LiveObjects(), 0u);
    EXPECT_TRUE(sim::Faults().empty());
    enumerator->Release();
    IMMDevice* device = nullptr;
    enumerator->GetDevice(WIDE("x"), &device);
    EXPECT_EQ(sim::Faults(),
              (std::vector<std::string>{"Release of released IMMDeviceEnumerator",
                                        "GetDevice on released IMMDeviceEnumerator"}));
    platform::CoUninitialize();
}

TEST(SimAudioFaults, ReleasingAVolumeWithARegisteredCallbackIsReported) {
    ASSERT_EQ(platform::CoInitialize(nullptr), S_OK);
    sim::audio::AddRenderDevice({.description = WIDE("Device"), .module = DeviceId});
    platform::ComPtr<IMMDeviceEnumerator> enumerator;
    ASSERT_EQ(platform::CoCreateInstance(platform::CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                         platform::IID_IMMDeviceEnumerator, enumerator.put_void()),
              S_OK);
    BoundEndpoint device(BindEndpoint(WIDE("Device"), NoName, enumerator.get()));
    RecordingCallback callback;
    ASSERT_EQ(device->endpointVolume->RegisterControlChangeNotify(&callback), S_OK);
    device.reset();
    EXPECT_EQ(sim::Faults(),
              std::vector<std::string>{"Release of IAudioEndpointVolume " + sim::Narrow(DeviceId) +
                                       " with a callback still registered"});
    EXPECT_EQ(sim::audio::Registrations(DeviceId), 0u);
    enumerator.reset();
    platform::CoUninitialize();
}

} // namespace
} // namespace endpoint_test
