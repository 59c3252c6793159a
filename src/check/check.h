// QuenvarCheck: reads the machine with the service's own lookup code (endpoint binding, mixer
// lookup and scan, the driver's filter search, the version test) and tells whether the service
// would mirror there, and if not, why. It changes nothing: no volume is written, no driver flag
// set, no service entry touched, and every mixer, filter and endpoint it opens is closed again
// before the next step.
#pragma once

#include <string>

// The report, one finding a line, ending with "Would mirror: yes" or "Would mirror: no: <the
// first reason>". Returns 0 when the service would mirror, 1 when it would not.
int CheckMachine(std::string& report);
