#include "extract/streams/joined_content.h"

#include <utility>

#include "extract/streams/part_reader.h"

namespace drovan {

Content::Status JoinedContent::Stream(const Sink& sink) {
    std::vector<Content*> parts;
    for (const std::unique_ptr<Content>& part : m_parts) {
        parts.push_back(part.get());
    }
    PartsInOrder reads(std::move(parts), m_readAhead);
    for (std::size_t i = 0; i < m_parts.size(); ++i) {
        if (const Status status = reads.Stream(i, sink); status != Status::Done) {
            return status;
        }
    }
    return Status::Done;
}

std::optional<std::uint64_t> JoinedContent::Size() {
    std::uint64_t total = 0;
    for (const std::unique_ptr<Content>& part : m_parts) {
        const std::optional<std::uint64_t> size = part->Size();
        if (!size) {
            return std::nullopt;
        }
        total += *size;
    }
    return total;
}

std::optional<FileTime> LatestModifiedTime(const std::vector<Content*>& contents) {
    std::optional<FileTime> latest;
    for (Content* content : contents) {
        const std::optional<FileTime> time = content->ModifiedTime();
        if (time && (!latest || latest->nanoseconds < time->nanoseconds)) {
            latest = time;
        }
    }
    return latest;
}

std::optional<FileTime> JoinedContent::ModifiedTime() {
    std::vector<Content*> parts;
    for (const std::unique_ptr<Content>& part : m_parts) {
        parts.push_back(part.get());
    }
    return LatestModifiedTime(parts);
}

}  // namespace drovan
