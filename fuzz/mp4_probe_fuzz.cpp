// ProbeInitSegment, ProbeTrackKinds and ProbeMediaSegment on the same bytes: what they report must agree with
// the bytes.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "extract/formats/movie_tracks.h"
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
    Require(!probe->seconds || (std::isfinite(*probe->seconds) && *probe->seconds > 0));
    // The lenient reading of a moov that may be cut sees the same kinds in a whole one.
    const auto kinds = drovan::ProbeTrackKinds(bytes);
    Require(kinds.has_value());
    const auto anyHandler = [&](std::string_view handler) {
        return std::any_of(probe->tracks.begin(), probe->tracks.end(),
                           [&](const drovan::Mp4Track& track) { return track.handler == handler; });
    };
    Require(kinds->picture == anyHandler("vide") && kinds->sound == anyHandler("soun"));
}

void CheckKinds(std::string_view bytes) {
    const auto kinds = drovan::ProbeTrackKinds(bytes);
    Require(!kinds || bytes.find("moov") != std::string_view::npos);
    // Cut anywhere, the bytes never show more than the whole did.
    for (const std::size_t cut : {bytes.size() / 2, bytes.size() / 3}) {
        const auto shorter = drovan::ProbeTrackKinds(bytes.substr(0, cut));
        if (shorter) {
            Require(kinds.has_value());
            Require((!shorter->picture || kinds->picture) && (!shorter->sound || kinds->sound));
            Require(!shorter->allSeen || kinds->allSeen);
        }
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
    CheckKinds(bytes);
    CheckFragment(bytes);
    return 0;
}
