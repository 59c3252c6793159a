// Contract cases of Core Audio: the device enumerator, IMMDevice and the endpoint volume the
// mirroring reads, writes and listens to.
#include "audio_fixture.h"
#include "contract.h"

#include "platform/com.h"
#include "platform/dsound.h"
#include "platform/guids.h"
#include "platform/handle.h"
#include "platform/kernel.h"

#include <atomic>
#include <tuple>
#include <vector>

namespace {

const GUID Context = {0x5A17E5E7, 0x0C0A, 0x4D1E, {0x9E, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}};
constexpr float Poison = 123.0f;

class CoreAudio : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(platform::CoInitialize(nullptr), S_OK);
        ASSERT_EQ(platform::CoCreateInstance(platform::CLSID_MMDeviceEnumerator, nullptr,
                                             CLSCTX_ALL, platform::IID_IMMDeviceEnumerator,
                                             enumerator.put_void()),
                  S_OK);
        id = contract::audio::RenderEndpointId();
        ASSERT_EQ(enumerator->GetDevice(id.c_str(), device.put()), S_OK);
        ASSERT_EQ(Activate(volume), S_OK);
    }
    void TearDown() override {
        volume.reset();
        device.reset();
        enumerator.reset();
        platform::CoUninitialize();
    }
    HRESULT Activate(platform::ComPtr<IAudioEndpointVolume>& out) {
        return device->Activate(platform::IID_IAudioEndpointVolume, CLSCTX_ALL, nullptr,
                                out.put_void());
    }
    float Level(int channel = -1) { // Poison when the read fails
        float level = Poison;
        HRESULT hr = channel < 0
                         ? volume->GetMasterVolumeLevelScalar(&level)
                         : volume->GetChannelVolumeLevelScalar(static_cast<UINT>(channel), &level);
        return hr == S_OK ? level : Poison;
    }

    platform::ComPtr<IMMDeviceEnumerator> enumerator;
    platform::WideString id;
    platform::ComPtr<IMMDevice> device;
    platform::ComPtr<IAudioEndpointVolume> volume;
};

TEST_F(CoreAudio, GetDeviceOfAnUnknownIdIsNotFound) {
    CONTRACT_WINE_DIFFERS("E_NOTFOUND and a null device (IMMDeviceEnumerator::GetDevice on "
                          "learn.microsoft.com); Wine 8 answers E_INVALIDARG and leaves the out "
                          "parameter as it was");
    auto* poison = reinterpret_cast<IMMDevice*>(0x1);
    IMMDevice* other = poison;
    EXPECT_EQ(enumerator->GetDevice(WIDE("{0.0.0.00000000}.{no-such-device}"), &other),
              contract::WindowsOrWine(E_NOTFOUND, E_INVALIDARG));
    EXPECT_EQ(other, contract::WindowsOrWine<IMMDevice*>(nullptr, poison));
}

