#include "extract/streams/part_reader.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace drovan {
namespace {

// Bytes read ahead stay below this, in pieces of kPieceSize; a few emptied pieces are kept for reuse.
constexpr std::size_t kAheadBudget = 16 << 20;
constexpr std::size_t kPieceSize = 1 << 20;
constexpr std::size_t kSparePieces = 4;

}  // namespace

PartReader::PartReader(std::vector<Content*> parts) : m_parts(std::move(parts)) {
    m_thread = std::thread([this] { ReadAll(); });
}

PartReader::~PartReader() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

Content::Status PartReader::StreamNext(const Content::Sink& sink) {
    for (;;) {
        Piece piece = Take();
        const bool given = piece.bytes.empty() || sink(piece.bytes.data(), piece.bytes.size());
        Recycle(std::move(piece.bytes));
        if (!given) {
            return Content::Status::Refused;
        }
        if (piece.end) {
            return *piece.end;
        }
    }
}

void PartReader::ReadAll() {
    for (Content* const part : m_parts) {
        Piece piece{SpareBuffer(), std::nullopt};
        bool quitting = false;
        const Content::Status status = part->Stream([&](const char* data, std::size_t size) {
            while (size > 0) {
                const std::size_t taken = std::min(size, kPieceSize - piece.bytes.size());
                piece.bytes.insert(piece.bytes.end(), data, data + taken);
                data += taken;
                size -= taken;
                if (piece.bytes.size() == kPieceSize &&
                    !Hand({std::exchange(piece.bytes, SpareBuffer()), std::nullopt})) {
                    quitting = true;
                    return false;
                }
            }
            return true;
        });
        piece.end = status;
        if (quitting || !Hand(std::move(piece))) {
            return;
        }
    }
}

bool PartReader::Hand(Piece piece) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_quit || m_heldBytes + piece.bytes.size() <= kAheadBudget; });
    if (m_quit) {
        return false;
    }
    m_heldBytes += piece.bytes.size();
    m_ready.push_back(std::move(piece));
    m_changed.notify_all();
    return true;
}

PartReader::Piece PartReader::Take() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return !m_ready.empty(); });
    Piece piece = std::move(m_ready.front());
    m_ready.pop_front();
    m_heldBytes -= piece.bytes.size();
    m_changed.notify_all();
    return piece;
}

// Reading into memory already touched spares faulting in fresh pages for every piece.
std::vector<char> PartReader::SpareBuffer() {
    std::vector<char> buffer;
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_spare.empty()) {
        buffer = std::move(m_spare.back());
        m_spare.pop_back();
    }
    return buffer;
}

void PartReader::Recycle(std::vector<char> buffer) {
    buffer.clear();
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_spare.size() < kSparePieces) {
        m_spare.push_back(std::move(buffer));
    }
}

PartsInOrder::PartsInOrder(std::vector<Content*> parts, bool readAhead) : m_parts(std::move(parts)) {
    if (!readAhead || m_parts.size() < 2) {
        return;
    }
    try {
        m_reader.emplace(m_parts);
    } catch (const std::system_error&) {
        // No second thread: this one reads them.
    }
}

Content::Status PartsInOrder::Stream(std::size_t index, const Content::Sink& sink) {
    return m_reader ? m_reader->StreamNext(sink) : m_parts[index]->Stream(sink);
}

}  // namespace drovan
