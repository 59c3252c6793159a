// The machine check: the version and mechanism, then each section, then the verdict.
#include "check/check.h"

#include "check/report.h"
#include "platform/kernel.h"
#include "safety/dll_search.h"
#include "service/service.h"

#include <cstdio>

namespace check {

std::string Quoted(const WCHAR* text) {
    return text ? "\"" + Utf8(text) + "\"" : "(none)";
}

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string Guid(const GUID& guid) {
    char text[48];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

} // namespace check

int CheckMachine(std::string& text) {
    // The check's entry: before anything can load a DLL, as in the service.
    safety::RestrictDllSearch();
    check::Report report;
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (platform::GetVersionExW(&version)) {
        report.Line("Windows version: " + std::to_string(version.dwMajorVersion) + "." +
                    std::to_string(version.dwMinorVersion) + " (build " +
                    std::to_string(version.dwBuildNumber) + ")");
    } else {
        report.Line("Windows version: unknown (GetVersionExW failed)");
    }
    // The service's own test decides, so the check takes the path the service would take.
    if (IsVistaOrLater()) {
        report.Line("Mechanism: endpoint volumes (Core Audio), as above version 5");
        check::CheckEndpoints(report);
    } else {
        report.Line("Mechanism: mixers (winmm), as at version 5 and below");
        check::CheckMixers(report);
    }
    check::CheckFilter(report);
    check::CheckService(report);
    if (report.firstReason.empty()) {
        report.Line("Would mirror: yes");
    } else {
        report.Line("Would mirror: no: " + report.firstReason);
    }
    text = std::move(report.text);
    return report.firstReason.empty() ? 0 : 1;
}
