#include "endpoint/endpoint_sync.h"

// Not built yet: the service runs with an idle endpoint sync.
void BeginEndpointSync() {}
void EndEndpointSync() {}
void RestartEndpointSync() {}
void StartEndpointSync() {}
void StopEndpointSync() {}
