// Endpoint-volume notifications with any channel count, levels (NaN and infinities included),
// mute flags and event contexts, handed to both callbacks of a running endpoint sync.
//
// The record is the platform's: it holds exactly nChannels levels past its one-element field, and
// OnNotify has no other way to know its size. This target builds each record as the platform
// does, sized by its own count, up to 256 channels (far beyond any endpoint's; the surplus writes
// fail on the target and are ignored).
#include "endpoint/endpoint_sync.h"
#include "fuzz_input.h"
#include "platform/com.h"
#include "platform/sim/audio.h"
#include "platform/sim/machine.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

namespace {

const platform::WideString CodecId = WIDE("{0.0.0.00000000}.{codec}");
const platform::WideString OrvaneId = WIDE("{0.0.0.00000000}.{orvane}");

constexpr float SpecialLevels[] = {std::numeric_limits<float>::quiet_NaN(),
                                   std::numeric_limits<float>::infinity(),
                                   -std::numeric_limits<float>::infinity(),
                                   -0.0f,
                                   1.0f,
                                   std::numeric_limits<float>::denorm_min(),
                                   std::numeric_limits<float>::max()};

float Level(fuzz::Input& input) {
    auto pick = input.Below(3);
    if (pick == 0) {
        return SpecialLevels[input.Below(std::size(SpecialLevels))];
    }
    return pick == 1 ? static_cast<float>(input.Below(101)) / 100.0f : input.Take<float>();
}

void StartSync() {
    sim::ResetMachine();
    sim::SetWindowsVersion(6, 1);
    for (const auto* id : {&CodecId, &OrvaneId}) {
        sim::audio::RenderDevice device;
        device.description = id == &CodecId ? WIDE("Speakers (Realtek High Definition Audio)")
                                            : WIDE("Speakers (Orvane)");
        device.module = *id;
        sim::audio::AddRenderDevice(device);
    }
    platform::CoInitialize(nullptr);
    StartEndpointSync();
    if (!HardwareToVirtualChange) {
        fuzz::Fail("the sync did not start");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool started = (StartSync(), true);
    (void)started;
    fuzz::Input input(data, size);
    std::size_t notifications = 1 + input.Below(4);
    for (std::size_t n = 0; n < notifications; ++n) {
        UINT channels = input.Below(16) == 0 ? input.Take<std::uint16_t>() % 257 : input.Below(9);
        std::vector<std::byte> storage(offsetof(AUDIO_VOLUME_NOTIFICATION_DATA, afChannelVolumes) +
                                       sizeof(float) * (channels == 0 ? 1 : channels));
        auto* record = reinterpret_cast<AUDIO_VOLUME_NOTIFICATION_DATA*>(storage.data());
        record->guidEventContext =
            input.Below(4) == 0 ? VolumeSyncEventContext : input.Take<GUID>();
        record->bMuted = input.Below(2) == 0 ? input.Below(2) : input.Take<BOOL>();
        record->fMasterVolume = Level(input);
        record->nChannels = channels;
        for (UINT i = 0; i < channels; ++i) {
            record->afChannelVolumes[i] = Level(input);
        }
        auto* callback = input.Below(2) == 0 ? HardwareToVirtualChange : VirtualToHardwareChange;
        if (callback->OnNotify(record) != S_OK) {
            fuzz::Fail("OnNotify answered other than S_OK");
        }
    }
    sim::audio::WaitIdle();
    sim::ClearJournal();
    if (!sim::Faults().empty()) {
        fuzz::Fail("the machine saw a misuse");
    }
    return 0;
}
