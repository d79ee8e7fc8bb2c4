#include "extract/formats/sqlite_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "extract/formats/read_window.h"
#include "extract/formats/sqlite_format.h"

namespace drovan::sqlite {
namespace {

// A b-tree page just walked, a few links and log frames: the values of the page are read from memory.
constexpr std::size_t kRecentReads = 4;
constexpr int kMaxDepth = 40;
// The pages a chain's first read takes: a body of up to 64 KiB in one read, and little read past a short run.
constexpr std::size_t kFirstRunPages = 16;
// SQLite allows at most 32767 columns of at most 9 header bytes each.
constexpr std::uint64_t kMaxRecordHeaderSize = 9 * 32768;

// Overflow pages that hold bytes, part of them each; a payload's size may take all 64 bits.
std::uint64_t PagesHolding(std::uint64_t bytes, std::uint64_t part) {
    return bytes / part + (bytes % part != 0 ? 1 : 0);
}

ReadableFile* FileOf(const DatabaseFiles& files, FileRole role) {
    switch (role) {
        case FileRole::Database:
            return files.database;
        case FileRole::Wal:
            return files.wal;
        case FileRole::Journal:
            return files.journal;
    }
    return nullptr;
}

// Reads of the three files, each of exactly what is asked; the last few are kept, and a read within one of
// them is served from memory. Their buffers are kept too: a walk reads thousands of pages.
class RecentReads {
  public:
    explicit RecentReads(DatabaseFiles files) : m_files(files) {}

    const DatabaseFiles& files() const { return m_files; }
    ReadableFile* File(FileRole role) const { return FileOf(m_files, role); }

    // False unless all of [offset, offset + size) is there.
    bool Read(FileRole role, std::uint64_t offset, std::size_t size, char* out) {
        const std::optional<std::string_view> held = Hold(role, offset, size);
        if (held) {
            std::copy_n(held->data(), size, out);
        }
        return held.has_value();
    }

    // [offset, offset + size) as kept, valid until the next read that is not served from memory; none
    // unless all of it is there.
    std::optional<std::string_view> Hold(FileRole role, std::uint64_t offset, std::size_t size) {
        ++m_clock;
        for (Held& held : m_held) {
            const std::optional<std::uint64_t> at = held.lastUse != 0 && held.role == role
                                                        ? PlaceInWindow(held.start, held.size, offset, size)
                                                        : std::nullopt;
            if (at) {
                held.lastUse = m_clock;
                return std::string_view(held.bytes.get() + *at, size);
            }
        }
        ReadableFile* source = File(role);
        if (!source) {
            return std::nullopt;
        }
        Held& held = *std::min_element(m_held.begin(), m_held.end(),
                                       [](const Held& a, const Held& b) { return a.lastUse < b.lastUse; });
        if (held.capacity < size) {
            held.bytes.reset(new char[size]);
            held.capacity = size;
        }
        held.lastUse = 0;
        if (!ReadExactly(*source, offset, held.bytes.get(), size)) {
            return std::nullopt;
        }
        held.role = role;
        held.start = offset;
        held.size = size;
        held.lastUse = m_clock;
        return std::string_view(held.bytes.get(), size);
    }

  private:
    struct Held {
        FileRole role = FileRole::Database;
        std::uint64_t start = 0;
        std::size_t size = 0;
        std::unique_ptr<char[]> bytes;  // left unfilled past size
        std::size_t capacity = 0;
        std::uint64_t lastUse = 0;  // 0 while empty
    };

