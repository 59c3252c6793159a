// The recovery watcher (Windows above version 5): what brings the endpoint sync back after events
// that send the service no device-interface event. Endpoints that change state or arrive late are
// learnt from a Core Audio notification client, a restart of the audio service from the service
// manager; either way the watcher sends the service RecoveryControl, so that every rebuild runs on
// the handler's thread, one control at a time, like a device event.
#pragma once

#include "platform/types.h"

#include <atomic>

// The user-defined control (128 to 255) that rebuilds the endpoint sync.
inline constexpr DWORD RecoveryControl = 200;

// The audio service whose restarts the watcher follows.
inline constexpr const WCHAR* AudioServiceName = WIDE("AudioSrv");

// The delays between the rebuilds of one retry run, in milliseconds: about 30 s in all. A run
// follows an endpoint notice, an audio-service restart, or a device arrival whose rebuild left an
// endpoint unbound, and ends early as soon as both endpoints are bound.
inline constexpr DWORD RecoveryRetryDelays[] = {1000, 2000, 4000, 8000, 15000};

// Whether the last rebuild on the handler's thread left both endpoints bound. Written by the
// handler only; read by the watcher to end a retry run.
extern std::atomic<bool> EndpointsBound;

// Starts the watcher on a thread of its own; called by the start step after its prescribed calls.
// A watcher that cannot start leaves the service as it was without it.
void StartRecoveryWatcher();
// Tells the watcher to end, without waiting: the handler's stop sequence calls it, and the watcher
// may itself be inside a control waiting for the handler.
void SignalRecoveryStop();
// Waits until the watcher has ended and closes what StartRecoveryWatcher opened; ServiceMain calls
// it once the stop has released it. Nothing when no watcher was started.
void EndRecoveryWatcher();
// True from the stop that ended a watcher until ServiceMain has seen it end: a RecoveryControl the
// watcher sent meanwhile finds the service stopped and is left alone.
bool RecoveryEnded();
// Asks the watcher for a retry run; the handler calls it after an arrival's rebuild left an
// endpoint unbound.
void RequestRecoveryRetry();
// The handler's part of RecoveryControl and of a device event: records whether the endpoint sync
// is bound now.
void PublishEndpointsBound();
