#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "extract/formats/media_type.h"
#include "extract/formats/url_name.h"
#include "extract/name_rules.h"
#include "extract/utf8.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

// Input: leading body bytes, Content-Type and URL separated by NULs. Whatever they hold, the type is a short
// lower-case ending and the name a Windows-safe file name within its limit.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::string_view parts[3];
    for (std::string_view& part : parts) {
        const std::size_t end = rest.find('\0');
        part = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    const std::string type = drovan::DecideType(parts[0], parts[1], parts[2]);
    Require(type.size() <= 10);
    for (char c : type) {
        Require((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'));
    }
    const std::u16string name = drovan::FileNameForEntry(parts[2], type);
    Require(!name.empty() && name.size() <= drovan::kMaxEntryNameUnits);
    Require(name.back() != u'.' && name.back() != u' ');
    for (char16_t c : name) {
        Require(c >= 0x20 && std::u16string_view(u"<>:\"/\\|?*").find(c) == std::u16string_view::npos);
        Require(!drovan::IsHiddenMark(c));
    }
    Require(name.front() != u'.');
    // Numbered as the destination's limits allow, the name keeps its ending.
    const std::size_t dot = name.rfind(u'.');
    const std::u16string_view ending =
        dot == std::u16string::npos ? u"" : std::u16string_view(name).substr(dot);
    for (const unsigned number : {1u, 2u, 99999u}) {
        const std::u16string units = drovan::FittedName(name, number, drovan::NameLengthUnit::Utf16Units);
        const std::u16string bytes = drovan::FittedName(name, number, drovan::NameLengthUnit::Utf8Bytes);
        Require(!units.empty() && units.size() <= 255 && drovan::Utf16ToUtf8(bytes).size() <= 255);
        Require(ending.size() > 20 ||
                (units.size() >= ending.size() &&
                 units.compare(units.size() - ending.size(), ending.size(), ending) == 0));
    }
    return 0;
}
