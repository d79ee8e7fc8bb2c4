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

struct HlsSegment {
    std::string uri;                  // as written
    double duration = 0;              // #EXTINF seconds
    std::uint64_t mediaSequence = 0;  // #EXT-X-MEDIA-SEQUENCE plus the segment's index
    std::optional<HlsByteRange> byteRange;
    std::optional<std::size_t> map;  // index into HlsPlaylist::maps
    bool discontinuity = false;      // #EXT-X-DISCONTINUITY right before it
    bool encrypted = false;          // under an #EXT-X-KEY whose METHOD is not NONE
};

// #EXT-X-STREAM-INF and the URI line after it.
struct HlsVariant {
    std::string uri;
    std::uint64_t bandwidth = 0;
    std::string codecs;
    std::string audioGroup;  // AUDIO=
};

// #EXT-X-MEDIA.
struct HlsRendition {
    std::string type;  // AUDIO, VIDEO, SUBTITLES, CLOSED-CAPTIONS
    std::string groupId;
    std::string name;
    std::string uri;  // empty when the rendition is carried in the variant's own segments
    bool isDefault = false;
};

struct HlsPlaylist {
    // A master playlist names variants and renditions; a media playlist, segments.
    bool master = false;
    std::vector<HlsVariant> variants;
    std::vector<HlsRendition> renditions;
    std::vector<HlsSegment> segments;
    std::vector<HlsMap> maps;
    double targetDuration = 0;
    bool endList = false;  // #EXT-X-ENDLIST: the list is final
};

// RFC 8216. None unless the text starts with #EXTM3U (after an optional UTF-8 BOM). Unknown tags, bad
// attributes and stray lines are passed over as players do.
std::optional<HlsPlaylist> ParseHlsPlaylist(std::string_view text);

}  // namespace drovan
