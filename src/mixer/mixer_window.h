// The hidden sync window of the mixer thread: it opens the mixers when it is created, mirrors
// their change messages, rebuilds the mirroring on device arrival and removal, and closes
// everything when it is destroyed.
#pragma once

#include "platform/types.h"

// The window's private stop request.
inline constexpr UINT StopSyncWindowMessage = WM_APP + 1;

// Registration for render device interface events to the window, or null. Mixer thread only.
extern HDEVNOTIFY MixerDeviceNotification;

// Registers the window class and creates the window, whose WM_CREATE starts the mirroring.
// Returns the window, or null when it could not be created.
HWND CreateSyncWindow();
LRESULT CALLBACK MixerSyncWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Rebuilds the mirroring on a device arrival or completed removal; TRUE for every event.
BOOL HandleMixerDeviceChange(HWND window, DWORD deviceEvent, LPARAM eventData);
// What the window's destruction does: unregisters the device events, closes the mixers, clears
// the driver flag and ends the thread's message loop. Also run directly when a stop finds no
// window to destroy.
void EndMixerSync();
