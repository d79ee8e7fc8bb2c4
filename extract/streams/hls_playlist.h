#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace drovan {

// #EXT-X-BYTERANGE and BYTERANGE= attributes, with the offset an omitted one implies already filled in.
struct HlsByteRange {
    std::uint64_t length = 0;
    std::uint64_t offset = 0;
};

// #EXT-X-MAP: the init segment of the segments after it, until the next one.
struct HlsMap {
    std::string uri;  // as written
    std::optional<HlsByteRange> byteRange;
};

// A playlist may list hundreds of thousands of segments: each keeps its URI in the playlist's one string.
struct HlsSegment {
    std::uint32_t uriBegin = 0;  // in HlsPlaylist::uris, as written
    std::uint32_t uriSize = 0;
    double duration = 0;  // #EXTINF seconds
    std::optional<HlsByteRange> byteRange;
    std::optional<std::uint32_t> map;  // index into HlsPlaylist::maps
    bool discontinuity = false;        // #EXT-X-DISCONTINUITY right before it
    bool encrypted = false;            // under an #EXT-X-KEY whose METHOD is not NONE
};

// #EXT-X-STREAM-INF and the URI line after it.
struct HlsVariant {
    std::string uri;
    std::uint64_t bandwidth = 0;
    std::string codecs;
    std::string audioGroup;     // AUDIO=
    std::string subtitleGroup;  // SUBTITLES=
};

// #EXT-X-MEDIA.
struct HlsRendition {
    std::string type;  // AUDIO, VIDEO, SUBTITLES, CLOSED-CAPTIONS
    std::string groupId;
    std::string name;
    std::string uri;  // empty when the rendition is carried in the variant's own segments
    bool isDefault = false;
    std::string language;  // LANGUAGE=, an RFC 5646 tag such as "en"
};

struct HlsPlaylist {
    // A master playlist names variants and renditions; a media playlist, segments.
    bool master = false;
    std::vector<HlsVariant> variants;
    std::vector<HlsRendition> renditions;
    std::vector<HlsSegment> segments;
    std::vector<HlsMap> maps;
    std::string uris;                 // the segments' URIs one after another
    std::uint64_t mediaSequence = 0;  // #EXT-X-MEDIA-SEQUENCE: the first segment's; the others number on
    double targetDuration = 0;
    bool endList = false;  // #EXT-X-ENDLIST: the list is final

    std::string_view Uri(const HlsSegment& segment) const {
        return std::string_view(uris).substr(segment.uriBegin, segment.uriSize);
    }
    // A segment of that URI at the end, its other fields as they come.
    HlsSegment& AddSegment(std::string_view uri);
    // Bytes the playlist keeps, for a memory budget.
    std::size_t Bytes() const;
};

// At least the bytes ParsePlaylist takes for text while it reads it, for a memory budget.
std::size_t HlsPlaylistBound(std::string_view text);

// RFC 8216. None unless the text starts with #EXTM3U (after an optional UTF-8 BOM) and is under 4 GiB.
// Unknown tags, bad attributes and stray lines are passed over as players do.
std::optional<HlsPlaylist> ParseHlsPlaylist(std::string_view text);

}  // namespace drovan
