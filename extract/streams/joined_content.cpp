#include "extract/streams/joined_content.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace drovan {
namespace {

// Parts read ahead stay below this; a part larger than a read ahead may hold is left to the writer.
constexpr std::size_t kAheadBudget = 16 << 20;
constexpr std::size_t kPartCap = 8 << 20;

struct ReadPart {
    std::vector<char> bytes;
    Content::Status status = Content::Status::Done;
    bool leftToWriter = false;
};

// Reads the parts in order on its own thread, up to kAheadBudget bytes ahead of the one taking them.
class PartReader {
  public:
    explicit PartReader(std::vector<std::unique_ptr<Content>>& parts) : m_parts(parts) {
        m_thread = std::thread([this] { ReadAll(); });
    }
    PartReader(const PartReader&) = delete;
    PartReader& operator=(const PartReader&) = delete;
    ~PartReader() {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    // Gives back a part's buffer once its bytes are written: reading into memory already touched spares
    // faulting in fresh pages for every part.
    void Recycle(std::vector<char> buffer) {
        buffer.clear();
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_spare.push_back(std::move(buffer));
    }

    // The next part in order, once read.
    ReadPart Take() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return !m_ready.empty(); });
        ReadPart part = std::move(m_ready.front());
        m_ready.pop_front();
        m_heldBytes -= part.bytes.size();
        m_changed.notify_all();
        return part;
    }

  private:
    void ReadAll() {
        for (const std::unique_ptr<Content>& content : m_parts) {
            ReadPart part;
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                if (!m_spare.empty()) {
                    part.bytes = std::move(m_spare.back());
                    m_spare.pop_back();
                }
            }
            part.status = content->Stream([&](const char* data, std::size_t size) {
                if (Quitting() || size > kPartCap - part.bytes.size()) {
                    return false;
                }
                part.bytes.insert(part.bytes.end(), data, data + size);
                return true;
            });
            if (part.status == Content::Status::Refused) {
                part.bytes.clear();
                part.leftToWriter = true;
                part.status = Content::Status::Done;
            }
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] { return m_quit || m_heldBytes + part.bytes.size() <= kAheadBudget; });
            if (m_quit) {
                return;
            }
            m_heldBytes += part.bytes.size();
            m_ready.push_back(std::move(part));
            m_changed.notify_all();
        }
    }

    bool Quitting() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_quit;
    }

    std::vector<std::unique_ptr<Content>>& m_parts;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Under m_mutex:
    std::deque<ReadPart> m_ready;
    std::vector<std::vector<char>> m_spare;
    std::size_t m_heldBytes = 0;
    bool m_quit = false;
};

}  // namespace

Content::Status JoinedContent::StreamInOrder(const Sink& sink) {
    for (const std::unique_ptr<Content>& part : m_parts) {
        if (const Status status = part->Stream(sink); status != Status::Done) {
            return status;
        }
    }
    return Status::Done;
}

Content::Status JoinedContent::Stream(const Sink& sink) {
    if (!m_readAhead || m_parts.size() < 2) {
        return StreamInOrder(sink);
    }
    std::optional<PartReader> reader;
    try {
        reader.emplace(m_parts);
    } catch (const std::system_error&) {
        return StreamInOrder(sink);
    }
    for (const std::unique_ptr<Content>& part : m_parts) {
        ReadPart read = reader->Take();
        if (read.leftToWriter) {
            // Read again here: the reader let go of it at its cap, and has gone on to the next parts.
            if (const Status status = part->Stream(sink); status != Status::Done) {
                return status;
            }
            continue;
        }
        if (read.status != Status::Done) {
            return read.status;
        }
        if (!read.bytes.empty() && !sink(read.bytes.data(), read.bytes.size())) {
            return Status::Refused;
        }
        reader->Recycle(std::move(read.bytes));
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