    DatabaseFiles m_files;
    std::array<Held, kRecentReads> m_held;
    std::uint64_t m_clock = 0;
};

// The pages the log or the journal holds instead of the database file, and the database's size with them.
struct PageOverlay {
    FileRole file = FileRole::Wal;
    std::unordered_map<std::uint32_t, std::uint64_t> pageOffsets;
    std::uint32_t pageCount = 0;
};

std::optional<std::uint64_t> FileSize(RecentReads& files, FileRole role) {
    ReadableFile* file = files.File(role);
    return file ? file->Size() : std::nullopt;
}

// The frames up to the last commit whose checksums and salts hold; the log must be of pageSize pages.
std::optional<PageOverlay> ReadWal(RecentReads& files, std::uint32_t pageSize) {
    std::string bytes(kWalHeaderSize, '\0');
    if (!files.Read(FileRole::Wal, 0, bytes.size(), bytes.data())) {
        return std::nullopt;
    }
    const std::optional<WalHeader> header = DecodeWalHeader(bytes);
    if (!header || header->pageSize != pageSize) {
        return std::nullopt;
    }
    const bool bigEndian = header->bigEndianChecksums;
    WalChecksum sum =
        ContinueWalChecksum({}, std::string_view(bytes).substr(0, kWalHeaderSize - 8), bigEndian);
    if (sum != header->checksum) {
        return std::nullopt;
    }
    PageOverlay committed;
    std::vector<std::pair<std::uint32_t, std::uint64_t>> uncommitted;
    bytes.resize(kWalFrameHeaderSize + pageSize);
    const std::string_view frame(bytes);
    for (std::uint64_t offset = kWalHeaderSize; files.Read(FileRole::Wal, offset, bytes.size(), bytes.data());
         offset += bytes.size()) {
        const std::optional<WalFrameHeader> frameHeader = DecodeWalFrameHeader(frame);
        if (!frameHeader || frameHeader->pageNumber == 0 || frameHeader->salt1 != header->salt1 ||
            frameHeader->salt2 != header->salt2) {
            break;
        }
        sum = ContinueWalChecksum(sum, frame.substr(0, 8), bigEndian);
        sum = ContinueWalChecksum(sum, frame.substr(kWalFrameHeaderSize), bigEndian);
        if (sum != frameHeader->checksum) {
            break;
        }
        uncommitted.emplace_back(frameHeader->pageNumber, offset + kWalFrameHeaderSize);
        if (frameHeader->pageCountAfterCommit != 0) {
            for (const auto& [page, pageOffset] : uncommitted) {
                committed.pageOffsets[page] = pageOffset;
            }
            uncommitted.clear();
            committed.pageCount = frameHeader->pageCountAfterCommit;
        }
    }
    if (committed.pageCount == 0) {
        return std::nullopt;
    }
    return committed;
}

// The page records of one journal segment, from offset on: the first copy of each page is kept. False when
// a record ends the journal (cut short, page 0, a failed checksum).
bool ReadJournalRecords(RecentReads& files, const JournalHeader& header, std::uint64_t& offset,
                        PageOverlay& overlay) {
    std::string bytes(header.pageSize + kJournalRecordOverhead, '\0');
    std::uint64_t count = header.recordCount;
    if (header.recordCount == kJournalRecordsToEnd) {
        const std::uint64_t size = FileSize(files, FileRole::Journal).value_or(0);
        count = size > offset ? (size - offset) / bytes.size() : 0;
    }
    for (std::uint64_t i = 0; i < count; ++i, offset += bytes.size()) {
        if (!files.Read(FileRole::Journal, offset, bytes.size(), bytes.data())) {
            return false;
        }
        const std::optional<JournalPageRecord> record = DecodeJournalPageRecord(bytes, header.pageSize);
        if (!record || record->pageNumber == 0 ||
            JournalPageChecksum(header.nonce, record->page) != record->checksum) {
            return false;
        }
        if (record->pageNumber <= overlay.pageCount) {
            overlay.pageOffsets.emplace(record->pageNumber, offset + (record->page.data() - bytes.data()));
        }
    }
    return true;
}

std::optional<JournalHeader> ReadJournalHeader(RecentReads& files, std::uint64_t offset) {
    std::string bytes(kJournalHeaderSize, '\0');
    if (!files.Read(FileRole::Journal, offset, bytes.size(), bytes.data())) {
        return std::nullopt;
    }
    return DecodeJournalHeader(bytes);
}

// A hot journal's pages of the database before its transaction; none when the journal is not hot.
std::optional<PageOverlay> ReadJournal(RecentReads& files, std::uint32_t pageSize) {
    const std::optional<JournalHeader> first = ReadJournalHeader(files, 0);
    if (!first || first->pageSize != pageSize) {
        return std::nullopt;
    }
    PageOverlay overlay;
    overlay.file = FileRole::Journal;
    overlay.pageCount = first->initialPageCount;
    std::optional<JournalHeader> header = first;
    std::uint64_t headerOffset = 0;
    while (header && header->pageSize == pageSize) {
        std::uint64_t offset = headerOffset + first->sectorSize;
        if (!ReadJournalRecords(files, *header, offset, overlay)) {
            break;
        }
        headerOffset = (offset + first->sectorSize - 1) / first->sectorSize * first->sectorSize;
        header = ReadJournalHeader(files, headerOffset);
    }
    return overlay;
}

// The pages of the database as its last commit left them: from the log or the journal where those hold
// them, else from the database file.
struct Pages {
    explicit Pages(DatabaseFiles databaseFiles) : files(databaseFiles) {}

