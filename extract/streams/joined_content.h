#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "extract/content.h"

namespace drovan {

// The latest of the contents' modified times; none when none says.
std::optional<FileTime> LatestModifiedTime(const std::vector<Content*>& contents);

// Several contents as one: their bytes one after another. With readAhead, a second thread reads (and checks)
// the next parts while the bytes of one are written, as a copy of the joined bytes would not.
class JoinedContent final : public Content {
  public:
    JoinedContent(std::vector<std::unique_ptr<Content>> parts, bool readAhead)
        : m_parts(std::move(parts)), m_readAhead(readAhead) {}
    Status Stream(const Sink& sink) override;
    std::optional<std::uint64_t> Size() override;
    // The latest of the parts'.
    std::optional<FileTime> ModifiedTime() override;

  private:
    std::vector<std::unique_ptr<Content>> m_parts;
    bool m_readAhead = false;
};

}  // namespace drovan