TEST_F(CoreAudio, ActivateGivesTheEndpointVolumeOnlyAndNullOutsAreRefused) {
    void* other = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(device->Activate(platform::IID_IMMDeviceEnumerator, CLSCTX_ALL, nullptr, &other),
              E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(device->Activate(platform::IID_IAudioEndpointVolume, CLSCTX_ALL, nullptr, nullptr),
              E_POINTER);
    EXPECT_EQ(enumerator->GetDevice(id.c_str(), nullptr), E_POINTER);
}

// Each reference is counted: a leaked or over-released one shows in the counts.
TEST_F(CoreAudio, ReferenceCountsAreExact) {
    EXPECT_EQ(volume->AddRef(), 2u);
    EXPECT_EQ(volume->Release(), 1u);
    IAudioEndpointVolume* second = nullptr;
    ASSERT_EQ(device->Activate(platform::IID_IAudioEndpointVolume, CLSCTX_ALL, nullptr,
                               reinterpret_cast<void**>(&second)),
              S_OK);
    EXPECT_NE(second, volume.get());
    EXPECT_EQ(second->Release(), 0u);
}

// Wine 8's endpoint volume keeps no levels: it answers E_NOTIMPL to SetMasterVolumeLevelScalar,
// GetChannelCount and the channel calls, and 1.0 to GetMasterVolumeLevelScalar. Under Wine the
// case checks that answer and ends.
#define WINE_HAS_NO_LEVELS(page)                                                                   \
    CONTRACT_WINE_DIFFERS(page " on learn.microsoft.com; Wine 8 answers E_NOTIMPL");               \
    if (!contract::OnSim) {                                                                        \
        UINT count = 0;                                                                            \
        EXPECT_EQ(volume->SetMasterVolumeLevelScalar(0.25f, nullptr), E_NOTIMPL);                  \
        EXPECT_EQ(volume->GetChannelCount(&count), E_NOTIMPL);                                     \
        EXPECT_EQ(volume->SetChannelVolumeLevelScalar(0, 0.25f, nullptr), E_NOTIMPL);              \
        EXPECT_FLOAT_EQ(Level(), 1.0f);                                                            \
        return;                                                                                    \
    }

TEST_F(CoreAudio, MasterLevelOutsideZeroToOneIsRefused) {
    WINE_HAS_NO_LEVELS("IAudioEndpointVolume::SetMasterVolumeLevelScalar");
    EXPECT_EQ(volume->SetMasterVolumeLevelScalar(1.5f, nullptr), E_INVALIDARG);
    EXPECT_EQ(volume->SetMasterVolumeLevelScalar(-0.25f, nullptr), E_INVALIDARG);
    EXPECT_FLOAT_EQ(Level(), 0.5f);
    EXPECT_EQ(volume->SetMasterVolumeLevelScalar(0.25f, &Context), S_OK);
    EXPECT_FLOAT_EQ(Level(), 0.25f);
    EXPECT_EQ(volume->GetMasterVolumeLevelScalar(nullptr), E_POINTER);
}

TEST_F(CoreAudio, ChannelsAreCountedAndBounded) {
    WINE_HAS_NO_LEVELS("IAudioEndpointVolume::GetChannelCount and SetChannelVolumeLevelScalar");
    UINT count = 0;
    ASSERT_EQ(volume->GetChannelCount(&count), S_OK);
    EXPECT_EQ(count, 2u);
    float level = Poison;
    EXPECT_EQ(volume->GetChannelVolumeLevelScalar(count, &level), E_INVALIDARG);
    EXPECT_EQ(level, Poison);
    EXPECT_EQ(volume->SetChannelVolumeLevelScalar(count, 0.5f, nullptr), E_INVALIDARG);
    EXPECT_EQ(volume->SetChannelVolumeLevelScalar(0, 1.5f, nullptr), E_INVALIDARG);
    EXPECT_EQ(volume->SetChannelVolumeLevelScalar(1, 0.25f, nullptr), S_OK);
    EXPECT_FLOAT_EQ(Level(1), 0.25f);
    EXPECT_EQ(volume->GetChannelCount(nullptr), E_POINTER);
    EXPECT_EQ(volume->GetChannelVolumeLevelScalar(0, nullptr), E_POINTER);
}

TEST_F(CoreAudio, MasterIsTheLoudestChannelAndScalesThem) {
    CONTRACT_UNVERIFIED("master at the loudest channel, channels scaled with it in the scalar "
                        "domain; the pages say only that a channel Set changes the endpoint's "
                        "level (the balance kept in dB is the variant endpoint-levels=decibel)");
    ASSERT_EQ(volume->SetChannelVolumeLevelScalar(0, 0.25f, nullptr), S_OK);
    EXPECT_FLOAT_EQ(Level(), 0.5f);
    ASSERT_EQ(volume->SetChannelVolumeLevelScalar(1, 0.125f, nullptr), S_OK);
    EXPECT_FLOAT_EQ(Level(), 0.25f);
    ASSERT_EQ(volume->SetMasterVolumeLevelScalar(1.0f, nullptr), S_OK);
    EXPECT_FLOAT_EQ(Level(0), 1.0f);
    EXPECT_FLOAT_EQ(Level(1), 0.5f);
}

TEST_F(CoreAudio, MuteAnswersWhetherItChanged) {
    BOOL muted = 7;
    ASSERT_EQ(volume->GetMute(&muted), S_OK);
    EXPECT_EQ(muted, FALSE);
    EXPECT_EQ(volume->SetMute(TRUE, &Context), S_OK);
    EXPECT_EQ(volume->SetMute(TRUE, &Context), S_FALSE);
    ASSERT_EQ(volume->GetMute(&muted), S_OK);
    EXPECT_EQ(muted, TRUE);
    EXPECT_EQ(volume->GetMute(nullptr), E_POINTER);
}

// Records each notification (its fixed part, its channel levels, the thread) and signals `called`.
class Recorder final : public IAudioEndpointVolumeCallback {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override {
        const float* levels = data->afChannelVolumes;
        seen.push_back({*data, {levels, levels + data->nChannels}, platform::GetCurrentThreadId()});
        platform::SetEvent(called.get());
        return S_OK;
    }
    struct Seen {
        AUDIO_VOLUME_NOTIFICATION_DATA data;
        std::vector<float> channels;
        DWORD thread;
    };
    std::atomic<ULONG> refs{1};
    platform::UniqueKernelHandle called{platform::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    std::vector<Seen> seen; // written by the audio system's thread, read once it is done
};

// Notifications follow changes made through any object of the endpoint, on a thread of the audio
// system, in order, and only for a Set that changed something.
TEST_F(CoreAudio, ChangesNotifyRegisteredCallbacks) {
    CONTRACT_SIM_ONLY("IAudioEndpointVolume::SetMute, SetMasterVolumeLevelScalar and "
                      "AUDIO_VOLUME_NOTIFICATION_DATA on learn.microsoft.com");
    Recorder recorder;
    ASSERT_EQ(volume->RegisterControlChangeNotify(&recorder), S_OK);
    EXPECT_EQ(recorder.refs, 2u);
    platform::ComPtr<IAudioEndpointVolume> other;
    ASSERT_EQ(Activate(other), S_OK);
    EXPECT_EQ(other->SetMute(FALSE, &Context), S_FALSE);
    EXPECT_EQ(other->SetMasterVolumeLevelScalar(0.5f, &Context), S_OK);
    EXPECT_EQ(other->SetMasterVolumeLevelScalar(0.25f, nullptr), S_OK);
    ASSERT_EQ(platform::WaitForSingleObject(recorder.called.get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(other->SetMute(TRUE, &Context), S_OK);
    ASSERT_EQ(platform::WaitForSingleObject(recorder.called.get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(volume->UnregisterControlChangeNotify(&recorder), S_OK);
    EXPECT_EQ(recorder.refs, 1u);
    EXPECT_EQ(volume->UnregisterControlChangeNotify(&recorder), E_INVALIDARG);
    ASSERT_EQ(recorder.seen.size(), 2u);
    EXPECT_TRUE(platform::SameGuid(recorder.seen[0].data.guidEventContext, platform::GUID_NULL));
    EXPECT_FLOAT_EQ(recorder.seen[0].data.fMasterVolume, 0.25f);
    EXPECT_EQ(recorder.seen[0].channels, (std::vector<float>{0.25f, 0.25f}));
    EXPECT_TRUE(platform::SameGuid(recorder.seen[1].data.guidEventContext, Context));
    EXPECT_EQ(recorder.seen[1].data.bMuted, TRUE);
    EXPECT_NE(recorder.seen[1].thread, platform::GetCurrentThreadId());
}

// Records each endpoint state change (id, state, thread) and signals `called`.
class Client final : public IMMNotificationClient {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR id, DWORD state) override {
        seen.push_back({id, state, platform::GetCurrentThreadId()});
        platform::SetEvent(called.get());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow, ERole, LPCWSTR) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override {
        return S_OK;
    }
    std::atomic<ULONG> refs{1};
    platform::UniqueKernelHandle called{platform::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    std::vector<std::tuple<platform::WideString, DWORD, DWORD>> seen; // id, state, thread
};

// The enumerator takes no reference on a client (RegisterEndpointNotificationCallback page).
TEST_F(CoreAudio, EndpointClientsRegisterWithoutAReference) {
    Client client;
    EXPECT_EQ(enumerator->RegisterEndpointNotificationCallback(nullptr), E_POINTER);
    ASSERT_EQ(enumerator->RegisterEndpointNotificationCallback(&client), S_OK);
    EXPECT_EQ(enumerator->UnregisterEndpointNotificationCallback(&client), S_OK);
    EXPECT_EQ(enumerator->UnregisterEndpointNotificationCallback(&client), E_NOTFOUND);
    EXPECT_EQ(client.refs, 1u);
}

BOOL CALLBACK CountEntry(LPGUID, LPCWSTR, LPCWSTR module, LPVOID context) {
    auto* search = static_cast<std::pair<platform::WideString, int>*>(context);
    search->second += module && search->first == module;
    return TRUE;
}

// A disabled endpoint keeps its id and tells its state, but DirectSound omits it and its volume
// is invalidated; volume objects of before stay so once it is enabled again.
TEST_F(CoreAudio, DisabledEndpointIsKnownButUnusable) {
    CONTRACT_SIM_ONLY("DEVICE_STATE_XXX Constants, IMMNotificationClient::OnDeviceStateChanged and "
                      "Audio Endpoint Builder Algorithm on learn.microsoft.com");
    Client client;
    ASSERT_EQ(enumerator->RegisterEndpointNotificationCallback(&client), S_OK);
    contract::audio::SetEndpointState(id, DEVICE_STATE_DISABLED);
    ASSERT_EQ(platform::WaitForSingleObject(client.called.get(), 10000), WAIT_OBJECT_0);
    DWORD state = 0;
    EXPECT_EQ(device->GetState(&state), S_OK);
    EXPECT_EQ(state, static_cast<DWORD>(DEVICE_STATE_DISABLED));
    std::pair<platform::WideString, int> search{id, 0};
    platform::DirectSoundEnumerateW(CountEntry, &search);
    EXPECT_EQ(search.second, 0);
    const HRESULT invalidated = static_cast<HRESULT>(0x88890004u);
    BOOL muted = Poison;
    EXPECT_EQ(volume->GetMute(&muted), invalidated);
    contract::audio::SetEndpointState(id, DEVICE_STATE_ACTIVE);
    ASSERT_EQ(platform::WaitForSingleObject(client.called.get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(volume->GetMute(&muted), invalidated);
    platform::ComPtr<IAudioEndpointVolume> other;
    EXPECT_EQ(Activate(other), S_OK);
    EXPECT_EQ(enumerator->UnregisterEndpointNotificationCallback(&client), S_OK);
    ASSERT_EQ(client.seen.size(), 2u);
    EXPECT_EQ(std::get<0>(client.seen[0]), id);
    EXPECT_EQ(std::get<1>(client.seen[1]), static_cast<DWORD>(DEVICE_STATE_ACTIVE));
    EXPECT_NE(std::get<2>(client.seen[0]), platform::GetCurrentThreadId());
}

// Every object held across a restart of the audio service is dead and its clients silent;
// objects made after it work.
TEST_F(CoreAudio, AudioServiceRestartLeavesEarlierObjectsDead) {
    CONTRACT_SIM_ONLY("AUDCLNT_E_SERVICE_NOT_RUNNING in the return codes of "
                      "IAudioClient::Initialize on learn.microsoft.com");
    Client client;
    ASSERT_EQ(enumerator->RegisterEndpointNotificationCallback(&client), S_OK);
    contract::audio::RestartAudioService();
    const HRESULT notRunning = static_cast<HRESULT>(0x88890010u);
    BOOL muted = Poison;
    EXPECT_EQ(volume->GetMute(&muted), notRunning);
    platform::ComPtr<IMMDeviceEnumerator> fresh;
    ASSERT_EQ(platform::CoCreateInstance(platform::CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                         platform::IID_IMMDeviceEnumerator, fresh.put_void()),
              S_OK);
    Client later;
    ASSERT_EQ(fresh->RegisterEndpointNotificationCallback(&later), S_OK);
    contract::audio::SetEndpointState(id, DEVICE_STATE_UNPLUGGED);
    ASSERT_EQ(platform::WaitForSingleObject(later.called.get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(fresh->UnregisterEndpointNotificationCallback(&later), S_OK);
    EXPECT_EQ(enumerator->UnregisterEndpointNotificationCallback(&client), notRunning);
    EXPECT_TRUE(client.seen.empty());
}

// The endpoint builder makes a new device's endpoint after its interface arrived.
TEST_F(CoreAudio, LateEndpointComesAfterItsInterface) {
    CONTRACT_SIM_ONLY("Audio Endpoint Builder Algorithm on learn.microsoft.com");
    const platform::WideString late = WIDE("{0.0.0.00000000}.{contract-late}");
    contract::audio::PlugWithLateEndpoint(late, 2000);
    platform::UniqueKernelHandle never{platform::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    EXPECT_EQ(platform::WaitForSingleObject(never.get(), 1999), static_cast<DWORD>(WAIT_TIMEOUT));
    std::pair<platform::WideString, int> search{late, 0};
    platform::DirectSoundEnumerateW(CountEntry, &search);
    EXPECT_EQ(search.second, 0);
    EXPECT_EQ(platform::WaitForSingleObject(never.get(), 1), static_cast<DWORD>(WAIT_TIMEOUT));
    platform::DirectSoundEnumerateW(CountEntry, &search);
    EXPECT_EQ(search.second, 1);
}

} // namespace