    RecentReads files;
    DatabaseHeader header;
    std::shared_ptr<PageMap> map = std::make_shared<PageMap>();
};

// The header as page 1 holds it once the log or the journal is applied: a log may hold every page of the
// database, page 1 included.
std::optional<DatabaseHeader> CurrentHeader(Pages& pages) {
    const std::optional<ByteRun> location = LocatePage(*pages.map, 1);
    std::string bytes(kDatabaseHeaderSize, '\0');
    if (!location || !pages.files.Read(location->file, location->offset, bytes.size(), bytes.data())) {
        return std::nullopt;
    }
    return DecodeDatabaseHeader(bytes);
}

// A log counts only in write-ahead log mode, a journal only in rollback mode: each mode leaves the other's
// file, if any, from an earlier life of the database.
bool LoadPages(Pages& pages) {
    std::string bytes(kDatabaseHeaderSize, '\0');
    const std::optional<std::uint64_t> fileSize = FileSize(pages.files, FileRole::Database);
    if (!fileSize || !pages.files.Read(FileRole::Database, 0, bytes.size(), bytes.data())) {
        return false;
    }
    const std::optional<DatabaseHeader> fileHeader = DecodeDatabaseHeader(bytes);
    if (!fileHeader) {
        return false;
    }
    PageMap& map = *pages.map;
    map.pageSize = fileHeader->pageSize;
    map.databaseFileSize = *fileSize;
    map.pageCount = DatabasePageCount(*fileHeader, *fileSize);
    std::optional<PageOverlay> overlay;
    if (fileHeader->walMode() && pages.files.File(FileRole::Wal)) {
        overlay = ReadWal(pages.files, fileHeader->pageSize);
    } else if (!fileHeader->walMode() && pages.files.File(FileRole::Journal)) {
        overlay = ReadJournal(pages.files, fileHeader->pageSize);
    }
    if (overlay) {
        map.overlayFile = overlay->file;
        map.overlayOffsets = std::move(overlay->pageOffsets);
        map.pageCount = overlay->pageCount;
    }
    const std::optional<DatabaseHeader> current = CurrentHeader(pages);
    constexpr std::uint32_t kUtf8 = 1;
    if (!current || current->pageSize != fileHeader->pageSize || current->textEncoding > kUtf8) {
        return false;
    }
    pages.header = *current;
    map.usableSize = current->usableSize();
    return true;
}

// A b-tree page's header and where its cells start.
struct BtreePage {
    BtreePageHeader header;
    std::vector<std::size_t> cellOffsets;
};

// False when the cell pointers leave the usable part of the page or point into the header. page's room is
// reused.
bool DecodeBtreePage(std::string_view usable, std::size_t headerOffset, BtreePage& page) {
    const std::optional<BtreePageHeader> header =
        DecodeBtreePageHeader(usable.substr(std::min(headerOffset, usable.size())));
    if (!header) {
        return false;
    }
    page.header = *header;
    page.cellOffsets.clear();
    const std::size_t arrayStart = headerOffset + header->size;
    const std::size_t arrayEnd = arrayStart + 2 * std::size_t{header->cellCount};
    ByteReader reader(usable);
    reader.Seek(arrayStart);
    for (std::uint16_t i = 0; i < header->cellCount; ++i) {
        std::uint16_t offset = 0;
        if (!reader.U16BE(offset) || offset < arrayEnd || offset >= usable.size()) {
            return false;
        }
        page.cellOffsets.push_back(offset);
    }
    return true;
}

using CellExtent = std::pair<std::size_t, std::size_t>;  // [start, end) in the page

// Sorts extents.
bool CellsApart(std::vector<CellExtent>& extents) {
    std::sort(extents.begin(), extents.end());
    for (std::size_t i = 1; i < extents.size(); ++i) {
        if (extents[i].first < extents[i - 1].second) {
            return false;
        }
    }
    return true;
}

// An interior table page's children in key order, the right-most last.
std::optional<std::vector<std::uint32_t>> InteriorChildren(std::string_view usable, const BtreePage& page) {
    std::vector<std::uint32_t> children;
    std::vector<CellExtent> extents;
    for (const std::size_t offset : page.cellOffsets) {
        const std::optional<TableInteriorCell> cell = DecodeTableInteriorCell(usable.substr(offset));
        if (!cell) {
            return std::nullopt;
        }
        children.push_back(cell->leftChild);
        extents.emplace_back(offset, offset + cell->size);
    }
    if (!CellsApart(extents)) {
        return std::nullopt;
    }
    children.push_back(page.header.rightMostPointer);
    return children;
}

// A cell of a leaf table page: its row's payload starts in the page and goes on in overflow pages.
struct LeafCell {
    std::int64_t rowid = 0;
    std::uint64_t payloadSize = 0;
    std::size_t localOffset = 0;
    std::size_t localSize = 0;
    std::uint32_t firstOverflowPage = 0;  // 0 when all of the payload is local
};

// The cells of a leaf page, into cells; extents is room to check them by. False when a cell leaves the page
// or two overlap.
bool LeafCells(std::string_view usable, const BtreePage& page, std::vector<LeafCell>& cells,
               std::vector<CellExtent>& extents) {
    cells.clear();
    extents.clear();
    for (const std::size_t offset : page.cellOffsets) {
        const std::optional<TableLeafCell> cell = DecodeTableLeafCell(usable.substr(offset));
        if (!cell) {
            return false;
        }
        const std::uint64_t localSize =
            LocalPayloadSize(cell->payloadSize, static_cast<std::uint32_t>(usable.size()));
        const std::size_t localOffset = offset + cell->headerSize;
        const bool overflows = localSize < cell->payloadSize;
        if (localSize + (overflows ? kOverflowPointerSize : 0) > usable.size() - localOffset) {
            return false;
        }
        LeafCell leaf{cell->rowid, cell->payloadSize, localOffset, static_cast<std::size_t>(localSize), 0};
        const std::size_t end = localOffset + leaf.localSize;
        if (overflows) {
            ByteReader reader(usable.substr(end));
            reader.U32BE(leaf.firstOverflowPage);
        }
        extents.emplace_back(offset, end + (overflows ? kOverflowPointerSize : 0));
        cells.push_back(leaf);
    }
    return CellsApart(extents);
}

// The pages one walk has read: a bit for each page of the database file, a set for those past it that only
// the log or the journal holds (no more than they have frames).
class VisitedPages {
  public:
    explicit VisitedPages(const PageMap& map)
        : m_inFile(static_cast<std::size_t>(
              std::min<std::uint64_t>(map.databaseFileSize / map.pageSize, UINT32_MAX))) {}

