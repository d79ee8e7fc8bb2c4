// Entries of a made-up cache (URLs, partitions, bodies read as playlists, manifests or segments) grouped into
// streams: every index stays in range, no stream repeats a part, and no entry is joined into two streams
// that would both be written.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "extract/streams/stream_finder.h"

using namespace drovan;

namespace {

constexpr std::size_t kMemory = std::size_t{1} << 20;

StreamEntry Entry(FuzzedDataProvider& input) {
    StreamEntry entry;
    entry.cache = input.ConsumeIntegralInRange<std::size_t>(0, 1);
    entry.partition = input.ConsumeBool() ? "" : "1/0/_dk_x ";
    entry.url = "http://h/" + input.ConsumeRandomLengthString(48);
    entry.whole = input.ConsumeBool();
    entry.size = input.ConsumeIntegral<std::uint16_t>();
    const std::string body = input.ConsumeRandomLengthString(2048);
    switch (input.ConsumeIntegralInRange(0, 5)) {
        case 0:
            if (std::optional<HlsPlaylist> playlist = ParseHlsPlaylist(body)) {
                entry.playlist = std::make_shared<const HlsPlaylist>(std::move(*playlist));
            }
            break;
        case 1:
            if (std::optional<DashManifest> manifest = ParseDashManifest(body, entry.url, 32, kMemory)) {
                entry.manifest = std::make_shared<const DashManifest>(std::move(*manifest));
            }
            break;
        case 2:
            entry.ts = ProbeTsSegment(body);
            break;
        case 3:
            entry.fragment = ProbeMediaSegment(body);
            break;
        case 4:
            entry.webvtt = body.rfind("WEBVTT", 0) == 0;
            break;
        default:
            if (std::optional<Mp4InitProbe> init = ProbeInitSegment(body)) {
                entry.init = std::make_shared<const Mp4InitProbe>(std::move(*init));
            }
            break;
    }
    return entry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const bool partial = input.ConsumeBool();
    std::vector<StreamEntry> entries;
    while (input.remaining_bytes() > 0 && entries.size() < 48) {
        entries.push_back(Entry(input));
    }
    std::set<std::size_t> written;
    const std::vector<FoundStream> streams = FindStreams(entries, false, partial);
    for (const FoundStream& stream : streams) {
        if (stream.subtitlesOf &&
            (*stream.subtitlesOf >= streams.size() || streams[*stream.subtitlesOf].subtitlesOf)) {
            std::abort();
        }
        if (!std::is_sorted(stream.runStarts.begin(), stream.runStarts.end()) ||
            (!stream.runStarts.empty() &&
             (stream.runStarts.front() == 0 || stream.runStarts.back() >= stream.parts.size()))) {
            std::abort();
        }
        std::vector<std::size_t> joined = stream.parts;
        joined.insert(joined.end(), stream.soundParts.begin(), stream.soundParts.end());
        const std::set<std::size_t> parts(joined.begin(), joined.end());
        for (const std::size_t index : stream.members) {
            if (index >= entries.size()) {
                std::abort();
            }
        }
        if (parts.size() != joined.size() || stream.present > joined.size() + 2) {
            std::abort();
        }
        if (stream.verdict != StreamVerdict::Complete) {
            continue;
        }
        for (const std::size_t part : parts) {
            if (part >= entries.size() || !entries[part].whole || !written.insert(part).second) {
                std::abort();
            }
        }
    }
    return 0;
}
