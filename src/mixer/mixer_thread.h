// The mixer sync thread (Windows version 5 and below) and its hidden window.
#pragma once

#include "service/state.h"

// The mixer thread's identifier, kept by StartMixerThread so that a stop can reach the thread
// before its window exists. 0 when no thread runs.
extern DWORD MixerThreadId;

// Creates the mixer thread and records its handle in the record; returns at once.
void StartMixerThread(ServiceStateRecord& state);
// Stops the sync window and waits until the mixer thread has ended; does nothing without one.
// When it returns, both mixers are closed and the driver flag is 0.
void StopMixerThread(ServiceStateRecord& state);
// The thread procedure: creates the sync window and serves its messages until WM_QUIT.
DWORD WINAPI MixerThreadMain(LPVOID state);
