#include "cli/list_format.h"

#include <initializer_list>

#include "extract/formats/url_name.h"
#include "extract/utf8.h"

namespace drovan {
namespace {

bool IsControl(char16_t c) {
    return c < 0x20 || IsHiddenMark(c);
}

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

std::u16string Padded(std::int64_t value, std::size_t width) {
    std::u16string text = Decimal(static_cast<std::uint64_t>(value));
    return std::u16string(width > text.size() ? width - text.size() : 0, u'0') + text;
}

// "6/6", or "6/?" when no manifest says where the stream ends.
std::u16string SegmentsPresent(const ItemFacts& row) {
    return Decimal(row.present.value_or(0)) + u"/" + (row.expected ? Decimal(*row.expected) : u"?");
}

std::u16string MissingJoined(const ItemFacts& row) {
    std::u16string joined;
    for (const std::u16string& url : row.missing) {
        joined += (joined.empty() ? u"" : u" ") + url;
    }
    return joined;
}

std::u16string TsvRow(const ItemFacts& row) {
    std::u16string line = ListField(row.kind);
    for (const std::u16string& field :
         {row.type, row.name, row.size ? Decimal(*row.size) : u"?",
          row.storedSize ? Decimal(*row.storedSize) : u"?", row.state, row.url,
          row.stream ? SegmentsPresent(row) : u"", row.stream ? MissingJoined(row) : u"", row.note}) {
        line += u'\t' + ListField(field);
    }
    return line;
}

std::u16string CsvField(std::u16string_view text) {
    std::u16string field = ListField(text);
    // A leading = + - @ reads as a formula to a spreadsheet: quoting marks it as text for importers that
    // honour quotes, and anything more (a leading apostrophe) would change the data.
    const bool formulaLike = !field.empty() && std::u16string_view(u"=+-@").find(field[0]) != field.npos;
    if (!formulaLike && field.find_first_of(u",\"\r\n") == field.npos) {
        return field;
    }
    std::u16string quoted = u"\"";
    for (const char16_t c : field) {
        quoted += c == u'"' ? u"\"\"" : std::u16string(1, c);
    }
    return quoted + u'"';
}

std::u16string CsvRow(const ItemFacts& row) {
    std::u16string line = CsvField(row.kind);
    for (const std::u16string& field :
         {row.type, row.name, row.size ? Decimal(*row.size) : u"",
          row.storedSize ? Decimal(*row.storedSize) : u"", row.state, row.url,
          row.stream ? SegmentsPresent(row) : u"", row.stream ? MissingJoined(row) : u"", row.note}) {
        line += u',' + CsvField(field);
    }
    return line;
}

// Kept as text only if it pairs up: a lone surrogate would reach the UTF-8 line as bytes no decoder takes.
bool IsUnpairedSurrogate(std::u16string_view text, std::size_t i) {
    if (IsHighSurrogate(text[i])) {
        return i + 1 == text.size() || !IsLowSurrogate(text[i + 1]);
    }
    return IsLowSurrogate(text[i]) && (i == 0 || !IsHighSurrogate(text[i - 1]));
}

std::u16string JsonString(std::u16string_view text) {
    static const char16_t kHex[] = u"0123456789abcdef";
    const std::u16string field = ListField(text);
    std::u16string quoted = u"\"";
    for (std::size_t i = 0; i < field.size(); ++i) {
        const char16_t c = field[i];
        if (c == u'"' || c == u'\\') {
            quoted += {u'\\', c};
        } else if (IsControl(c) || IsUnpairedSurrogate(field, i)) {
            quoted += {u'\\', u'u', kHex[c >> 12], kHex[(c >> 8) & 0xF], kHex[(c >> 4) & 0xF], kHex[c & 0xF]};
        } else {
            quoted += c;
        }
    }
    return quoted + u'"';
}

struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

// The proleptic Gregorian date some days after 1970-01-01, counted in 400-year eras that begin on 1 March
// so that the leap day ends each year.
CivilDate CivilFromDays(std::int64_t days) {
    constexpr std::int64_t kDaysPerEra = 146097;
    days += 719468;  // from 0000-03-01
    const std::int64_t era = (days >= 0 ? days : days - kDaysPerEra + 1) / kDaysPerEra;
    const auto dayOfEra = static_cast<unsigned>(days - era * kDaysPerEra);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthFromMarch = (5 * dayOfYear + 2) / 153;
    const unsigned month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    return {era * 400 + yearOfEra + (month <= 2 ? 1 : 0), month,
            dayOfYear - (153 * monthFromMarch + 2) / 5 + 1};
}

// "2024-05-01T10:00:00Z", for years 0000 to 9999 only.
std::optional<std::u16string> UtcTimeText(std::int64_t seconds) {
    constexpr std::int64_t kFirst = -62167219200;  // 0000-01-01T00:00:00Z
    constexpr std::int64_t kLast = 253402300799;   // 9999-12-31T23:59:59Z
    if (seconds < kFirst || seconds > kLast) {
        return std::nullopt;
    }
    const std::int64_t days = seconds / 86400 - (seconds % 86400 < 0 ? 1 : 0);
    const std::int64_t secondOfDay = seconds - days * 86400;
    const CivilDate date = CivilFromDays(days);
    return Padded(date.year, 4) + u'-' + Padded(date.month, 2) + u'-' + Padded(date.day, 2) + u'T' +
           Padded(secondOfDay / 3600, 2) + u':' + Padded(secondOfDay / 60 % 60, 2) + u':' +
           Padded(secondOfDay % 60, 2) + u'Z';
}

std::u16string JsonNumber(std::optional<std::uint64_t> value) {
    return value ? Decimal(*value) : u"null";
}

std::u16string JsonRow(const ItemFacts& row) {
    std::u16string line = u"{\"kind\":" + JsonString(row.kind) + u",\"type\":" + JsonString(row.type) +
                          u",\"name\":" + JsonString(row.name) + u",\"size\":" + JsonNumber(row.size) +
                          u",\"stored_size\":" + JsonNumber(row.storedSize) + u",\"state\":" +
                          JsonString(row.state) + u",\"url\":" + JsonString(row.url);
    const std::optional<std::u16string> stored = row.storedTime ? UtcTimeText(*row.storedTime) : std::nullopt;
    if (stored) {
        line += u",\"stored\":\"" + *stored + u'"';
    }
    const std::optional<std::u16string> modified =
        row.lastModified ? UtcTimeText(*row.lastModified) : std::nullopt;
    if (modified) {
        line += u",\"last_modified\":\"" + *modified + u'"';
    }
    if (row.stream) {
        line += u",\"present\":" + Decimal(row.present.value_or(0)) + u",\"expected\":" +
                JsonNumber(row.expected) + u",\"missing\":[";
        for (std::size_t i = 0; i < row.missing.size(); ++i) {
            line += (i == 0 ? u"" : u",") + JsonString(row.missing[i]);
        }
        line += u']';
        if (!row.note.empty()) {
            line += u",\"note\":" + JsonString(row.note);
        }
    }
    return line + u'}';
}

}  // namespace

std::u16string Decimal(std::uint64_t value) {
    return Utf8ToUtf16(std::to_string(value));
}

std::u16string ListField(std::u16string_view text) {
    static const char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string field;
    field.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        // A byte that was no UTF-8 (kept as U+DC80 + byte) would go out raw: 0x9B alone is a terminal's CSI.
        const bool rawByte = c >= 0xDC80 && c <= 0xDCFF && !(i > 0 && IsHighSurrogate(text[i - 1]));
        if (!IsControl(c) && !rawByte) {
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

std::u16string FormatListRow(const ItemFacts& row, ListFormat format) {
    switch (format) {
        case ListFormat::Tsv:
            return TsvRow(row);
        case ListFormat::Csv:
            return CsvRow(row);
        case ListFormat::Json:
            return JsonRow(row);
    }
    return TsvRow(row);
}

std::optional<std::u16string> ListHeader(ListFormat format) {
    if (format == ListFormat::Csv) {
        return u"kind,type,name,size,stored_size,state,url,segments,missing,note";
    }
    return std::nullopt;
}

}  // namespace drovan
