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
constexpr std::size_t kMemory = std::size_t{8} << 20;

void RequireSound(const drovan::DashRepresentation& representation, const drovan::DashSegment& segment) {
    Require(std::size_t{segment.urlBegin} + segment.urlSize <= representation.urls.size());
    const std::string_view url = representation.Url(segment);
    const std::size_t colon = url.find(':');
    Require(colon != std::string::npos && colon > 0 && url.find('/') > colon);
    Require(segment.rangeFirst.has_value() == segment.rangeLast.has_value());
    Require(!segment.rangeFirst || *segment.rangeFirst <= *segment.rangeLast);
}

}  // namespace

// Whatever the XML: at most the cap of segments per representation and never more than were listed, absolute
// URLs, ranges in order, the memory kept within what was given (what a cut left says so); and a smaller cap
// lists the same representations, each its first segments of the larger cap's, unless memory cut the larger.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view xml(reinterpret_cast<const char*>(data), size);
    const std::optional<drovan::DashManifest> manifest =
        drovan::ParseDashManifest(xml, kManifestUrl, kCap, kMemory);
    const std::optional<drovan::DashManifest> small =
        drovan::ParseDashManifest(xml, kManifestUrl, kSmallCap, kMemory);
    Require(manifest.has_value() == small.has_value());
    if (!manifest) {
        return 0;
    }
    std::size_t urlBytes = 0;
    for (const drovan::DashRepresentation& representation : manifest->representations) {
        urlBytes += representation.urls.size() + representation.segments.size() * sizeof(drovan::DashSegment);
    }
    Require(urlBytes <= kMemory);
    Require(manifest->representations.size() <= small->representations.size());
    for (std::size_t i = 0; i < manifest->representations.size(); ++i) {
        const drovan::DashRepresentation& representation = manifest->representations[i];
        const drovan::DashRepresentation& cut = small->representations[i];
        Require(representation.segments.size() <= kCap && representation.timescale > 0);
        Require(representation.segments.size() <= representation.listedSegments);
        Require(cut.id == representation.id && cut.listedSegments == representation.listedSegments);
        Require(cut.segments.size() <= kSmallCap);
        for (std::size_t j = 0; j < representation.segments.size(); ++j) {
            RequireSound(representation, representation.segments[j]);
            Require(j >= cut.segments.size() ||
                    cut.Url(cut.segments[j]) == representation.Url(representation.segments[j]));
        }
        Require(representation.overBudget || representation.segments.size() >= cut.segments.size());
        if (representation.init) {
            RequireSound(representation, *representation.init);
        }
    }
    return 0;
}
