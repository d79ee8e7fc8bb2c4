#include "extract/streams/hls_playlist.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

#include "extract/ascii.h"

namespace drovan {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

using Attributes = std::vector<std::pair<std::string_view, std::string_view>>;

// RFC 8216 §4.2: NAME=value pairs split by commas, a quoted value keeping its commas (without its quotes).
// A pair without "=" is passed over.
Attributes ParseAttributes(std::string_view list) {
    Attributes attributes;
    while (!list.empty()) {
        const std::size_t equals = list.find('=');
        const std::size_t comma = list.find(',');
        if (equals == std::string_view::npos || (comma != std::string_view::npos && comma < equals)) {
            list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
            continue;
        }
        const std::string_view name = TrimBlanks(list.substr(0, equals));
        list = TrimBlanks(list.substr(equals + 1));
        std::string_view value;
        if (!list.empty() && list.front() == '"') {
            const std::size_t close = list.find('"', 1);
            value = list.substr(1, close == std::string_view::npos ? close : close - 1);
            list.remove_prefix(close == std::string_view::npos ? list.size() : close + 1);
            list.remove_prefix(std::min(list.find(','), list.size()));
        } else {
            value = TrimBlanks(list.substr(0, list.find(',')));
            list.remove_prefix(std::min(list.find(','), list.size()));
        }
        if (!list.empty()) {
            list.remove_prefix(1);
        }
        attributes.emplace_back(name, value);
    }
    return attributes;
}

std::string_view AttributeOf(const Attributes& attributes, std::string_view name) {
    for (const auto& [attributeName, value] : attributes) {
        if (attributeName == name) {
            return value;
        }
    }
    return {};
}

std::optional<std::uint64_t> ParseInteger(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> ParseSeconds(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        value < 0) {
        return std::nullopt;
    }
    return value;
}

// "<length>[@<offset>]", the offset none when omitted.
std::optional<std::pair<std::uint64_t, std::optional<std::uint64_t>>> ParseByteRange(std::string_view text) {
    const std::size_t at = text.find('@');
    const std::optional<std::uint64_t> length = ParseInteger(text.substr(0, at));
    if (!length) {
        return std::nullopt;
    }
    if (at == std::string_view::npos) {
        return std::make_pair(*length, std::optional<std::uint64_t>());
    }
    const std::optional<std::uint64_t> offset = ParseInteger(text.substr(at + 1));
    if (!offset || *length > std::numeric_limits<std::uint64_t>::max() - *offset) {
        return std::nullopt;
    }
    return std::make_pair(*length, offset);
}

class PlaylistReader {
  public:
    void ReadLine(std::string_view line);
    HlsPlaylist Finish() &&;

  private:
    void ReadTag(std::string_view name, std::string_view value);
    void ReadUri(std::string_view uri);
    std::optional<HlsByteRange> PlaceRange(std::string_view uri, const std::optional<std::uint64_t>& offset,
                                           std::uint64_t length);

    HlsPlaylist m_playlist;
    std::uint64_t m_firstSequence = 0;
    std::optional<double> m_duration;  // the #EXTINF waiting for its URI
    std::optional<std::pair<std::uint64_t, std::optional<std::uint64_t>>> m_range;
    std::optional<HlsVariant> m_variant;
    std::optional<std::uint32_t> m_map;
    bool m_discontinuity = false;
    bool m_encrypted = false;
    std::string_view m_lastRangeUri;  // where the last sub-range was, for an omitted offset
    std::uint64_t m_lastRangeEnd = 0;
};

// The offset an omitted one implies: the end of the last sub-range if it was of the same URI.
std::optional<HlsByteRange> PlaylistReader::PlaceRange(std::string_view uri,
                                                       const std::optional<std::uint64_t>& offset,
                                                       std::uint64_t length) {
    const std::uint64_t start = offset ? *offset : (uri == m_lastRangeUri ? m_lastRangeEnd : 0);
    if (length > std::numeric_limits<std::uint64_t>::max() - start) {
        return std::nullopt;
    }
    m_lastRangeUri = uri;
    m_lastRangeEnd = start + length;
    return HlsByteRange{length, start};
}

void PlaylistReader::ReadTag(std::string_view name, std::string_view value) {
    if (name == "#EXTINF") {
        m_duration = ParseSeconds(TrimBlanks(value.substr(0, value.find(','))));
        if (!m_duration) {
            m_duration = 0.0;
        }
    } else if (name == "#EXT-X-TARGETDURATION") {
        m_playlist.targetDuration = ParseSeconds(value).value_or(m_playlist.targetDuration);
    } else if (name == "#EXT-X-MEDIA-SEQUENCE") {
        m_firstSequence = ParseInteger(value).value_or(m_firstSequence);
    } else if (name == "#EXT-X-BYTERANGE") {
        m_range = ParseByteRange(value);
    } else if (name == "#EXT-X-DISCONTINUITY") {
        m_discontinuity = true;
    } else if (name == "#EXT-X-ENDLIST") {
        m_playlist.endList = true;
    } else if (name == "#EXT-X-KEY") {
        const std::string_view method = AttributeOf(ParseAttributes(value), "METHOD");
        m_encrypted = method.empty() ? m_encrypted : method != "NONE";
    } else if (name == "#EXT-X-MAP") {
        const Attributes attributes = ParseAttributes(value);
        HlsMap map{std::string(AttributeOf(attributes, "URI")), std::nullopt};
        const auto range = ParseByteRange(AttributeOf(attributes, "BYTERANGE"));
        if (range) {
            map.byteRange =
                PlaceRange(AttributeOf(attributes, "URI"), range->second.value_or(0), range->first);
        }
        m_map = static_cast<std::uint32_t>(m_playlist.maps.size());
        m_playlist.maps.push_back(std::move(map));
    } else if (name == "#EXT-X-STREAM-INF") {
        const Attributes attributes = ParseAttributes(value);
        m_playlist.master = true;
        m_variant = HlsVariant{{},
                               ParseInteger(AttributeOf(attributes, "BANDWIDTH")).value_or(0),
                               std::string(AttributeOf(attributes, "CODECS")),
                               std::string(AttributeOf(attributes, "AUDIO")),
                               std::string(AttributeOf(attributes, "SUBTITLES"))};
    } else if (name == "#EXT-X-MEDIA") {
        const Attributes attributes = ParseAttributes(value);
        m_playlist.master = true;
        m_playlist.renditions.push_back(
            {std::string(AttributeOf(attributes, "TYPE")), std::string(AttributeOf(attributes, "GROUP-ID")),
             std::string(AttributeOf(attributes, "NAME")), std::string(AttributeOf(attributes, "URI")),
             AttributeOf(attributes, "DEFAULT") == "YES", std::string(AttributeOf(attributes, "LANGUAGE"))});
    }
}

void PlaylistReader::ReadUri(std::string_view uri) {
    if (m_variant) {
        m_variant->uri = std::string(uri);
        m_playlist.variants.push_back(std::move(*m_variant));
        m_variant.reset();
        return;
    }
    if (!m_duration) {
        return;
    }
    HlsSegment& segment = m_playlist.AddSegment(uri);
    segment.duration = *m_duration;
    if (m_range) {
        segment.byteRange = PlaceRange(uri, m_range->second, m_range->first);
    }
    segment.map = m_map;
    segment.discontinuity = m_discontinuity;
    segment.encrypted = m_encrypted;
    m_duration.reset();
    m_range.reset();
    m_discontinuity = false;
}

void PlaylistReader::ReadLine(std::string_view line) {
    line = TrimBlanks(line, " \t\r");
    if (line.empty()) {
        return;
    }
    if (line.front() != '#') {
        ReadUri(line);
        return;
    }
    const std::size_t colon = line.find(':');
    ReadTag(line.substr(0, colon),
            colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1));
}

