// Input: a control byte, then TS bytes. The control byte's low bit asks for two sources: then the next byte
// says after how many 188-byte packets the bytes are cut. With one source, an odd next byte cuts it there
// into two runs, as at a discontinuity. The rest sets the piece size the sources are fed in, taking turns.
// Each input surveys, then writes the same bytes, and checks the file's size and head.
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

// ftyp and moov read as whole boxes, then an mdat header whose size reaches the end of the file.
void CheckHead(std::string_view head, std::uint64_t fileSize) {
    std::uint64_t offset = 0;
    for (const std::string_view type : {"ftyp", "moov"}) {
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const bool twoSources = (data[0] & 1) != 0;
    const bool twoRuns = !twoSources && (data[1] & 1) != 0;
    const std::size_t piece = 1 + static_cast<std::size_t>(data[0] >> 1) * 13;
    const std::size_t start = twoSources || twoRuns ? 2 : 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + start, size - start);
    std::vector<std::string_view> sources = {bytes};
    std::string_view secondRun;
    if (twoSources || twoRuns) {
        const std::size_t cut = std::min<std::size_t>(bytes.size(), std::size_t{data[1]} * 188);
        sources = {bytes.substr(0, cut), bytes.substr(cut)};
    }
    if (twoRuns) {
        secondRun = sources.back();
        sources.pop_back();
    }
    // A budget small enough that a few crafted packets can reach it.
    drovan::MemoryBudget budget(std::size_t{1} << 20);
    drovan::TsRewrap rewrap(budget, sources.size());
    const auto survey = [&](std::size_t source, std::string_view part) { rewrap.Survey(source, part); };
    FeedInTurns(sources, piece, survey);
    if (twoRuns) {
        rewrap.SurveyRunStart();
        FeedInTurns({secondRun}, piece, survey);
    }
    if (rewrap.FinishSurvey()) {
        return 0;
    }
    std::string head;
    Check(rewrap.WriteHead([&](std::string_view part) {
        head += part;
        return true;
    }));
    Check(head.size() == rewrap.HeadSize());
    CheckHead(head, rewrap.Size());
    std::uint64_t written = 0;
    const drovan::TsRewrap::Sink sink = [&](std::string_view part) {
        written += part.size();
        return true;
    };
    const auto write = [&](std::size_t source, std::string_view part) {
        Check(rewrap.Write(source, part, sink));
    };
    FeedInTurns(sources, piece, write);
    if (twoRuns) {
        Check(rewrap.WriteRunStart(sink));
        FeedInTurns({secondRun}, piece, write);
    }
    Check(rewrap.FinishWrite(sink));
    Check(written == rewrap.Size() - head.size());
    return 0;
}
