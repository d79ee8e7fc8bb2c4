#include "cli/list_format.h"

#include "extract/formats/url_name.h"
#include "extract/utf8.h"

namespace drovan {
namespace {

bool IsControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || IsBidiControl(c);
}

}  // namespace

std::u16string ListField(std::u16string_view text) {
    static const char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string field;
    field.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (!IsControl(c)) {
            field += c;
            continue;
        }
        for (const char byte : Utf16ToUtf8(text.substr(i, 1))) {
            const auto value = static_cast<unsigned char>(byte);
            field += {u'%', kHex[value >> 4], kHex[value & 0xF]};
        }
    }
    return field;
}

}  // namespace drovan
