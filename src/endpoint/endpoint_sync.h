// The endpoint sync (Windows above version 5): two bound render endpoints mirrored both ways.
#pragma once

// CoInitialize on the calling thread, then StartEndpointSync.
void BeginEndpointSync();
// StopEndpointSync, then CoUninitialize on the calling thread.
void EndEndpointSync();
// StopEndpointSync, then StartEndpointSync: every device event rebuilds the whole sync.
void RestartEndpointSync();
void StartEndpointSync();
void StopEndpointSync();
