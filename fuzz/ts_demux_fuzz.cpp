// Input: a control byte, then TS bytes. The control byte's low bit asks for two sources: then the next byte
// says after how many 188-byte packets the bytes are cut. With one source, an odd next byte cuts it there
// into two runs, as at a discontinuity. The rest sets the piece size the sources are fed in, taking turns.
// Each input surveys, then writes the same bytes, and checks the file's size and head; then again with room
// for the head at the start, and in one pass, which must write the same file or say the head outgrew it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "extract/formats/mp4_box.h"
#include "extract/streams/ts_rewrap.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

template <typename Take>
void FeedInTurns(const std::vector<std::string_view>& sources, std::size_t piece, const Take& take) {
    for (std::size_t at = 0;; at += piece) {
        bool any = false;
        for (std::size_t source = 0; source < sources.size(); ++source) {
            if (at < sources[source].size()) {
                take(source, sources[source].substr(at, piece));
                any = true;
            }
        }
        if (!any) {
            return;
        }
    }
}

// ftyp and moov read as whole boxes, a free box where room was asked for, then an mdat header whose size
// reaches the end of the file.
void CheckHead(std::string_view head, std::uint64_t fileSize, bool mayHaveRoom) {
    std::uint64_t offset = 0;
    for (const std::string_view type : {"ftyp", "moov", "free"}) {
        if (type == "free" && (!mayHaveRoom || head.substr(4, 4) != "free")) {
            continue;
        }
        const auto box = drovan::mp4::DecodeBox(head);
        Check(box.has_value() && box->header.type == type);
        if (type == "moov") {
            Check(drovan::mp4::DecodeBoxes(box->payload).has_value());
        }
        offset += box->header.size;
        head.remove_prefix(static_cast<std::size_t>(box->header.size));
    }
    const auto mdat = drovan::mp4::DecodeBoxHeader(head);
    Check(mdat.has_value() && mdat->type == "mdat" && mdat->headerSize == head.size());
    Check(offset + mdat->size == fileSize);
}

struct Feeding {
    std::vector<std::string_view> sources;
    std::string_view secondRun;  // fed after a run start, when not empty
    std::size_t piece = 1;

    template <typename Take, typename StartRun>
    void Feed(const Take& take, const StartRun& startRun) const {
        FeedInTurns(sources, piece, take);
        if (!secondRun.empty()) {
            startRun();
            FeedInTurns({secondRun}, piece, take);
        }
    }
};

// Both passes; none when the survey refuses.
std::optional<std::string> TwoPasses(const Feeding& feeding, std::size_t budgetBytes,
                                     drovan::RewrapOptions options = drovan::RewrapOptions()) {
    drovan::MemoryBudget budget(budgetBytes);
    drovan::TsRewrap rewrap(budget, feeding.sources.size(), options);
    feeding.Feed([&](std::size_t source, std::string_view part) { rewrap.Survey(source, part); },
                 [&] { rewrap.SurveyRunStart(); });
    if (rewrap.FinishSurvey()) {
        return std::nullopt;
    }
    std::string file;
    const drovan::TsRewrap::Sink sink = [&](std::string_view part) {
        file += part;
        return true;
    };
    Check(rewrap.WriteHead(sink));
    Check(file.size() == rewrap.HeadSize());
    CheckHead(file, rewrap.Size(), options.streamBytes > 0);
    feeding.Feed([&](std::size_t source, std::string_view part) { Check(rewrap.Write(source, part, sink)); },
                 [&] { Check(rewrap.WriteRunStart(sink)); });
    Check(rewrap.FinishWrite(sink));
    Check(file.size() == rewrap.Size());
    return file;
}

// One pass, the head gone over its room; none when it outgrew the room.
std::optional<std::string> OnePass(const Feeding& feeding, std::size_t budgetBytes,
                                   drovan::RewrapOptions options) {
    drovan::MemoryBudget budget(budgetBytes);
    drovan::TsRewrap rewrap(budget, feeding.sources.size(), options);
    std::string file;
    const drovan::TsRewrap::Sink sink = [&](std::string_view part) {
        file += part;
        return true;
    };
    Check(rewrap.WriteWhileSurveying(sink));
    feeding.Feed([&](std::size_t source, std::string_view part) { rewrap.Survey(source, part); },
                 [&] { rewrap.SurveyRunStart(); });
    Check(!rewrap.FinishSurvey());
    if (!rewrap.HeadInRoom()) {
        return std::nullopt;
    }
    Check(rewrap.RewriteHead([&](std::uint64_t offset, std::string_view part) {
        Check(offset + part.size() <= file.size());
        file.replace(static_cast<std::size_t>(offset), part.size(), part);
        return true;
    }));
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const bool twoSources = (data[0] & 1) != 0;
    const bool twoRuns = !twoSources && (data[1] & 1) != 0;
    Feeding feeding;
    feeding.piece = 1 + static_cast<std::size_t>(data[0] >> 1) * 13;
    const std::size_t start = twoSources || twoRuns ? 2 : 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + start, size - start);
    feeding.sources = {bytes};
    if (twoSources || twoRuns) {
        const std::size_t cut = std::min<std::size_t>(bytes.size(), std::size_t{data[1]} * 188);
        feeding.sources = {bytes.substr(0, cut), bytes.substr(cut)};
    }
    if (twoRuns) {
        feeding.secondRun = feeding.sources.back();
        feeding.sources.pop_back();
    }
    // A budget small enough that a few crafted packets can reach it.
    const std::optional<std::string> compact = TwoPasses(feeding, std::size_t{1} << 20);
    if (!compact || bytes.size() < 2) {
        return 0;
    }
    drovan::RewrapOptions options;
    options.streamBytes = bytes.size();
    options.probeBytes = std::max<std::size_t>(1, bytes.size() / (2 + data[0] % 3));
    constexpr std::size_t kRoomyBudget = std::size_t{16} << 20;
    const std::optional<std::string> roomy = TwoPasses(feeding, kRoomyBudget, options);
    Check(roomy.has_value());
    const std::optional<std::string> once = OnePass(feeding, kRoomyBudget, options);
    Check(once ? *once == *roomy : *roomy == *compact);
    return 0;
}
