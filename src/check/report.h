// The report that QuenvarCheck builds: its lines, the first reason the service would not mirror,
// and how platform values are written in it.
#pragma once

#include "platform/types.h"
#include "safety/text.h"

#include <string>

namespace check {

struct Report {
    std::string text;
    std::string firstReason; // empty while nothing keeps the service from mirroring

    void Line(const std::string& line) { text += line + "\n"; }
    // A reason the service would not mirror; the first one given is the verdict's.
    void Reason(const std::string& reason) {
        if (firstReason.empty()) {
            firstReason = reason;
        }
    }
};

// UTF-8 of a wide string; a null string reads as empty.
using safety::Utf8;
// The text in double quotes; a null string is "(none)", unquoted.
std::string Quoted(const WCHAR* text);
std::string Hex(DWORD value);       // 0x%08X
std::string Guid(const GUID& guid); // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}

// The sections of the report, in their order.
void CheckEndpoints(Report& report);
void CheckMixers(Report& report);
void CheckFilter(Report& report);
void CheckService(Report& report);

} // namespace check
