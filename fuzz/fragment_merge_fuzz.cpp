// Input: a piece size byte, two 16-bit big-endian lengths, the two init segments of those lengths, then
// fragment bytes (segments, or a whole fragmented file). The inits are merged, and judged as two runs of one
// track; the fragment bytes are scanned and rewritten, fed in pieces of that size, also as the first fragment
// of the second run (its decode times moved, its parameter sets in band).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "extract/streams/fragment_merge.h"
#include "extract/formats/mp4_box.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void CheckMergedInit(const std::vector<std::string_view>& inits) {
    const auto merged = drovan::MergeInitSegments(inits);
    if (!merged) {
        return;
    }
    const auto top = drovan::mp4::DecodeBoxes(merged->bytes);
    Check(top.has_value());
    const auto moov = drovan::mp4::FindBox(*top, "moov");
    Check(moov.has_value());
    const auto movie = drovan::mp4::DecodeBoxes(moov->payload);
    Check(movie.has_value());
    std::size_t tracks = 0;
    for (const drovan::mp4::Box& box : *movie) {
        tracks += box.header.type == "trak" ? 1 : 0;
    }
    Check(tracks == inits.size() && merged->trackIds.size() == inits.size());
    for (std::size_t i = 0; i < inits.size(); ++i) {
        Check(merged->trackIds[i] == i + 1);
    }
}

// The bytes of the top-level boxes the rewriter drops; none when the boxes do not read.
std::optional<std::size_t> DroppedBytes(std::string_view bytes) {
    const auto boxes = drovan::mp4::DecodeBoxes(bytes);
    if (!boxes) {
        return std::nullopt;
    }
    std::size_t dropped = 0;
    for (const drovan::mp4::Box& box : *boxes) {
        const std::string_view type = box.header.type;
        if (type == "styp" || type == "sidx" || type == "ssix" || type == "prft") {
            dropped += static_cast<std::size_t>(box.header.size);
        }
    }
    return dropped;
}

// Rewrites bytes as one fragment; output never longer than the input and what goes in band, and exactly the
// input less the dropped boxes, with what goes in band, when it succeeds.
void CheckRewrite(drovan::FragmentRewriter& rewriter, std::string_view bytes, std::size_t piece,
                  std::uint64_t inputOffset, std::int64_t shift = 0, std::string_view inBand = {}) {
    const std::uint64_t start = rewriter.outputOffset();
    std::size_t written = 0;
    rewriter.BeginFragment(2, inputOffset, shift, inBand);
    bool fed = true;
    for (std::size_t at = 0; at < bytes.size() && fed; at += piece) {
        fed = rewriter.Feed(bytes.substr(at, piece), [&written](std::string_view out) {
            written += out.size();
            return true;
        });
    }
    const bool ended = rewriter.EndFragment();
    Check(written <= bytes.size() + inBand.size() && rewriter.outputOffset() == start + written);
    if (fed && ended) {
        const auto dropped = DroppedBytes(bytes);
        Check(dropped.has_value() && written == bytes.size() - *dropped + inBand.size());
    }
}

// A whole file taken fragment by fragment in pulls of piece bytes: what is written comes out of bytes, in
// order, never more than they hold, and the fragments' times come out of them in the merge's order.
void CheckFile(std::string_view bytes, std::size_t piece) {
    std::size_t at = 0;
    drovan::FileFragments file([&]() -> std::optional<std::string_view> {
        if (at >= bytes.size()) {
            return std::nullopt;
        }
        const std::string_view next = bytes.substr(at, piece);
        at += next.size();
        return next;
    });
    const std::optional<std::string> init = file.Init();
    if (!init) {
        return;
    }
    Check(init->size() <= bytes.size() && bytes.substr(0, init->size()) == *init);
    drovan::FragmentRewriter rewriter(init->size());
    std::size_t written = 0;
    std::vector<std::optional<drovan::FragmentTime>> next(2);
    while (const std::optional<std::uint64_t> time = file.Next()) {
        next[0] = drovan::FragmentTime{*time, 90000};
        next[1] = drovan::FragmentTime{*time, 90000};
        Check(drovan::EarliestFragment(next) == std::optional<std::size_t>(0));
        if (!file.Write(rewriter, 2, [&written](std::string_view out) {
                written += out.size();
                return true;
            })) {
            break;
        }
    }
    Check(init->size() + written <= bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kLead = 5;
    if (size < kLead) {
        return 0;
    }
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t piece = data[0] == 0 ? 1 : data[0];
    const std::size_t firstSize = std::size_t{data[1]} << 8 | data[2];
    const std::size_t secondSize = std::size_t{data[3]} << 8 | data[4];
    if (firstSize + secondSize > size - kLead) {
        return 0;
    }
    const std::string_view first = input.substr(kLead, firstSize);
    const std::string_view second = input.substr(kLead + firstSize, secondSize);
    const std::string_view fragments = input.substr(kLead + firstSize + secondSize);
    CheckMergedInit({first, second});
    CheckMergedInit({first});
    drovan::FragmentRewriter rewriter(first.size() + second.size());
    CheckRewrite(rewriter, fragments, piece, 0);
    // A run that joins as it is gets made-up parameter sets: the rewriter does not read them.
    std::optional<drovan::RunJoin> join = drovan::JoinRun(first, second);
    if (!join && drovan::JoinRun(first, first)) {
        join = drovan::RunJoin{std::string("\0\0\0\2\x09\x10", 6)};
    }
    if (join) {
        const std::int64_t shift = static_cast<std::int64_t>(piece) * 1000 - 128000;
        CheckRewrite(rewriter, fragments, piece, 0, shift, join->inBandParameterSets);
    }
    CheckFile(fragments, piece);
    return 0;
}
