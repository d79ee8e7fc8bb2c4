#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "extract/streams/dash_manifest.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

constexpr std::string_view kManifestUrl = "https://cdn.example/show/manifest.mpd";
constexpr std::size_t kCap = 1000;
constexpr std::size_t kSmallCap = 7;

// Bytes of URLs the manifest expanded to.
std::size_t UrlBytes(const drovan::DashManifest& manifest) {
    std::size_t bytes = 0;
    for (const drovan::DashRepresentation& representation : manifest.representations) {
        for (const drovan::DashSegment& segment : representation.segments) {
            bytes += segment.url.size();
        }
    }
    return bytes;
}

void RequireSound(const drovan::DashSegment& segment) {
    const std::size_t colon = segment.url.find(':');
    Require(colon != std::string::npos && colon > 0 && segment.url.find('/') > colon);
    Require(segment.rangeFirst.has_value() == segment.rangeLast.has_value());
    Require(!segment.rangeFirst || *segment.rangeFirst <= *segment.rangeLast);
}

}  // namespace

// Whatever the XML: at most the cap of segments per representation and never more than were listed, absolute
// URLs, ranges in order, the budget kept; and a smaller cap lists the same representations, each its first
// segments of the larger cap's.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view xml(reinterpret_cast<const char*>(data), size);
    const std::optional<drovan::DashManifest> manifest = drovan::ParseDashManifest(xml, kManifestUrl, kCap);
    const std::optional<drovan::DashManifest> small = drovan::ParseDashManifest(xml, kManifestUrl, kSmallCap);
    Require(manifest.has_value() == small.has_value());
    if (!manifest) {
        return 0;
    }
    Require(UrlBytes(*manifest) <= drovan::kDashExpansionBudget);
    Require(manifest->representations.size() <= small->representations.size());
    for (std::size_t i = 0; i < manifest->representations.size(); ++i) {
        const drovan::DashRepresentation& representation = manifest->representations[i];
        const drovan::DashRepresentation& cut = small->representations[i];
        Require(representation.segments.size() <= kCap && representation.timescale > 0);
        Require(representation.segments.size() <= representation.listedSegments);
        Require(cut.id == representation.id && cut.listedSegments == representation.listedSegments);
        Require(cut.segments.size() <= kSmallCap);
        for (std::size_t j = 0; j < representation.segments.size(); ++j) {
            RequireSound(representation.segments[j]);
            Require(j >= cut.segments.size() || cut.segments[j].url == representation.segments[j].url);
        }
        if (representation.init) {
            RequireSound(*representation.init);
        }
    }
    return 0;
}
