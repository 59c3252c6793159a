/* Prints what GetVersionExW reports to this process, "major.minor". Built with and without the
   service's manifest, it shows what the manifest changes in the version the service branches on. */
#include <windows.h>
#include <stdio.h>

int main(void) {
    OSVERSIONINFOW version = {sizeof(version)};
    if (!GetVersionExW(&version)) {
        return 1;
    }
    printf("%lu.%lu\n", version.dwMajorVersion, version.dwMinorVersion);
    return 0;
}
