// The service host: the process entry, ServiceMain, the control handler and the start step.
#pragma once

#include "platform/types.h"

// The service's name in the dispatch table, at handler registration and in the service database.
inline constexpr const WCHAR* ServiceName = WIDE("Quenvar_Service");
inline constexpr const WCHAR* ServiceDisplayName = WIDE("Quenvar Service");

// How long ServiceMain rests after a failed wait on StopEvent before it waits again.
inline constexpr DWORD StopWaitRetryDelay = 100;

// Process-wide items of the service host.
extern SERVICE_STATUS_HANDLE ServiceStatusHandle;
extern SERVICE_STATUS ServiceStatus;
// True when the handler's thread must call CoInitialize before it handles its next control.
extern bool HandlerComInitPending;

// The process entry: "-install" or "-remove" as the first argument runs that command, anything
// else (or nothing) connects to the service control manager. Returns 0, or the Win32 error of the
// command or of the dispatcher call that failed.
int ProcessEntry(int argc, WCHAR* argv[], WCHAR* envp[]);

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, LPVOID eventData,
                                   LPVOID context);

// The start step of ServiceMain: the endpoint sync and the device registration above Windows
// version 5, the mixer thread at version 5 and below.
void StartSyncMechanism();

// Whether Windows' major version is above 5. Asked afresh at every use.
bool IsVistaOrLater();
