#include "extract/streams/joined_content.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace drovan::tests {
namespace {

// Bytes in memory, or a source that fails after giving some.
class BytesContent final : public Content {
  public:
    BytesContent(std::string bytes, Status end) : m_bytes(std::move(bytes)), m_end(end) {}
    Status Stream(const Sink& sink) override {
        for (std::size_t at = 0; at < m_bytes.size(); at += 1 << 20) {
            const std::string_view piece = std::string_view(m_bytes).substr(at, 1 << 20);
            if (!sink(piece.data(), piece.size())) {
                return Status::Refused;
            }
        }
        return m_end;
    }

  private:
    std::string m_bytes;
    Status m_end;
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
            EXPECT_EQ(status, c.status) << c.name << readAhead;
            // A part that fails leaves the file abandoned: what reached the sink before does not matter.
            EXPECT_EQ(got.substr(0, c.bytes.size()), c.bytes) << c.name << readAhead;
        }
    }
}

}  // namespace
}  // namespace drovan::tests