    // False when the page was read before.
    bool Insert(std::uint32_t page) {
        if (page != 0 && page <= m_inFile.size()) {
            if (m_inFile[page - 1]) {
                return false;
            }
            m_inFile[page - 1] = true;
        } else if (!m_pastFile.insert(page).second) {
            return false;
        }
        ++m_count;
        return true;
    }
    std::uint64_t Count() const { return m_count; }

  private:
    std::vector<bool> m_inFile;
    std::unordered_set<std::uint32_t> m_pastFile;
    std::uint64_t m_count = 0;
};

// A record's payload as a walk meets it: the local part in memory, and its overflow pages located only as
// far as the bytes asked for lie. Each page located is claimed in the walk's visited pages.
// Where a payload's bytes lie: runs, and each run's offset in the payload. A walk keeps one for all its rows.
struct PayloadPlaces {
    std::vector<ByteRun> runs;
    std::vector<std::uint64_t> starts;
};

class Payload {
  public:
    Payload(Pages& pages, VisitedPages& visited, std::string_view local, const ByteRun& localRun,
            const LeafCell& cell, PayloadPlaces& places)
        : m_pages(pages),
          m_visited(visited),
          m_local(local),
          m_size(cell.payloadSize),
          m_located(localRun.length),
          m_nextPage(cell.firstOverflowPage),
          m_runs(places.runs),
          m_starts(places.starts) {
        m_runs.assign(1, localRun);
        m_starts.assign(1, 0);
    }

    std::uint64_t size() const { return m_size; }

    // Overflow pages past those located.
    std::uint64_t PagesLeft() const { return PagesHolding(m_size - m_located, PartSize()); }

    // size bytes from offset; false when they are not all there.
    bool Read(std::uint64_t offset, std::size_t size, std::string& bytes) {
        bytes.resize(size);
        if (size > m_size - std::min(offset, m_size) || !LocateThrough(offset + size)) {
            return false;
        }
        std::size_t done = 0;
        for (std::size_t i = RunAt(offset); i < m_runs.size() && done < size; ++i) {
            const ByteRun& run = m_runs[i];
            const auto part = LeadingPartInWindow(m_starts[i], run.length, offset + done, size - done);
            if (!part || part->size == 0) {
                continue;
            }
            const auto partSize = static_cast<std::size_t>(part->size);
            if (i == 0) {
                m_local.substr(static_cast<std::size_t>(part->at)).copy(bytes.data() + done, partSize);
            } else if (!m_pages.files.Read(run.file, run.offset + part->at, partSize, bytes.data() + done)) {
                return false;
            }
            done += partSize;
        }
        return done == size;
    }

