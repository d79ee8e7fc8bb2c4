#include "extract/formats/url_name.h"

#include <algorithm>
#include <array>

#include "extract/ascii.h"
#include "extract/name_rules.h"
#include "extract/utf8.h"

namespace drovan {
namespace {

// Utf8ToUtf16 turns each byte that does not decode into U+DC80 + byte; a valid text never gives a lone low
// surrogate in that range.
bool DecodedCleanly(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            ++i;
        } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
            return false;
        }
    }
    return true;
}

bool IsForbidden(char16_t c) {
    switch (c) {
        case u'<':
        case u'>':
        case u':':
        case u'"':
        case u'/':
        case u'\\':
        case u'|':
        case u'?':
        case u'*':
            return true;
        default:
            return c < 0x20;
    }
}

void Sanitise(std::u16string& name) {
    name.erase(std::remove_if(name.begin(), name.end(), IsHiddenMark), name.end());
    for (char16_t& c : name) {
        if (IsForbidden(c)) {
            c = u'_';
        }
    }
    while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) {
        name.pop_back();
    }
    // A leading dot hides the file on POSIX.
    if (!name.empty() && name.front() == u'.') {
        name.front() = u'_';
    }
}

// Windows reads superscript 1, 2 and 3 after COM and LPT as the port's digit.
bool IsPortDigit(char16_t c) {
    return (c >= u'1' && c <= u'9') || c == u'\u00B9' || c == u'\u00B2' || c == u'\u00B3';
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices whatever ending follows, and spaces before it do not
// help.
bool IsDeviceName(std::u16string_view name) {
    std::u16string_view base = name.substr(0, name.find(u'.'));
    while (!base.empty() && base.back() == u' ') {
        base.remove_suffix(1);
    }
    static constexpr std::array<std::u16string_view, 4> kPlain = {u"con", u"prn", u"aux", u"nul"};
    for (std::u16string_view device : kPlain) {
        if (EqualsIgnoringAsciiCase(base, device)) {
            return true;
        }
    }
    if (base.size() == 4 && IsPortDigit(base[3])) {
        const std::u16string_view stem = base.substr(0, 3);
        return EqualsIgnoringAsciiCase(stem, u"com") || EqualsIgnoringAsciiCase(stem, u"lpt");
    }
    return false;
}

bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Cuts name to the limit, keeping a short ending after its last dot and never splitting a surrogate pair.
void Shorten(std::u16string& name) {
    if (name.size() <= kMaxEntryNameUnits) {
        return;
    }
    constexpr std::size_t kLongestKeptEnding = 16;
    std::size_t dot = name.rfind(u'.');
    if (dot == std::u16string::npos || dot == 0 || name.size() - dot > kLongestKeptEnding) {
        dot = name.size();
    }
    const std::size_t endingSize = name.size() - dot;
    std::size_t keep = kMaxEntryNameUnits - endingSize;
    if (keep > 0 && IsLowSurrogate(name[keep])) {
        --keep;
    }
    name.erase(keep, dot - keep);
    if (endingSize == 0) {
        while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) {
            name.pop_back();
        }
    }
}

// The text as UTF-16, with room reserved for more units.
std::u16string Utf16Of(std::string_view text, std::size_t room) {
    // ASCII needs no decoding: each byte is a unit of its own.
    if (!std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return Utf8ToUtf16(text);
    }
    std::u16string out;
    out.reserve(text.size() + room);
    out.resize(text.size());
    std::copy(text.begin(), text.end(), out.begin());
    return out;
}

// The segment percent-decoded as UTF-8, or as it stands when that does not decode, with room for more units.
std::u16string DecodedSegment(std::string_view segment, std::size_t room) {
    // Nothing to decode is the common case, and then both ways give the same name.
    if (segment.find('%') == std::string_view::npos) {
        return Utf16Of(segment, room);
    }
    std::u16string name = Utf8ToUtf16(PercentDecode(segment));
    if (!DecodedCleanly(name)) {
        return Utf8ToUtf16(segment);
    }
    return name;
}

// Appends "." and the type unless the name already ends so; an MP4 type takes a media segment's ending's
// place, so that a piece saved whole gets no double ending.
void AppendType(std::u16string& name, std::string_view type) {
    if (type.empty()) {
        return;
    }
    std::u16string ending = u".";
    ending += Utf16Of(type, 0);
    if (NameEndsWithType(name, ending)) {
        return;
    }
    // "a.mp4.m4s" is "a.mp4", not "a.mp4.mp4".
    const std::size_t dot = name.rfind(u'.');
    if ((type == "mp4" || type == "m4a") && dot != std::u16string::npos && dot > 0) {
        std::string own;
        for (std::size_t i = dot + 1; i < name.size() && name[i] < 0x80; ++i) {
            own += LowerAscii(static_cast<char>(name[i]));
        }
        if (own.size() == name.size() - dot - 1 && IsMediaSegmentEnding(own)) {
            name.erase(dot);
        }
    }
    if (!NameEndsWithType(name, ending)) {
        name += ending;
    }
}

// The URL without its query and fragment.
std::string_view WithoutQuery(std::string_view url) {
    // Two searches for one character each are far quicker than one loop testing every character for both.
    return url.substr(0, std::min(url.find('?'), url.find('#')));
}

}  // namespace

std::string_view UrlLastSegment(std::string_view url) {
    url = WithoutQuery(url);
    const std::size_t scheme = url.find("://");
    if (scheme != std::string_view::npos) {
        const std::size_t pathStart = url.find('/', scheme + 3);
        if (pathStart == std::string_view::npos) {
            return {};
        }
        url = url.substr(pathStart);
    }
    // A page at ".../pkg/bufio/" is named after "bufio", not after its host.
    while (!url.empty() && url.back() == '/') {
        url.remove_suffix(1);
    }
    const std::size_t slash = url.rfind('/');
    return slash == std::string_view::npos ? url : url.substr(slash + 1);
}

std::string_view UrlHost(std::string_view url) {
    url = WithoutQuery(url);
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) {
        return {};
    }
    std::string_view authority = url.substr(scheme + 3);
    authority = authority.substr(0, authority.find('/'));
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    // A port follows the last colon, unless that colon lies inside an IPv6 literal's brackets.
    const std::size_t colon = authority.rfind(':');
    const std::size_t bracket = authority.rfind(']');
    if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
        authority = authority.substr(0, colon);
    }
    return authority;
}

std::string PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
            HexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool IsMediaSegmentEnding(std::string_view ending) {
    for (const std::string_view segment : {"m4s", "m4v", "m4a", "cmfv", "cmfa", "mp4", "dash"}) {
        if (ending == segment) {
            return true;
        }
    }
    return false;
}

std::u16string FileNameForEntry(std::string_view url, std::string_view type) {
    std::u16string name = DecodedSegment(UrlLastSegment(url), type.size() + 1);
    Sanitise(name);
    if (name.empty()) {
        name = Utf8ToUtf16(UrlHost(url));
        Sanitise(name);
    }
    if (name.empty()) {
        name = u"unnamed";
    }
    AppendType(name, type);
    if (IsDeviceName(name)) {
        name.insert(name.begin(), u'_');
    }
    Shorten(name);
    if (name.empty()) {
        return u"unnamed";
    }
    return name;
}

bool IsHiddenMark(char16_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069) || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
           c == 0xFEFF;
}

}  // namespace drovan
