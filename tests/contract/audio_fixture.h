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
// The user disables, unplugs or enables an endpoint, and the audio service restarts. Wine can do
// neither: the cases that need them run on the simulated machine alone.
void SetEndpointState(const platform::WideString& id, DWORD state);
void RestartAudioService();
// A render device whose endpoint the endpoint builder makes only after `delay` ms of machine time,
// which the test's own timed waits move on without really waiting.
void PlugWithLateEndpoint(const platform::WideString& id, DWORD delay);

} // namespace contract::audio
