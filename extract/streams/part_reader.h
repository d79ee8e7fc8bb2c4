#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "extract/content.h"

namespace drovan {

// Reads parts in order on a thread of its own, up to a fixed number of bytes ahead of the one taking them, in
// pieces however large a part is: the next bytes are read (and checked) while those before are written.
class PartReader {
  public:
    // Throws std::system_error when no thread can be started.
    explicit PartReader(std::vector<Content*> parts);
    PartReader(const PartReader&) = delete;
    PartReader& operator=(const PartReader&) = delete;
    ~PartReader();

    // The next part's bytes as they were read, to sink: the status its Stream gave, Refused once sink
    // refuses; after that, no part is to be taken.
    Content::Status StreamNext(const Content::Sink& sink);

  private:
    struct Piece {
        std::vector<char> bytes;
        std::optional<Content::Status> end;  // the part's last piece
    };

    void ReadAll();
    // False once the reader is to quit.
    bool Hand(Piece piece);
    Piece Take();
    std::vector<char> SpareBuffer();
    void Recycle(std::vector<char> buffer);

    std::vector<Content*> m_parts;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Under m_mutex:
    std::deque<Piece> m_ready;
    std::vector<std::vector<char>> m_spare;
    std::size_t m_heldBytes = 0;
    bool m_quit = false;
    std::thread m_thread;
};

// Parts' bytes in order: read ahead by a PartReader where readAhead allows a second thread and one starts,
// else straight from the parts.
class PartsInOrder {
  public:
    PartsInOrder(std::vector<Content*> parts, bool readAhead);
    // Part index's bytes to sink, as PartReader::StreamNext; parts are taken in order, none after a failure.
    Content::Status Stream(std::size_t index, const Content::Sink& sink);

  private:
    std::vector<Content*> m_parts;
    std::optional<PartReader> m_reader;
};

}  // namespace drovan