    // size bytes from offset: in the page while the local part holds them, else read into scratch.
    std::optional<std::string_view> View(std::uint64_t offset, std::size_t size, std::string& scratch) {
        if (offset <= m_local.size() && size <= m_local.size() - offset) {
            return m_local.substr(static_cast<std::size_t>(offset), size);
        }
        if (!Read(offset, size, scratch)) {
            return std::nullopt;
        }
        return std::string_view(scratch);
    }

    // Where [offset, offset + size) lies: runs as far as pages are located, the rest as a tail. False when
    // the pages up to offset cannot be located.
    bool Place(std::uint64_t offset, std::uint64_t size, Value& value) {
        if (size > 0 && !LocateThrough(offset + 1)) {
            return false;
        }
        const std::uint64_t end = offset + size;
        for (std::size_t i = RunAt(offset); i < m_runs.size() && m_starts[i] < end; ++i) {
            const std::uint64_t from = std::max(offset, m_starts[i]);
            const std::uint64_t to = std::min(end, m_starts[i] + m_runs[i].length);
            if (from < to) {
                value.runs.push_back(
                    ByteRun{m_runs[i].file, m_runs[i].offset + (from - m_starts[i]), to - from});
            }
        }
        if (size > 0 && end > m_located) {
            value.tail = ChainTail{m_nextPage, end - m_located};
        }
        return true;
    }

  private:
    std::uint64_t PartSize() const { return m_pages.map->overflowPartSize(); }

    bool LocateThrough(std::uint64_t end) {
        char next[kOverflowPointerSize];
        while (m_located < end) {
            const std::optional<ByteRun> page = LocatePage(*m_pages.map, m_nextPage);
            if (!page || !m_visited.Insert(m_nextPage) ||
                !m_pages.files.Read(page->file, page->offset, sizeof next, next)) {
                return false;
            }
            const std::uint64_t length = std::min<std::uint64_t>(m_size - m_located, PartSize());
            m_starts.push_back(m_located);
            m_runs.push_back(ByteRun{page->file, page->offset + kOverflowPointerSize, length});
            m_located += length;
            ByteReader(reinterpret_cast<const unsigned char*>(next), sizeof next).U32BE(m_nextPage);
        }
        return true;
    }

    // The last run that starts at or before offset: a wide record's columns are found without a walk from
    // the first run each.
    std::size_t RunAt(std::uint64_t offset) const {
        const auto after = std::upper_bound(m_starts.begin(), m_starts.end(), offset);
        return after == m_starts.begin() ? 0 : static_cast<std::size_t>(after - m_starts.begin() - 1);
    }

