#include "extract/content.h"

#include <algorithm>

namespace drovan {

Content::Status Content::StreamRange(std::uint64_t offset, std::uint64_t size, const Sink& sink) {
    const std::uint64_t last = size > UINT64_MAX - offset ? UINT64_MAX : offset + size;
    std::uint64_t position = 0;
    std::uint64_t given = 0;
    bool refused = false;
    const Status status = Stream([&](const char* data, std::size_t length) {
        const std::uint64_t begin = std::max(position, offset);
        const std::uint64_t end = std::min<std::uint64_t>(position + length, last);
        if (begin < end) {
            given += end - begin;
            refused = !sink(data + (begin - position), static_cast<std::size_t>(end - begin));
        }
        position += length;
        return !refused && position < last;
    });
    if (refused) {
        return Status::Refused;
    }
    if (given == size) {
        return Status::Done;
    }
    return status == Status::Done || status == Status::Refused ? Status::SourceFailed : status;
}

}  // namespace drovan
