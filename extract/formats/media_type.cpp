#include "extract/formats/media_type.h"

#include <algorithm>
#include <optional>

#include "extract/formats/url_name.h"

namespace drovan {
namespace {

// Endings that name the same kind of file, so that a URL's own choice among them is kept.
constexpr std::string_view kFamilies[] = {
    " jpg jpeg jpe jfif ",
    " mp4 m4a m4v m4b m4p mov qt 3gp 3g2 f4v f4a ",
    " rm rmvb ra ",
    " asf wmv wma ",
    " ogg oga ogv opus spx ogx ",
    " webm mkv mka mk3d ",
    " wav wave ",
    " mid midi kar ",
    " zip jar apk docx xlsx pptx odt ods odp epub xpi ",
    " html htm shtml xhtml ",
    " js mjs ",
    " heic heif ",
    " tif tiff ",
};

bool SameFamily(std::string_view a, std::string_view b) {
    if (a == b) {
        return true;
    }
    if (a.empty() || b.empty()) {
        return false;
    }
    const std::string spacedA = " " + std::string(a) + " ";
    const std::string spacedB = " " + std::string(b) + " ";
    for (std::string_view family : kFamilies) {
        if (family.find(spacedA) != std::string_view::npos &&
            family.find(spacedB) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

struct Signature {
    std::string type;
    // The bytes name the exact type; otherwise a Content-Type of the same family may say more.
    bool exact = true;
};

bool StartsWith(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
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

constexpr MimeType kMimeTypes[] = {
    {"video/x-flv", "flv"},
    {"video/flv", "flv"},
    {"video/mp4", "mp4"},
    {"audio/mp4", "m4a"},
    {"audio/x-m4a", "m4a"},
    {"video/x-m4v", "m4v"},
    {"video/quicktime", "mov"},
    {"video/3gpp", "3gp"},
    {"audio/3gpp", "3gp"},
    {"video/3gpp2", "3g2"},
    {"audio/mpeg", "mp3"},
    {"audio/mp3", "mp3"},
    {"audio/x-mpeg", "mp3"},
    {"audio/mpeg3", "mp3"},
    {"audio/x-mp3", "mp3"},
    {"audio/aac", "aac"},
    {"audio/flac", "flac"},
    {"audio/x-flac", "flac"},
    {"application/x-shockwave-flash", "swf"},
    {"image/jpeg", "jpg"},
    {"image/jpg", "jpg"},
    {"image/pjpeg", "jpg"},
    {"image/png", "png"},
    {"image/apng", "png"},
    {"image/gif", "gif"},
    {"image/webp", "webp"},
    {"image/avif", "avif"},
    {"image/heic", "heic"},
    {"image/bmp", "bmp"},
    {"image/x-icon", "ico"},
    {"image/vnd.microsoft.icon", "ico"},
    {"image/tiff", "tif"},
    {"image/svg+xml", "svg"},
    {"video/x-msvideo", "avi"},
    {"video/avi", "avi"},
    {"audio/wav", "wav"},
    {"audio/x-wav", "wav"},
    {"audio/wave", "wav"},
    {"audio/midi", "mid"},
    {"audio/x-midi", "mid"},
    {"video/x-ms-asf", "asf"},
    {"video/x-ms-wmv", "wmv"},
    {"audio/x-ms-wma", "wma"},
    {"application/vnd.rn-realmedia", "rm"},
    {"application/vnd.rn-realmedia-vbr", "rmvb"},
    {"audio/x-pn-realaudio", "ra"},
    {"audio/vnd.rn-realaudio", "ra"},
    {"audio/ogg", "ogg"},
    {"application/ogg", "ogg"},
    {"video/ogg", "ogv"},
    {"audio/opus", "opus"},
    {"video/webm", "webm"},
    {"audio/webm", "webm"},
    {"video/x-matroska", "mkv"},
    {"audio/x-matroska", "mka"},
    {"video/mp2t", "ts"},
    {"application/vnd.apple.mpegurl", "m3u8"},
    {"application/x-mpegurl", "m3u8"},
    {"application/dash+xml", "mpd"},
    {"application/pdf", "pdf"},
    {"application/zip", "zip"},
    {"application/x-zip-compressed", "zip"},
    {"application/wasm", "wasm"},
    {"font/woff", "woff"},
    {"font/woff2", "woff2"},
    {"text/html", "html"},
    {"application/xhtml+xml", "html"},
    {"text/css", "css"},
    {"text/javascript", "js"},
    {"application/javascript", "js"},
    {"application/x-javascript", "js"},
    {"application/ecmascript", "js"},
    {"application/json", "json"},
    {"text/json", "json"},
    {"application/xml", "xml"},
    {"text/xml", "xml"},
    {"text/vtt", "vtt"},
};

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// Generic types (octet streams, text/plain) and unknown ones say nothing.
std::string_view TypeOfMime(std::string_view contentType) {
    std::string_view mime = contentType.substr(0, contentType.find(';'));
    while (!mime.empty() && (mime.front() == ' ' || mime.front() == '\t')) {
        mime.remove_prefix(1);
    }
    while (!mime.empty() && (mime.back() == ' ' || mime.back() == '\t')) {
        mime.remove_suffix(1);
    }
    const std::string lower = Lower(mime);
    for (const MimeType& entry : kMimeTypes) {
        if (entry.mime == lower) {
            return entry.type;
        }
    }
    return {};
}

bool IsEndingCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string UrlEnding(std::string_view url) {
    const std::string segment = Lower(PercentDecode(UrlLastSegment(url)));
    const std::size_t dot = segment.rfind('.');
    constexpr std::size_t kLongestEnding = 10;
    if (dot == std::string::npos || dot + 1 == segment.size() || segment.size() - dot - 1 > kLongestEnding) {
        return {};
    }
    const std::string ending = segment.substr(dot + 1);
    return std::all_of(ending.begin(), ending.end(), IsEndingCharacter) ? ending : std::string();
}

std::size_t TypeLeadingBytesWanted(std::string_view firstBytes) {
    const bool looksFurther = StartsWith(firstBytes, std::string_view(kAsf, 16)) ||
                              StartsWith(firstBytes, kOgg) || StartsWith(firstBytes, kEbml);
    return looksFurther ? kTypeLeadingBytes : kTypeSignatureBytes;
}

std::string DecideType(std::string_view leadingBytes, std::string_view contentType, std::string_view url) {
    const std::string urlEnding = UrlEnding(url);
    const std::string_view mimeType = TypeOfMime(contentType);
    if (const std::optional<Signature> signature = SignatureOf(leadingBytes)) {
        if (SameFamily(urlEnding, signature->type)) {
            return urlEnding;
        }
        if (!signature->exact && SameFamily(mimeType, signature->type)) {
            return std::string(mimeType);
        }
        return signature->type;
    }
    if (!mimeType.empty()) {
        return SameFamily(urlEnding, mimeType) ? urlEnding : std::string(mimeType);
    }
    return urlEnding;
}

}  // namespace drovan