    Pages& m_pages;
    VisitedPages& m_visited;
    std::string_view m_local;
    std::uint64_t m_size;
    std::uint64_t m_located;  // payload bytes whose places are known
    std::uint32_t m_nextPage;
    std::vector<ByteRun>& m_runs;
    std::vector<std::uint64_t>& m_starts;  // each run's offset in the payload
};

// Takes the next column of a record: its Value is reused, and with it the room its runs took.
Value& NextColumn(std::vector<Value>& columns, std::size_t& count) {
    if (count == columns.size()) {
        columns.emplace_back();
    }
    Value& value = columns[count++];
    value.type = Value::Type::Null;
    value.integer = 0;
    value.real = 0;
    value.size = 0;
    value.runs.clear();
    value.tail = ChainTail{};
    return value;
}

// The columns of a record; false when its header or a value does not fit the payload. scratch holds what
// lies past the page.
bool DecodeRecord(Payload& payload, std::vector<Value>& columns, std::string& scratch) {
    std::optional<std::string_view> header =
        payload.View(0, static_cast<std::size_t>(std::min<std::uint64_t>(9, payload.size())), scratch);
    if (!header) {
        return false;
    }
    ByteReader sizeReader(*header);
    std::uint64_t headerSize = 0;
    if (!ReadVarint(sizeReader, headerSize) || headerSize < sizeReader.position() ||
        headerSize > payload.size() || headerSize > kMaxRecordHeaderSize) {
        return false;
    }
    const std::size_t sizeBytes = sizeReader.position();
    if (!(header = payload.View(0, static_cast<std::size_t>(headerSize), scratch))) {
        return false;
    }
    ByteReader reader(*header);
    reader.Seek(sizeBytes);
    std::uint64_t contentOffset = headerSize;
    std::string bytes;
    std::size_t count = 0;
    while (reader.remaining() > 0) {
        std::uint64_t serialType = 0;
        std::optional<ColumnFormat> format;
        if (!ReadVarint(reader, serialType) || !(format = DecodeSerialType(serialType)) ||
            format->size > payload.size() - contentOffset) {
            return false;
        }
        Value& value = NextColumn(columns, count);
        if (format->storage == StorageClass::Integer || format->storage == StorageClass::Real) {
            const std::optional<std::string_view> number =
                payload.View(contentOffset, static_cast<std::size_t>(format->size), bytes);
            if (!number) {
                return false;
            }
            if (format->storage == StorageClass::Real) {
                value.type = Value::Type::Real;
                value.real = DecodeRecordReal(*number);
            } else {
                value.type = Value::Type::Integer;
                value.integer = format->size == 0 ? format->constant : DecodeRecordInteger(*number);
            }
        } else if (format->storage != StorageClass::Null) {
            value.type = format->storage == StorageClass::Text ? Value::Type::Text : Value::Type::Blob;
            value.size = format->size;
            if (!payload.Place(contentOffset, format->size, value)) {
                return false;
            }
        }
        contentOffset += format->size;
    }
    columns.resize(count);
    return true;
}

// One in-order walk of a table b-tree. Each page it reads, overflow pages included, is claimed once: a page
// met again means a cycle or pages shared between cells. The tails it leaves may together take no more pages
// than the database has besides those it read, so following them later is bounded by the database's size.
class TableWalk {
  public:
    TableWalk(Pages& pages, const std::function<bool(const Row&)>& visit)
        : m_pages(pages), m_visit(visit), m_visited(*pages.map) {}

    WalkResult Walk(std::uint32_t rootPage) { return VisitPage(rootPage, 0); }

  private:
    WalkResult VisitPage(std::uint32_t page, int depth) {
        const std::optional<ByteRun> location = LocatePage(*m_pages.map, page);
        if (!m_page) {
            m_page.reset(new char[m_pages.header.pageSize]);
        }
        if (depth > kMaxDepth || !location || !m_visited.Insert(page) ||
            !m_pages.files.Read(location->file, location->offset, m_pages.header.pageSize, m_page.get())) {
            return WalkResult::Damaged;
        }
        const std::string_view usable(m_page.get(), m_pages.header.usableSize());
        if (!DecodeBtreePage(usable, page == 1 ? kDatabaseHeaderSize : 0, m_btree)) {
            return WalkResult::Damaged;
        }
        if (m_btree.header.type == PageType::TableLeaf) {
            return VisitLeaf(usable, *location);
        }
        const std::optional<std::vector<std::uint32_t>> children =
            m_btree.header.type == PageType::TableInterior ? InteriorChildren(usable, m_btree) : std::nullopt;
        if (!children) {
            return WalkResult::Damaged;
        }
        for (const std::uint32_t child : *children) {
            const WalkResult result = VisitPage(child, depth + 1);
            if (result != WalkResult::Finished) {
                return result;
            }
        }
        return WalkResult::Finished;
    }

    WalkResult VisitLeaf(std::string_view usable, const ByteRun& location) {
        if (!LeafCells(usable, m_btree, m_cells, m_extents)) {
            return WalkResult::Damaged;
        }
        for (const LeafCell& cell : m_cells) {
            if (m_row.rowid >= cell.rowid && m_visitedRows) {
                return WalkResult::Damaged;
            }
            Payload payload(m_pages, m_visited, usable.substr(cell.localOffset, cell.localSize),
                            ByteRun{location.file, location.offset + cell.localOffset, cell.localSize}, cell,
                            m_places);
            if (!DecodeRecord(payload, m_row.columns, m_scratch)) {
                return WalkResult::Damaged;
            }
            m_tailPages += payload.PagesLeft();
            if (m_tailPages >
                m_pages.map->pageCount - std::min<std::uint64_t>(m_pages.map->pageCount, m_visited.Count())) {
                return WalkResult::Damaged;
            }
            m_row.rowid = cell.rowid;
            m_visitedRows = true;
            if (!m_visit(m_row)) {
                return WalkResult::Stopped;
            }
        }
        return WalkResult::Finished;
    }

