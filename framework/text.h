#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace drovan::framework {

// Conversions at the edge to narrow text in a code page (CP_ACP for callers holding ANSI text).
std::string ToNarrow(std::wstring_view text, UINT codePage);
std::wstring ToWide(const char* text, UINT codePage);

}  // namespace drovan::framework
