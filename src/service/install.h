// Installing and removing the service's entry in the service control manager.
#pragma once

// Creates the entry "Quenvar_Service" for the running executable; silent on every failure.
void InstallService();
// Deletes the entry "Quenvar_Service" (marked for deletion while the service runs).
void RemoveService();
