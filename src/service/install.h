// Installing and removing the service's entry in the service control manager.
#pragma once

#include "platform/types.h"

// Creates the entry "Quenvar_Service" for the running executable. Returns ERROR_SUCCESS, or the
// Win32 error of the step that failed after writing one line naming it to standard error.
DWORD InstallService();
// Deletes the entry "Quenvar_Service" (marked for deletion while the service runs). Returns and
// reports like InstallService.
DWORD RemoveService();

// One line on standard error: "QuenvarService <command>: <step> failed: error <code>" (the
// command may be empty).
void ReportFailure(const char* command, const char* step, DWORD error);