HlsPlaylist PlaylistReader::Finish() && {
    m_playlist.mediaSequence = m_firstSequence;
    m_playlist.segments.shrink_to_fit();
    m_playlist.uris.shrink_to_fit();
    return std::move(m_playlist);
}

}  // namespace

HlsSegment& HlsPlaylist::AddSegment(std::string_view uri) {
    HlsSegment& segment = segments.emplace_back();
    segment.uriBegin = static_cast<std::uint32_t>(uris.size());
    segment.uriSize = static_cast<std::uint32_t>(uri.size());
    uris.append(uri);
    return segment;
}

std::size_t HlsPlaylist::Bytes() const {
    std::size_t bytes = sizeof(HlsPlaylist) + uris.capacity() + segments.capacity() * sizeof(HlsSegment) +
                        maps.capacity() * sizeof(HlsMap) + variants.capacity() * sizeof(HlsVariant) +
                        renditions.capacity() * sizeof(HlsRendition);
    for (const HlsMap& map : maps) {
        bytes += map.uri.capacity();
    }
    for (const HlsVariant& variant : variants) {
        bytes += variant.uri.capacity() + variant.codecs.capacity() + variant.audioGroup.capacity();
    }
    for (const HlsRendition& rendition : renditions) {
        bytes += rendition.type.capacity() + rendition.groupId.capacity() + rendition.name.capacity() +
                 rendition.uri.capacity();
    }
    return bytes;
}

std::size_t HlsPlaylistBound(std::string_view text) {
    // A URI line is at most one segment, a tag line at most one variant, rendition or map, their strings at
    // most the text; a vector may hold twice what it uses, and a string costs a heap block besides.
    constexpr std::size_t kBlock = 32;
    constexpr std::string_view kRecordTags[] = {"#EXT-X-STREAM-INF", "#EXT-X-MEDIA", "#EXT-X-MAP"};
    const std::size_t size = text.size();
    std::size_t uriLines = 0;
    std::size_t tagLines = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = TrimBlanks(text.substr(0, end), " \t\r");
        const std::string_view name = line.substr(0, line.find(':'));
        tagLines += std::find(std::begin(kRecordTags), std::end(kRecordTags), name) != std::end(kRecordTags);
        uriLines += !line.empty() && line.front() != '#' ? 1 : 0;
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    const std::size_t perTag = std::max(
        {sizeof(HlsVariant) + 3 * kBlock, sizeof(HlsRendition) + 4 * kBlock, sizeof(HlsMap) + kBlock});
    return sizeof(HlsPlaylist) + kBlock + 2 * (uriLines * sizeof(HlsSegment) + tagLines * perTag + size);
}

std::optional<HlsPlaylist> ParseHlsPlaylist(std::string_view text) {
    if (text.substr(0, kBom.size()) == kBom) {
        text.remove_prefix(kBom.size());
    }
    const std::size_t firstEnd = text.find('\n');
    if (TrimBlanks(text.substr(0, firstEnd), " \t\r") != "#EXTM3U" ||
        text.size() > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    PlaylistReader reader;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        reader.ReadLine(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return std::move(reader).Finish();
}

}  // namespace drovan
