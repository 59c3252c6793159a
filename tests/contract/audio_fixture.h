// What the audio contract suites need set up that only one backend can do: the simulated machine
// is given the devices; under Wine the PulseAudio null sinks are already there.
#pragma once

#include "platform/types.h"

#include <vector>

namespace contract::audio {

// The Core Audio endpoint id of a present render device with two channels.
platform::WideString RenderEndpointId();
// Lists the two render devices the endpoint binding looks for (under Wine: the null sinks).
void AddRenderDevices();
// The KS render interface paths made present for the test (none under Wine, which has no KS
// render filter).
std::vector<platform::WideString> AddRenderInterfaces();

} // namespace contract::audio
