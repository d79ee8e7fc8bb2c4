#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "extract/streams/hls_playlist.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::string WithCrLf(std::string_view text) {
    std::string converted;
    for (const char c : text) {
        if (c == '\n') {
            converted.push_back('\r');
        }
        converted.push_back(c);
    }
    return converted;
}

bool SameRange(const std::optional<drovan::HlsByteRange>& a, const std::optional<drovan::HlsByteRange>& b) {
    return a.has_value() == b.has_value() && (!a || (a->offset == b->offset && a->length == b->length));
}

}  // namespace

// Whatever the text: segments point at maps that exist, hold ranges that end within 64 bits and URIs of one
// line within the playlist's string; the playlist keeps no more than its bound; and CRLF line ends read as LF
// ones.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<drovan::HlsPlaylist> playlist = drovan::ParseHlsPlaylist(text);
    const std::optional<drovan::HlsPlaylist> crlf = drovan::ParseHlsPlaylist(WithCrLf(text));
    Require(playlist.has_value() == crlf.has_value());
    if (!playlist) {
        return 0;
    }
    Require(playlist->segments.size() + playlist->variants.size() + playlist->renditions.size() +
                playlist->maps.size() <=
            size);
    Require(playlist->segments.size() == crlf->segments.size() &&
            playlist->variants.size() == crlf->variants.size());
    Require(playlist->Bytes() <= drovan::HlsPlaylistBound(text) &&
            playlist->mediaSequence == crlf->mediaSequence);
    for (std::size_t i = 0; i < playlist->segments.size(); ++i) {
        const drovan::HlsSegment& segment = playlist->segments[i];
        Require(std::size_t{segment.uriBegin} + segment.uriSize <= playlist->uris.size());
        const std::string_view uri = playlist->Uri(segment);
        Require(!segment.map || *segment.map < playlist->maps.size());
        Require(!uri.empty() && uri.find('\n') == std::string::npos);
        Require(segment.duration >= 0);
        Require(!segment.byteRange || segment.byteRange->length <= std::numeric_limits<std::uint64_t>::max() -
                                                                       segment.byteRange->offset);
        Require(uri == crlf->Uri(crlf->segments[i]) &&
                SameRange(segment.byteRange, crlf->segments[i].byteRange));
    }
    for (std::size_t i = 0; i < playlist->variants.size(); ++i) {
        Require(playlist->variants[i].uri == crlf->variants[i].uri);
    }
    return 0;
}
