#include "extract/formats/media_type.h"

#include <algorithm>
#include <iterator>
#include <optional>

#include "extract/ascii.h"
#include "extract/formats/url_name.h"

namespace drovan {
namespace {

// Endings that name the same kind of file, so that a URL's own choice among them is kept.
constexpr std::string_view kFamilies[] = {
    "jpg jpeg jpe jfif",
    "mp4 m4a m4v m4b m4p mov qt 3gp 3g2 f4v f4a",
    "rm rmvb ra",
    "asf wmv wma",
    "ogg oga ogv opus spx ogx",
    "webm mkv mka mk3d",
    "wav wave",
    "mid midi kar",
    "zip jar apk docx xlsx pptx odt ods odp epub xpi",
    "html htm shtml xhtml",
    "js mjs",
    "heic heif",
    "tif tiff",
};

constexpr std::string_view FirstWord(std::string_view words) {
    return words.substr(0, words.find(' '));
}

constexpr std::string_view AfterFirstWord(std::string_view words) {
    const std::size_t space = words.find(' ');
    return space == std::string_view::npos ? std::string_view() : words.substr(space + 1);
}

constexpr bool HasWord(std::string_view words, std::string_view word) {
    for (; !words.empty(); words = AfterFirstWord(words)) {
        if (FirstWord(words) == word) {
            return true;
        }
    }
    return false;
}

// SameFamily looks no further than the first family holding an ending.
constexpr bool NoEndingInTwoFamilies() {
    for (std::size_t i = 0; i < std::size(kFamilies); ++i) {
        for (std::string_view words = kFamilies[i]; !words.empty(); words = AfterFirstWord(words)) {
            for (std::size_t j = i + 1; j < std::size(kFamilies); ++j) {
                if (HasWord(kFamilies[j], FirstWord(words))) {
                    return false;
                }
            }
        }
    }
    return true;
}
static_assert(NoEndingInTwoFamilies(), "an ending may belong to one family only");

// Runs once per cache entry, so it compares words in place rather than building strings to search for.
bool SameFamily(std::string_view a, std::string_view b) {
    if (a == b) {
        return true;
    }
    if (a.empty() || b.empty()) {
        return false;
    }
    for (std::string_view family : kFamilies) {
        if (HasWord(family, a)) {
            return HasWord(family, b);
        }
    }
    return false;
}

struct Signature {
    std::string_view type;
    // The bytes name the exact type; otherwise a Content-Type of the same family may say more.
    bool exact = true;
};

bool StartsWith(std::string_view bytes, std::string_view prefix) {
    // Nearly every check fails on the first byte, so that one is tested before comparing the rest.
    return bytes.size() >= prefix.size() && !prefix.empty() && bytes[0] == prefix[0] &&
           bytes.compare(0, prefix.size(), prefix) == 0;
}

bool Contains(std::string_view bytes, std::string_view part) {
    return bytes.find(part) != std::string_view::npos;
}

unsigned char At(std::string_view bytes, std::size_t i) {
    return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0;
}

// An MPEG-1/2/2.5 Layer III frame header: sync, a known version, layer III, a usable bitrate and rate.
bool IsMp3Frame(std::string_view bytes) {
    if (bytes.size() < 4 || At(bytes, 0) != 0xFF || (At(bytes, 1) & 0xE0) != 0xE0) {
        return false;
    }
    const unsigned version = (At(bytes, 1) >> 3) & 3;
    const unsigned layer = (At(bytes, 1) >> 1) & 3;
    const unsigned bitrate = At(bytes, 2) >> 4;
    const unsigned rate = (At(bytes, 2) >> 2) & 3;
    return version != 1 && layer == 1 && bitrate != 15 && rate != 3;
}

Signature FtypSignature(std::string_view bytes) {
    const std::string_view brand = bytes.substr(8, 4);
    if (brand == "avif" || brand == "avis") {
        return {"avif"};
    }
    if (brand == "heic" || brand == "heix" || brand == "heim" || brand == "heis" || brand == "mif1" ||
        brand == "msf1") {
        return {"heic"};
    }
    if (brand == "M4A " || brand == "M4B " || brand == "M4P ") {
        return {"m4a"};
    }
    if (StartsWith(brand, "M4V")) {
        return {"m4v"};
    }
    if (brand == "qt  ") {
        return {"mov"};
    }
    if (StartsWith(brand, "3g2")) {
        return {"3g2"};
    }
    if (StartsWith(brand, "3g")) {
        return {"3gp"};
    }
    if (brand == "F4V ") {
        return {"f4v"};
    }
    return {"mp4", false};
}

// ASF keeps the kinds of its streams in its header: a video stream makes it wmv, audio alone wma.
Signature AsfSignature(std::string_view bytes) {
    static constexpr char kVideoMedia[] = "\xC0\xEF\x19\xBC\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B";
    static constexpr char kAudioMedia[] = "\x40\x9E\x69\xF8\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B";
    if (Contains(bytes, std::string_view(kVideoMedia, 16))) {
        return {"wmv"};
    }
    if (Contains(bytes, std::string_view(kAudioMedia, 16))) {
        return {"wma"};
    }
    return {"asf", false};
}

constexpr char kAsf[] = "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C";
constexpr char kOgg[] = "OggS";
constexpr char kEbml[] = "\x1A\x45\xDF\xA3";

std::optional<Signature> SignatureOf(std::string_view bytes) {
    static constexpr char kPng[] = "\x89PNG\r\n\x1A\n";
    if (StartsWith(bytes, std::string_view("FLV\x01", 4))) {
        return Signature{"flv"};
    }
    if (StartsWith(bytes, "FWS") || StartsWith(bytes, "CWS") || StartsWith(bytes, "ZWS")) {
        return Signature{"swf"};
    }
    if (bytes.size() >= 12 && bytes.substr(4, 4) == "ftyp") {
        return FtypSignature(bytes);
    }
    if (StartsWith(bytes, "\xFF\xD8\xFF")) {
        return Signature{"jpg"};
    }
    if (StartsWith(bytes, std::string_view(kPng, 8))) {
        return Signature{"png"};
    }
    if (StartsWith(bytes, "GIF87a") || StartsWith(bytes, "GIF89a")) {
        return Signature{"gif"};
    }
    if (StartsWith(bytes, "RIFF") && bytes.size() >= 12) {
        const std::string_view form = bytes.substr(8, 4);
        if (form == "WEBP") {
            return Signature{"webp"};
        }
        if (form == "AVI ") {
            return Signature{"avi"};
        }
        if (form == "WAVE") {
            return Signature{"wav"};
        }
    }
    if (StartsWith(bytes, "MThd")) {
        return Signature{"mid"};
    }
    if (StartsWith(bytes, std::string_view(kAsf, 16))) {
        return AsfSignature(bytes);
    }
    if (StartsWith(bytes, ".RMF")) {
        return Signature{"rm", false};
    }
    if (StartsWith(bytes, ".ra\xFD")) {
        return Signature{"ra"};
    }
    if (StartsWith(bytes, kOgg)) {
        if (Contains(bytes, "OpusHead")) {
            return Signature{"opus"};
        }
        if (Contains(bytes, "\x80theora")) {
            return Signature{"ogv"};
        }
        return Signature{"ogg", false};
    }
    if (StartsWith(bytes, kEbml)) {
        if (Contains(bytes, "matroska")) {
            return Signature{"mkv", false};
        }
        return Signature{"webm", false};
    }
    if (StartsWith(bytes, "%PDF-")) {
        return Signature{"pdf"};
    }
    if (StartsWith(bytes, "PK\x03\x04") || StartsWith(bytes, "PK\x05\x06")) {
        return Signature{"zip", false};
    }
    // Last: two bytes of frame sync are weaker than any magic above.
    if ((StartsWith(bytes, "ID3") && At(bytes, 3) >= 2 && At(bytes, 3) <= 4) || IsMp3Frame(bytes)) {
        return Signature{"mp3"};
    }
    return std::nullopt;
}

struct MimeType {
    std::string_view mime;
    std::string_view type;
};

// Sorted by MIME type for a binary search.
constexpr MimeType kMimeTypes[] = {
    {"application/dash+xml", "mpd"},
    {"application/ecmascript", "js"},
    {"application/javascript", "js"},
    {"application/json", "json"},
    {"application/ogg", "ogg"},
    {"application/pdf", "pdf"},
    {"application/vnd.apple.mpegurl", "m3u8"},
    {"application/vnd.rn-realmedia", "rm"},
    {"application/vnd.rn-realmedia-vbr", "rmvb"},
    {"application/wasm", "wasm"},
    {"application/x-javascript", "js"},
    {"application/x-mpegurl", "m3u8"},
    {"application/x-shockwave-flash", "swf"},
    {"application/x-zip-compressed", "zip"},
    {"application/xhtml+xml", "html"},
    {"application/xml", "xml"},
    {"application/zip", "zip"},
    {"audio/3gpp", "3gp"},
    {"audio/aac", "aac"},
    {"audio/flac", "flac"},
    {"audio/midi", "mid"},
    {"audio/mp3", "mp3"},
    {"audio/mp4", "m4a"},
    {"audio/mpeg", "mp3"},
    {"audio/mpeg3", "mp3"},
    {"audio/ogg", "ogg"},
    {"audio/opus", "opus"},
    {"audio/vnd.rn-realaudio", "ra"},
    {"audio/wav", "wav"},
    {"audio/wave", "wav"},
    {"audio/webm", "webm"},
    {"audio/x-flac", "flac"},
    {"audio/x-m4a", "m4a"},
    {"audio/x-matroska", "mka"},
    {"audio/x-midi", "mid"},
    {"audio/x-mp3", "mp3"},
    {"audio/x-mpeg", "mp3"},
    {"audio/x-ms-wma", "wma"},
    {"audio/x-pn-realaudio", "ra"},
    {"audio/x-wav", "wav"},
    {"font/woff", "woff"},
    {"font/woff2", "woff2"},
    {"image/apng", "png"},
    {"image/avif", "avif"},
    {"image/bmp", "bmp"},
    {"image/gif", "gif"},
    {"image/heic", "heic"},
    {"image/jpeg", "jpg"},
    {"image/jpg", "jpg"},
    {"image/pjpeg", "jpg"},
    {"image/png", "png"},
    {"image/svg+xml", "svg"},
    {"image/tiff", "tif"},
    {"image/vnd.microsoft.icon", "ico"},
    {"image/webp", "webp"},
    {"image/x-icon", "ico"},
    {"text/css", "css"},
    {"text/html", "html"},
    {"text/javascript", "js"},
    {"text/json", "json"},
    {"text/vtt", "vtt"},
    {"text/xml", "xml"},
    {"video/3gpp", "3gp"},
    {"video/3gpp2", "3g2"},
    {"video/avi", "avi"},
    {"video/flv", "flv"},
    {"video/mp2t", "ts"},
    {"video/mp4", "mp4"},
    {"video/ogg", "ogv"},
    {"video/quicktime", "mov"},
    {"video/webm", "webm"},
    {"video/x-flv", "flv"},
    {"video/x-m4v", "m4v"},
    {"video/x-matroska", "mkv"},
    {"video/x-ms-asf", "asf"},
    {"video/x-ms-wmv", "wmv"},
    {"video/x-msvideo", "avi"},
};

// Longer than every known MIME type, so that one can be lower-cased into a small buffer.
constexpr std::size_t kLongestMime = 32;

// TypeOfMime searches the table by halves for a lower-cased type of at most kLongestMime.
constexpr bool IsSearchable(const MimeType* begin, const MimeType* end) {
    for (const MimeType* entry = begin; entry != end; ++entry) {
        if (entry->mime.size() > kLongestMime || (entry != begin && !(entry[-1].mime < entry->mime))) {
            return false;
        }
        for (char c : entry->mime) {
            if (LowerAscii(c) != c) {
                return false;
            }
        }
    }
    return true;
}
static_assert(IsSearchable(std::begin(kMimeTypes), std::end(kMimeTypes)),
              "kMimeTypes must stay sorted, lower-case and no longer than kLongestMime");

// Generic types (octet streams, text/plain) and unknown ones say nothing.
std::string_view TypeOfMime(std::string_view contentType) {
    const std::string_view mime = TrimBlanks(contentType.substr(0, contentType.find(';')));
    if (mime.size() > kLongestMime) {
        return {};
    }
    char lowered[kLongestMime];
    std::transform(mime.begin(), mime.end(), lowered, LowerAscii<char>);
    const std::string_view wanted(lowered, mime.size());
    const auto* const end = std::end(kMimeTypes);
    const auto* const found =
        std::lower_bound(std::begin(kMimeTypes), end, wanted,
                         [](const MimeType& entry, std::string_view type) { return entry.mime < type; });
    return found != end && found->mime == wanted ? found->type : std::string_view();
}

bool IsFtyp(std::string_view bytes) {
    return bytes.size() >= 12 && bytes.substr(4, 4) == "ftyp";
}

// A piece of fragmented MP4 saved whole, or an MP4 named like one: its tracks decide, else what hints at
// sound alone. An ending that is a whole file's already ("mp4", "m4v", "m4a") is kept until the tracks say.
std::string_view SegmentMp4Type(const Signature& signature, std::string_view mimeType,
                                std::string_view urlEnding, MovieTracks tracks) {
    if (tracks == MovieTracks::Picture) {
        return "mp4";
    }
    if (tracks == MovieTracks::SoundOnly) {
        return "m4a";
    }
    if (urlEnding == "mp4" || urlEnding == "m4v" || urlEnding == "m4a") {
        return urlEnding;
    }
    const bool sound =
        signature.type == "m4a" || (!signature.exact && mimeType == "m4a") || urlEnding == "cmfa";
    return sound ? "m4a" : "mp4";
}

bool IsEndingCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string UrlEnding(std::string_view url) {
    // Only the decoded segment's part after its last dot matters, so the segment is decoded backwards from
    // its end. That reads escapes as PercentDecode does: a '%' is never a hex digit, so one followed by two
    // hex digits always starts an escape, whatever comes before it.
    const std::string_view segment = UrlLastSegment(url);
    constexpr std::size_t kLongestEnding = 10;
    char ending[kLongestEnding];
    std::size_t length = 0;
    for (std::size_t end = segment.size(); end > 0;) {
        char c = segment[end - 1];
        if (end >= 3 && segment[end - 3] == '%' && HexDigitValue(segment[end - 2]) >= 0 &&
            HexDigitValue(c) >= 0) {
            c = static_cast<char>(HexDigitValue(segment[end - 2]) * 16 + HexDigitValue(c));
            end -= 3;
        } else {
            --end;
        }
        if (c == '.') {
            return std::string(ending + kLongestEnding - length, length);
        }
        c = LowerAscii(c);
        if (!IsEndingCharacter(c) || length == kLongestEnding) {
            return {};
        }
        ++length;
        ending[kLongestEnding - length] = c;
    }
    return {};
}

std::size_t TypeLeadingBytesWanted(std::string_view firstBytes, std::string_view url) {
    const bool looksFurther = StartsWith(firstBytes, std::string_view(kAsf, 16)) ||
                              StartsWith(firstBytes, kOgg) || StartsWith(firstBytes, kEbml) ||
                              (IsFtyp(firstBytes) && IsMediaSegmentEnding(UrlEnding(url)));
    return looksFurther ? kTypeLeadingBytes : kTypeSignatureBytes;
}

std::string DecideType(std::string_view leadingBytes, std::string_view contentType, std::string_view url,
                       MovieTracks tracks) {
    std::string urlEnding = UrlEnding(url);
    const std::string_view mimeType = TypeOfMime(contentType);
    if (const std::optional<Signature> signature = SignatureOf(leadingBytes)) {
        if (IsMediaSegmentEnding(urlEnding) && SameFamily(signature->type, "mp4")) {
            return std::string(SegmentMp4Type(*signature, mimeType, urlEnding, tracks));
        }
        if (SameFamily(urlEnding, signature->type)) {
            return urlEnding;
        }
        if (!signature->exact && SameFamily(mimeType, signature->type)) {
            return std::string(mimeType);
        }
        return std::string(signature->type);
    }
    if (!mimeType.empty() && !SameFamily(urlEnding, mimeType)) {
        return std::string(mimeType);
    }
    return urlEnding;
}

}  // namespace drovan
