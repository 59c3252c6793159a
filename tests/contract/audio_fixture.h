// What the audio contract suites need set up that only one backend can do: the simulated machine
// is given the devices; under Wine the PulseAudio null sinks are already there.
#pragma once

#include "platform/types.h"

#include <vector>

namespace contract::audio {

// The Core Audio endpoint id of a present two-channel render device.
platform::WideString RenderEndpointId();
// The two render devices the endpoint binding looks for (under Wine: null sinks of those names).
void AddRenderDevices();
// The KS render interface paths made present (none under Wine: it has no KS render filter).
std::vector<platform::WideString> AddRenderInterfaces();
// What only the simulated machine can do (Wine cannot disable an endpoint, restart its audio
// service or build an endpoint late; timed waits then run on machine time).
void SetEndpointState(const platform::WideString& id, DWORD state);
void RestartAudioService();
void PlugWithLateEndpoint(const platform::WideString& id, DWORD delay);

} // namespace contract::audio
