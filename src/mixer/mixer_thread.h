// The mixer sync thread (Windows version 5 and below) and its hidden window.
#pragma once

#include "service/state.h"

// Creates the mixer thread and records its handle in the record; returns at once.
void StartMixerThread(ServiceStateRecord& state);
// Stops the sync window and waits until the mixer thread has ended; does nothing without one.
void StopMixerThread(ServiceStateRecord& state);
