// ProbeInitSegment and ProbeMediaSegment on the same bytes: what they report must agree with the bytes.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "extract/streams/media_probe.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool IsFourcc(const std::string& value) {
    return value.size() == 4;
}

void CheckInit(std::string_view bytes) {
    const auto probe = drovan::ProbeInitSegment(bytes);
    if (!probe) {
        return;
    }
    Require(bytes.find("moov") != std::string_view::npos);
    Require(probe->majorBrand.empty() || IsFourcc(probe->majorBrand));
    // A track needs at least a trak, tkhd, mdia, mdhd, hdlr, minf, stbl, stsd and an entry.
    Require(probe->tracks.size() <= bytes.size() / (9 * 8));
    for (const drovan::Mp4Track& track : probe->tracks) {
        Require(IsFourcc(track.handler) && IsFourcc(track.sampleEntry));
        Require(track.originalFormat.empty() || IsFourcc(track.originalFormat));
        Require(track.protectionScheme.empty() || (IsFourcc(track.protectionScheme) && track.encrypted));
        Require(probe->fragmented || track.defaultSampleDuration == 0);
    }
}

void CheckFragment(std::string_view bytes) {
    const auto probe = drovan::ProbeMediaSegment(bytes);
    if (!probe) {
        return;
    }
    Require(bytes.find("moof") != std::string_view::npos && bytes.find("mfhd") != std::string_view::npos);
    // Each sample lasts less than 2^32; an empty fragment lasts its one default duration.
    const std::uint64_t longest = std::uint64_t{std::max<std::uint32_t>(probe->sampleCount, 1)} *
                                  std::numeric_limits<std::uint32_t>::max();
    Require(!probe->duration || *probe->duration <= longest);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckInit(bytes);
    CheckFragment(bytes);
    return 0;
}