    Pages& m_pages;
    const std::function<bool(const Row&)>& m_visit;
    VisitedPages m_visited;
    // The page being walked and what is decoded of it: an interior page's children are taken from it before
    // they are walked, so one of each serves every level.
    std::unique_ptr<char[]> m_page;
    BtreePage m_btree;
    std::vector<LeafCell> m_cells;
    std::vector<CellExtent> m_extents;
    PayloadPlaces m_places;
    std::string m_scratch;
    std::uint64_t m_tailPages = 0;
    Row m_row;
    bool m_visitedRows = false;  // m_row.rowid is the last row's: rowids only grow
};

bool HasBytes(const Value& value) {
    return value.type == Value::Type::Text || value.type == Value::Type::Blob;
}

// Up to maxSize bytes from the value's runs; false when a run does not read or the runs outgrow the value.
bool ReadRuns(Pages& pages, const Value& value, std::size_t maxSize, std::string& bytes) {
    bytes.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(value.size, maxSize)));
    for (const ByteRun& run : value.runs) {
        const std::size_t done = bytes.size();
        if (done == maxSize) {
            break;
        }
        if (run.length > value.size - done) {
            return false;
        }
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(run.length, maxSize - done));
        const std::optional<std::string_view> held = pages.files.Hold(run.file, run.offset, size);
        if (!held) {
            return false;
        }
        bytes.append(*held);
    }
    return true;
}

std::optional<std::string> ReadValueBytes(Pages& pages, const Value& value, std::size_t maxSize) {
    std::string bytes;
    if (!HasBytes(value) || value.size > maxSize || !ReadRuns(pages, value, maxSize, bytes)) {
        return std::nullopt;
    }
    if (value.tail.length != value.size - bytes.size()) {
        return std::nullopt;
    }
    if (value.tail.length == 0) {
        return bytes;  // most values lie in their row's page: no chain to set up
    }
    const ChainRead tail = FollowChain(*pages.map, pages.files.files(), value.tail, 0, value.tail.length,
                                       static_cast<std::size_t>(value.tail.length),
                                       [&bytes](const char* data, std::size_t size) {
                                           bytes.append(data, size);
                                           return true;
                                       });
    if (tail != ChainRead::Done) {
        return std::nullopt;
    }
    return bytes;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

bool IsSchemaName(std::string_view table) {
    return EqualsIgnoringAsciiCase(table, "sqlite_schema") || EqualsIgnoringAsciiCase(table, "sqlite_master");
}

// The root page of the table named table, from the schema's rows (type, name, tbl_name, rootpage, sql).
std::optional<std::uint32_t> FindTableRoot(Pages& pages, std::string_view table) {
    std::optional<std::uint32_t> root;
    TableWalk(pages, [&](const Row& row) {
        if (row.columns.size() < 4 || row.columns[3].type != Value::Type::Integer ||
            ReadValueBytes(pages, row.columns[0], 5) != std::optional<std::string>("table")) {
            return true;
        }
        const std::optional<std::string> name = ReadValueBytes(pages, row.columns[1], table.size());
        const std::int64_t rootPage = row.columns[3].integer;
        if (name && EqualsIgnoringAsciiCase(*name, table) && rootPage > 0 && rootPage <= UINT32_MAX) {
            root = static_cast<std::uint32_t>(rootPage);
            return false;
        }
        return true;
    }).Walk(1);
    return root;
}

}  // namespace

std::uint32_t PageMap::overflowPartSize() const {
    return usableSize - kOverflowPointerSize;
}

std::optional<ByteRun> LocatePage(const PageMap& pages, std::uint32_t page) {
    if (page == 0 || page > pages.pageCount) {
        return std::nullopt;
    }
    const auto replaced = pages.overlayOffsets.find(page);
    if (replaced != pages.overlayOffsets.end()) {
        return ByteRun{pages.overlayFile, replaced->second, pages.pageSize};
    }
    const std::uint64_t offset = std::uint64_t{page - 1} * pages.pageSize;
    if (offset + pages.pageSize > pages.databaseFileSize) {
        return std::nullopt;
    }
    return ByteRun{FileRole::Database, offset, pages.pageSize};
}

