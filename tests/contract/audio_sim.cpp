// The audio contract fixture on the simulated machine: the devices are added to it.
#include "audio_fixture.h"

#include "platform/sim/audio.h"
#include "platform/sim/ks.h"
#include "platform/sim/machine.h"

namespace contract::audio {

platform::WideString RenderEndpointId() {
    const platform::WideString id = WIDE("{0.0.0.00000000}.{contract-render}");
    sim::audio::AddRenderDevice(
        {.description = WIDE("Speakers (Orvane)"), .module = id, .masterLevel = 0.5f});
    return id;
}

void AddRenderDevices() {
    sim::audio::AddRenderDevice({.description = WIDE("Speakers (Realtek High Definition Audio)"),
                                 .module = WIDE("{0.0.0.00000000}.{contract-codec}"),
                                 .guid = GUID{0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}}});
    sim::audio::AddRenderDevice({.description = WIDE("Speakers (Orvane)"),
                                 .module = WIDE("{0.0.0.00000000}.{contract-orvane}"),
                                 .guid = GUID{0x2, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}}});
}

std::vector<platform::WideString> AddRenderInterfaces() {
    const platform::WideString path = WIDE("\\\\?\\root#media#0000#{contract-render}");
    sim::ks::AddInterface(sim::ks::VirtualRenderInterface(path));
    return {path};
}

void SetEndpointState(const platform::WideString& id, DWORD state) {
    sim::audio::SetEndpointState(id, state);
}

void RestartAudioService() {
    sim::audio::RestartAudioService();
}

void PlugWithLateEndpoint(const platform::WideString& id, DWORD delay) {
    sim::UseMachineTime(true);
    sim::audio::SetLateEndpointBuilder(true, delay);
    sim::audio::PlugRenderDevice({.module = id}, sim::ks::VirtualRenderInterface(id));
}

} // namespace contract::audio
