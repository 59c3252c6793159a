// QuenvarCheck.exe: the console entry of the machine check. Prints the report; the exit status
// is 0 when the service would mirror on this machine and 1 when it would not.
#include "check/check.h"

#include <cstdio>

int wmain() {
    std::string report;
    int status = CheckMachine(report);
    std::fwrite(report.data(), 1, report.size(), stdout);
    std::fflush(stdout);
    return status;
}