ChainRead FollowChain(const PageMap& pages, DatabaseFiles files, const ChainTail& tail, std::uint64_t skip,
                      std::uint64_t length, std::size_t maxPiece,
                      const std::function<bool(const char*, std::size_t)>& take) {
    if (skip > tail.length || length > tail.length - skip) {
        return ChainRead::Damaged;
    }
    const std::uint64_t partSize = pages.overflowPartSize();
    const std::uint64_t pagesWanted = PagesHolding(skip + length, partSize);
    const std::size_t pagesPerRead =
        static_cast<std::size_t>(std::clamp<std::uint64_t>(maxPiece / partSize, 1, pagesWanted));
    std::unique_ptr<char[]> buffer(new char[pagesPerRead * pages.pageSize]);
    std::unordered_set<std::uint32_t> met;
    std::uint32_t page = tail.firstPage;
    // Pages read at once: a chain that keeps to pages one after another is read in growing runs, one that
    // jumps about in runs as long as its last. Pages of the log or the journal never lie one after another.
    std::size_t runPages = std::min(kFirstRunPages, pagesPerRead);
    while (length > 0) {
        const std::optional<ByteRun> first = LocatePage(pages, page);
        ReadableFile* file = first ? FileOf(files, first->file) : nullptr;
        const std::size_t wanted = first && first->file == FileRole::Database
                                       ? static_cast<std::size_t>(std::min<std::uint64_t>(
                                             runPages, PagesHolding(skip + length, partSize)))
                                       : 1;
        if (!file) {
            return ChainRead::Damaged;
        }
        std::size_t got = 0;
        if (!file->ReadAt(first->offset, buffer.get(), wanted * pages.pageSize, got) ||
            got < pages.pageSize) {
            return ChainRead::ReadFailed;
        }
        // The pages read are taken while each links to the one after it; their parts are moved together.
        std::size_t filled = 0;
        std::size_t held = 0;
        while (held < got / pages.pageSize && length > 0) {
            const char* at = buffer.get() + held * pages.pageSize;
            if (!met.insert(page).second) {
                return ChainRead::Damaged;
            }
            // The link first: the part moved down may cover it.
            ByteReader(reinterpret_cast<const unsigned char*>(at), kOverflowPointerSize).U32BE(page);
            const std::uint64_t skipped = std::min(skip, partSize);
            const auto given = static_cast<std::size_t>(std::min(length, partSize - skipped));
            std::memmove(buffer.get() + filled, at + kOverflowPointerSize + skipped, given);
            skip -= skipped;
            length -= given;
            filled += given;
            ++held;
            const std::optional<ByteRun> following = LocatePage(pages, page);
            if (!following || following->file != first->file ||
                following->offset != first->offset + held * pages.pageSize) {
                break;
            }
        }
        runPages = held == wanted ? std::min(2 * runPages, pagesPerRead) : held;
        if (filled > 0 && !take(buffer.get(), filled)) {
            return ChainRead::Stopped;
        }
    }
    return ChainRead::Done;
}

struct Database::State {
    explicit State(DatabaseFiles files) : pages(files) {}
    Pages pages;
};

std::unique_ptr<Database> Database::Open(DatabaseFiles files) {
    if (!files.database) {
        return nullptr;
    }
    auto state = std::make_unique<State>(files);
    if (!LoadPages(state->pages)) {
        return nullptr;
    }
    return std::unique_ptr<Database>(new Database(std::move(state)));
}

Database::Database(std::unique_ptr<State> state) : m_state(std::move(state)) {}

Database::~Database() = default;

std::shared_ptr<const PageMap> Database::pages() const {
    return m_state->pages.map;
}

WalkResult Database::ForEachRow(std::string_view table, const std::function<bool(const Row&)>& visit) {
    std::uint32_t root = 1;
    if (!IsSchemaName(table)) {
        const std::optional<std::uint32_t> found = FindTableRoot(m_state->pages, table);
        if (!found) {
            return WalkResult::Damaged;
        }
        root = *found;
    }
    return TableWalk(m_state->pages, visit).Walk(root);
}

std::optional<std::string> Database::ReadValue(const Value& value, std::size_t maxSize) {
    return ReadValueBytes(m_state->pages, value, maxSize);
}

std::optional<std::string> Database::ReadLeading(const Value& value, std::size_t maxSize) {
    Pages& pages = m_state->pages;
    std::string bytes;
    if (!HasBytes(value)) {
        return std::nullopt;
    }
    // The whole page the value starts in: the values read next often lie in it too.
    const ByteRun* first = value.runs.empty() ? nullptr : &value.runs.front();
    if (first && first->file == FileRole::Database) {
        const std::uint64_t page = first->offset / pages.header.pageSize * pages.header.pageSize;
        if (!pages.files.Hold(FileRole::Database, page, pages.header.pageSize)) {
            return std::nullopt;
        }
    }
    if (!ReadRuns(pages, value, maxSize, bytes)) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace drovan::sqlite
