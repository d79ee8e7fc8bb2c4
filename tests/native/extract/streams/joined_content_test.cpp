#include "extract/streams/joined_content.h"
#include "extract/streams/stream_content.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/media_builders.h"
#include "tests/support/stream_expectations.h"

namespace drovan::tests {
namespace {

// Bytes in memory, or a source that fails after giving some; later passes may give other bytes.
class BytesContent final : public Content {
  public:
    BytesContent(std::string bytes, Status end, std::string later = {})
        : m_bytes(std::move(bytes)), m_end(end), m_later(std::move(later)) {}
    Status Stream(const Sink& sink) override {
        if (m_passes++ > 0 && !m_later.empty()) {
            m_bytes = m_later;
        }
        for (std::size_t at = 0; at < m_bytes.size(); at += 1 << 20) {
            const std::string_view piece = std::string_view(m_bytes).substr(at, 1 << 20);
            if (!sink(piece.data(), piece.size())) {
                return Status::Refused;
            }
        }
        return m_end;
    }
    int passes() const { return m_passes; }

  private:
    std::string m_bytes;
    Status m_end;
    std::string m_later;
    int m_passes = 0;
};

TEST(JoinedContentTest, GivesThePartsInOrderOrTheFirstFailure) {
    using Status = Content::Status;
    const std::string big(9 << 20, 'b');  // more than a part read ahead may hold
    const struct {
        const char* name;
        std::vector<std::pair<std::string, Status>> parts;
        std::size_t refuseAfter;
        Status status;
        std::string bytes;
    } cases[] = {
        {"in order",
         {{"one", Status::Done}, {"", Status::Done}, {"three", Status::Done}},
         SIZE_MAX,
         Status::Done,
         "onethree"},
        {"a big part",
         {{"a", Status::Done}, {big, Status::Done}, {"c", Status::Done}},
         SIZE_MAX,
         Status::Done,
         "a" + big + "c"},
        {"a damaged part",
         {{"a", Status::Done}, {"b", Status::Damaged}, {"c", Status::Done}},
         SIZE_MAX,
         Status::Damaged,
         "a"},
        {"the writer stops",
         {{"a", Status::Done}, {big, Status::Done}, {"c", Status::Done}},
         2,
         Status::Refused,
         "a"},
    };
    for (const auto& c : cases) {
        for (const bool readAhead : {false, true}) {
            std::vector<std::unique_ptr<Content>> parts;
            for (const auto& [bytes, end] : c.parts) {
                parts.push_back(std::make_unique<BytesContent>(bytes, end));
            }
            JoinedContent joined(std::move(parts), readAhead);
            std::string got;
            std::size_t pieces = 0;
            const Status status = joined.Stream([&](const char* data, std::size_t size) {
                if (++pieces >= c.refuseAfter) {
                    return false;
                }
                got.append(data, size);
                return true;
            });
            EXPECT_EQ(status, c.status) << c.name;
            // A part that fails leaves the file abandoned: what reached the sink before does not matter.
            EXPECT_EQ(got.substr(0, c.bytes.size()), c.bytes) << c.name << readAhead;
        }
    }
}

using Status = Content::Status;

std::string StreamedBytes(Content& content, Status& status, std::size_t refuseAt = SIZE_MAX) {
    std::string bytes;
    std::size_t calls = 0;
    status = content.Stream([&](const char* data, std::size_t size) {
        bytes.append(data, size);
        return ++calls < refuseAt;
    });
    return bytes;
}

// Two HLS segments of H.264 and AAC as one MP4; what goes wrong between or during the passes.
TEST(StreamContentTest, RewrapsOrSaysWhyNot) {
    const std::string first = AvcAacSegment(0, 2);
    const std::string second = AvcAacSegment(1, 2);
    std::string changed = second;
    changed.resize(changed.size() - kTsPacket);
    const struct {
        const char* name;
        std::string secondLater;
        Status end;
        std::size_t refuseAt;
        Status status;
    } cases[] = {
        {"whole", "", Status::Done, SIZE_MAX, Status::Done},
        {"changed between the passes", changed, Status::Done, SIZE_MAX, Status::Damaged},
        {"a segment that cannot be read", "", Status::SourceFailed, SIZE_MAX, Status::SourceFailed},
        {"stopped while surveying", "", Status::Done, 1, Status::Refused},
    };
    for (const auto& c : cases) {
        for (const bool readAhead : {false, true}) {
            std::vector<RewrappedContent::Segment> segments;
            segments.push_back({0, false, std::make_unique<BytesContent>(first, Status::Done), 0});
            segments.push_back({0, false, std::make_unique<BytesContent>(second, c.end, c.secondLater), 1});
            MemoryBudget budget;
            RewrappedContent content(std::move(segments), 1, budget, std::nullopt, readAhead);
            Status status = Status::Done;
            const std::string bytes = StreamedBytes(content, status, c.refuseAt);
            EXPECT_EQ(status, c.status) << c.name << readAhead;
            if (c.status == Status::Done) {
                EXPECT_EQ(TopLevelBoxes(bytes), (std::vector<std::string>{"ftyp", "moov", "mdat"})) << c.name;
            } else if (c.refuseAt == 1) {
                EXPECT_EQ(bytes, "") << c.name << readAhead;
            }
        }
    }
}

// A DASH picture track and its sound, as segments or as one file each, merged with their fragments
// interleaved by time.
TEST(StreamContentTest, MergesTracksFromSegmentsOrWholeFiles) {
    std::string merged[2];
    for (const bool wholeFiles : {false, true}) {
        std::vector<FragmentedTrack> tracks;
        for (const DashTrack& dash : kDashTracks) {
            FragmentedTrack& track = tracks.emplace_back();
            std::string file = DashInitSegment(dash);
            for (int i = 0; i < 3; ++i) {
                const std::string fragment = DashFragment(dash, i);
                file += wholeFiles ? fragment : "";
                if (!wholeFiles) {
                    track.fragments.push_back(std::make_unique<BytesContent>(fragment, Status::Done));
                    track.decodeTimes.push_back(std::uint64_t(i) * dash.samplesPerFragment *
                                                dash.sampleDuration);
                }
            }
            track.init =
                std::make_unique<BytesContent>(wholeFiles ? file : DashInitSegment(dash), Status::Done);
        }
        MergedContent content(std::move(tracks));
        Status status = Status::Damaged;
        merged[wholeFiles] = StreamedBytes(content, status);
        EXPECT_EQ(status, Status::Done);
    }
    EXPECT_EQ(merged[0], merged[1]);
    std::string layout;
    for (const std::string& box : TopLevelBoxes(merged[0])) {
        layout += box + " ";
    }
    EXPECT_EQ(layout, "ftyp moov moof mdat moof mdat moof mdat moof mdat moof mdat moof mdat ");
    // Picture first at each time: the first fragment after the movie header is the picture's, 50 samples.
    const std::size_t moof = merged[0].find("moof");
    EXPECT_EQ(merged[0].compare(merged[0].find("trun", moof) + 8, 4, std::string("\0\0\0\x32", 4)), 0);
}

// A whole file is read from its start once, however many fragments it holds, and its fragments come out
// between the other track's as they would from segments.
TEST(StreamContentTest, ReadsEachWholeFileOnce) {
    constexpr int kFragments = 200;
    std::vector<FragmentedTrack> tracks;
    std::vector<const BytesContent*> files;
    for (const DashTrack& dash : kDashTracks) {
        std::string file = DashInitSegment(dash);
        for (int i = 0; i < kFragments; ++i) {
            file += DashFragment(dash, i);
        }
        auto content = std::make_unique<BytesContent>(file, Status::Done);
        files.push_back(content.get());
        tracks.emplace_back().init = std::move(content);
    }
    MergedContent content(std::move(tracks));
    Status status = Status::Damaged;
    const std::string merged = StreamedBytes(content, status);
    EXPECT_EQ(status, Status::Done);
    EXPECT_EQ(files[0]->passes(), 1);
    EXPECT_EQ(files[1]->passes(), 1);
    const std::vector<std::string> boxes = TopLevelBoxes(merged);
    EXPECT_EQ(boxes.size(), 2u + 2 * 2 * kFragments);
}

}  // namespace
}  // namespace drovan::tests
