#pragma once

#include <string>
#include <string_view>

namespace drovan {

// Unix file names are bytes, not always valid UTF-8: a byte that does not decode becomes U+DC80 + byte, and
// Utf16ToUtf8 turns it back, so every name survives the round trip.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace drovan
