#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace drovan {

// One segment a representation is played from: a whole URL, or a byte range of it. Its URL is kept in its
// representation's one string: templates expand to hundreds of thousands.
struct DashSegment {
    std::uint32_t urlBegin = 0;  // absolute: BaseURLs and the manifest's own URL applied
    std::uint32_t urlSize = 0;
    std::optional<std::uint64_t> rangeFirst;  // mediaRange / range / indexRange "first-last", inclusive
    std::optional<std::uint64_t> rangeLast;
    std::uint64_t time = 0;  // in the representation's timescale
    std::uint64_t duration = 0;
};

struct DashRepresentation {
    std::string id;
    std::string contentType;  // "video", "audio", "text", …: contentType, else the mimeType's top level
    std::string mimeType;
    std::string codecs;
    std::uint64_t bandwidth = 0;
    std::size_t period = 0;         // indices in document order
    std::size_t adaptationSet = 0;  // within its period
    std::uint32_t timescale = 1;
    std::optional<DashSegment> init;  // Initialization / SegmentTemplate@initialization
    // In order. With SegmentBase the one whole file (no range); the index range is not a segment.
    std::vector<DashSegment> segments;
    // How many segments the manifest lists; more than segments holds when the list was cut at the cap.
    std::uint64_t listedSegments = 0;
    std::string urls;         // the segments' and the init segment's URLs one after another
    bool singleFile = false;  // SegmentBase or a SegmentList of ranges of one URL
    bool encrypted = false;   // a ContentProtection element applies
    bool overBudget = false;  // its list was cut for the memory it may take, not by the cap

    std::string_view Url(const DashSegment& segment) const {
        return std::string_view(urls).substr(segment.urlBegin, segment.urlSize);
    }
    // A segment of that URL, its other fields as they come, for the list or as the init segment.
    DashSegment& AddSegment(std::string_view url);
    DashSegment& SetInit(std::string_view url);
};

struct DashManifest {
    bool dynamic = false;  // type="dynamic": a live manifest, its list is not final
    std::vector<DashRepresentation> representations;
    bool overBudget = false;  // representations were left out or cut for the memory they would take

    // Bytes the manifest keeps, for a memory budget.
    std::size_t Bytes() const;
};

// ISO/IEC 23009-1 MPD. None unless the document is well-formed XML whose root element is MPD. segmentCap
// bounds the segments expanded per representation (templates and timelines can claim billions);
// listedSegments still says how many were claimed. memoryCap bounds the bytes of segments and URLs of all
// representations together: those past it are cut or left out, and say so. Durations come from
// SegmentTimeline (t, d, r, r="-1" up to the period's end) or @duration with the period's or the
// presentation's duration. A representation whose addressing cannot be followed (a malformed template, range
// or number, a zero duration or timescale, counts or times past 64 bits, no absolute URL) is left out.
std::optional<DashManifest> ParseDashManifest(std::string_view xml, std::string_view manifestUrl,
                                              std::size_t segmentCap, std::size_t memoryCap);

}  // namespace drovan
