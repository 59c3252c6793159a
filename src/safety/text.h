// Text of wide strings for the console.
#pragma once

#include "platform/types.h"

#include <string>

namespace safety {

// UTF-8 of a wide string (null: empty); a lone surrogate becomes U+FFFD.
std::string Utf8(const WCHAR* text);

} // namespace safety
