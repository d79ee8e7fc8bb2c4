#include "extract/formats/sqlite_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "extract/formats/read_window.h"
#include "extract/formats/sqlite_format.h"

namespace drovan::sqlite {
namespace {

constexpr std::uint64_t kWindowSize = 64 * 1024;
constexpr std::size_t kWindowCount = 4;
constexpr int kMaxDepth = 40;
// SQLite allows at most 32767 columns of at most 9 header bytes each.
constexpr std::uint64_t kMaxRecordHeaderSize = 9 * 32768;

// Reads of the three files through a few windows aligned to their size: a b-tree page and the overflow pages
// that follow one another are served from memory, one read per window.
class WindowedFiles {
  public:
    explicit WindowedFiles(DatabaseFiles files) : m_files(files) {}

    ReadableFile* File(FileRole role) const {
        switch (role) {
            case FileRole::Database:
                return m_files.database;
            case FileRole::Wal:
                return m_files.wal;
            case FileRole::Journal:
                return m_files.journal;
        }
        return nullptr;
    }

    // False unless all of [offset, offset + size) is there.
    bool Read(FileRole role, std::uint64_t offset, std::size_t size, char* out) {
        while (size > 0) {
            const Window* window = Fetch(role, offset - offset % kWindowSize);
            if (!window) {
                return false;
            }
            const auto part = LeadingPartInWindow(window->start, window->bytes.size(), offset, size);
            if (!part || part->size == 0) {
                return false;
            }
            std::memcpy(out, window->bytes.data() + part->at, static_cast<std::size_t>(part->size));
            out += part->size;
            offset += part->size;
            size -= static_cast<std::size_t>(part->size);
        }
        return true;
    }

  private:
    struct Window {
        FileRole role = FileRole::Database;
        std::uint64_t start = 0;
        std::string bytes;
        std::uint64_t lastUse = 0;  // 0 while empty
    };

    const Window* Fetch(FileRole role, std::uint64_t start) {
        ++m_clock;
        for (Window& window : m_windows) {
            if (window.lastUse != 0 && window.role == role && window.start == start) {
                window.lastUse = m_clock;
                return &window;
            }
        }
        ReadableFile* source = File(role);
        if (!source) {
            return nullptr;
        }
        Window& window =
            *std::min_element(m_windows.begin(), m_windows.end(),
                              [](const Window& a, const Window& b) { return a.lastUse < b.lastUse; });
        window.lastUse = 0;
        window.bytes.resize(kWindowSize);
        std::size_t got = 0;
        if (!source->ReadAt(start, window.bytes.data(), window.bytes.size(), got)) {
            return nullptr;
        }
        window.bytes.resize(std::min<std::size_t>(got, kWindowSize));
        window.role = role;
        window.start = start;
        window.lastUse = m_clock;
        return &window;
    }

    DatabaseFiles m_files;
    std::array<Window, kWindowCount> m_windows;
    std::uint64_t m_clock = 0;
};

struct PageLocation {
    FileRole file = FileRole::Database;
    std::uint64_t offset = 0;
};

// The pages the log or the journal holds instead of the database file, and the database's size with them.
struct PageOverlay {
    FileRole file = FileRole::Wal;
    std::unordered_map<std::uint32_t, std::uint64_t> pageOffsets;
    std::uint32_t pageCount = 0;
};

std::optional<std::uint64_t> FileSize(WindowedFiles& files, FileRole role) {
    ReadableFile* file = files.File(role);
    return file ? file->Size() : std::nullopt;
}

// The frames up to the last commit whose checksums and salts hold; the log must be of pageSize pages.
std::optional<PageOverlay> ReadWal(WindowedFiles& files, std::uint32_t pageSize) {
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
bool ReadJournalRecords(WindowedFiles& files, const JournalHeader& header, std::uint64_t& offset,
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

std::optional<JournalHeader> ReadJournalHeader(WindowedFiles& files, std::uint64_t offset) {
    std::string bytes(kJournalHeaderSize, '\0');
    if (!files.Read(FileRole::Journal, offset, bytes.size(), bytes.data())) {
        return std::nullopt;
    }
    return DecodeJournalHeader(bytes);
}

// A hot journal's pages of the database before its transaction; none when the journal is not hot.
std::optional<PageOverlay> ReadJournal(WindowedFiles& files, std::uint32_t pageSize) {
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

    WindowedFiles files;
    DatabaseHeader header;
    bool walMode = false;
    std::uint64_t pageCount = 0;
    std::uint64_t databaseFileSize = 0;
    PageOverlay overlay;
};

// Where a page's bytes lie; none for a page past the database's size or its file's end.
std::optional<PageLocation> Locate(const Pages& pages, std::uint32_t page) {
    if (page == 0 || page > pages.pageCount) {
        return std::nullopt;
    }
    const auto replaced = pages.overlay.pageOffsets.find(page);
    if (replaced != pages.overlay.pageOffsets.end()) {
        return PageLocation{pages.overlay.file, replaced->second};
    }
    const std::uint64_t offset = std::uint64_t{page - 1} * pages.header.pageSize;
    if (offset + pages.header.pageSize > pages.databaseFileSize) {
        return std::nullopt;
    }
    return PageLocation{FileRole::Database, offset};
}

// The header as page 1 holds it once the log or the journal is applied: a log may hold every page of the
// database, page 1 included.
std::optional<DatabaseHeader> CurrentHeader(Pages& pages) {
    const std::optional<PageLocation> location = Locate(pages, 1);
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
    pages.header = *fileHeader;
    pages.walMode = fileHeader->walMode();
    pages.databaseFileSize = *fileSize;
    pages.pageCount = DatabasePageCount(*fileHeader, *fileSize);
    std::optional<PageOverlay> overlay;
    if (pages.walMode && pages.files.File(FileRole::Wal)) {
        overlay = ReadWal(pages.files, fileHeader->pageSize);
    } else if (!pages.walMode && pages.files.File(FileRole::Journal)) {
        overlay = ReadJournal(pages.files, fileHeader->pageSize);
    }
    if (overlay) {
        pages.overlay = std::move(*overlay);
        pages.pageCount = pages.overlay.pageCount;
    }
    const std::optional<DatabaseHeader> current = CurrentHeader(pages);
    constexpr std::uint32_t kUtf8 = 1;
    if (!current || current->pageSize != fileHeader->pageSize || current->textEncoding > kUtf8) {
        return false;
    }
    pages.header = *current;
    return true;
}

// A b-tree page's header and where its cells start; none when the cell pointers leave the usable part of
// the page or point into the header.
struct BtreePage {
    BtreePageHeader header;
    std::vector<std::size_t> cellOffsets;
};

std::optional<BtreePage> DecodeBtreePage(std::string_view usable, std::size_t headerOffset) {
    const std::optional<BtreePageHeader> header =
        DecodeBtreePageHeader(usable.substr(std::min(headerOffset, usable.size())));
    if (!header) {
        return std::nullopt;
    }
    BtreePage page{*header, {}};
    const std::size_t arrayStart = headerOffset + header->size;
    const std::size_t arrayEnd = arrayStart + 2 * std::size_t{header->cellCount};
    ByteReader reader(usable);
    reader.Seek(arrayStart);
    for (std::uint16_t i = 0; i < header->cellCount; ++i) {
        std::uint16_t offset = 0;
        if (!reader.U16BE(offset) || offset < arrayEnd || offset >= usable.size()) {
            return std::nullopt;
        }
        page.cellOffsets.push_back(offset);
    }
    return page;
}

using CellExtent = std::pair<std::size_t, std::size_t>;  // [start, end) in the page

bool CellsApart(std::vector<CellExtent> extents) {
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
    if (!CellsApart(std::move(extents))) {
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

std::optional<std::vector<LeafCell>> LeafCells(std::string_view usable, const BtreePage& page) {
    std::vector<LeafCell> cells;
    std::vector<CellExtent> extents;
    for (const std::size_t offset : page.cellOffsets) {
        const std::optional<TableLeafCell> cell = DecodeTableLeafCell(usable.substr(offset));
        if (!cell) {
            return std::nullopt;
        }
        const std::uint64_t localSize =
            LocalPayloadSize(cell->payloadSize, static_cast<std::uint32_t>(usable.size()));
        const std::size_t localOffset = offset + cell->headerSize;
        const bool overflows = localSize < cell->payloadSize;
        if (localSize + (overflows ? kOverflowPointerSize : 0) > usable.size() - localOffset) {
            return std::nullopt;
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
    if (!CellsApart(std::move(extents))) {
        return std::nullopt;
    }
    return cells;
}

// A record's payload: the local part in memory, where every part lies in the files.
class Payload {
  public:
    Payload(WindowedFiles& files, std::string_view local, const std::vector<ByteRun>& runs,
            std::uint64_t size)
        : m_files(files), m_local(local), m_runs(runs), m_size(size) {
        std::uint64_t start = 0;
        for (const ByteRun& run : runs) {
            m_starts.push_back(start);
            start += run.length;
        }
    }

    std::uint64_t size() const { return m_size; }

    // size bytes from offset; false when they are not all there.
    bool Read(std::uint64_t offset, std::size_t size, std::string& bytes) const {
        bytes.resize(size);
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
            } else if (!m_files.Read(run.file, run.offset + part->at, partSize, bytes.data() + done)) {
                return false;
            }
            done += partSize;
        }
        return done == size;
    }

    // Where [offset, offset + size) of the payload lies, in order.
    std::vector<ByteRun> Runs(std::uint64_t offset, std::uint64_t size) const {
        std::vector<ByteRun> runs;
        for (std::size_t i = RunAt(offset); i < m_runs.size() && m_starts[i] < offset + size; ++i) {
            const std::uint64_t from = std::max(offset, m_starts[i]);
            const std::uint64_t to = std::min(offset + size, m_starts[i] + m_runs[i].length);
            if (from < to) {
                runs.push_back(ByteRun{m_runs[i].file, m_runs[i].offset + (from - m_starts[i]), to - from});
            }
        }
        return runs;
    }

  private:
    // The last run that starts at or before offset: a wide record's columns are found without a walk from
    // the first run each.
    std::size_t RunAt(std::uint64_t offset) const {
        const auto after = std::upper_bound(m_starts.begin(), m_starts.end(), offset);
        return after == m_starts.begin() ? 0 : static_cast<std::size_t>(after - m_starts.begin() - 1);
    }

    WindowedFiles& m_files;
    std::string_view m_local;
    const std::vector<ByteRun>& m_runs;
    std::vector<std::uint64_t> m_starts;  // each run's offset in the payload
    std::uint64_t m_size;
};

// The columns of a record; false when its header or a value does not fit the payload.
bool DecodeRecord(const Payload& payload, std::vector<Value>& columns) {
    std::string header;
    if (!payload.Read(0, static_cast<std::size_t>(std::min<std::uint64_t>(9, payload.size())), header)) {
        return false;
    }
    ByteReader sizeReader(header);
    std::uint64_t headerSize = 0;
    if (!ReadVarint(sizeReader, headerSize) || headerSize < sizeReader.position() ||
        headerSize > payload.size() || headerSize > kMaxRecordHeaderSize) {
        return false;
    }
    const std::size_t sizeBytes = sizeReader.position();
    if (!payload.Read(0, static_cast<std::size_t>(headerSize), header)) {
        return false;
    }
    ByteReader reader(header);
    reader.Seek(sizeBytes);
    std::uint64_t contentOffset = headerSize;
    std::string bytes;
    columns.clear();
    while (reader.remaining() > 0) {
        std::uint64_t serialType = 0;
        std::optional<ColumnFormat> format;
        if (!ReadVarint(reader, serialType) || !(format = DecodeSerialType(serialType)) ||
            format->size > payload.size() - contentOffset) {
            return false;
        }
        Value value;
        if (format->storage == StorageClass::Integer || format->storage == StorageClass::Real) {
            if (!payload.Read(contentOffset, static_cast<std::size_t>(format->size), bytes)) {
                return false;
            }
            if (format->storage == StorageClass::Real) {
                value.type = Value::Type::Real;
                value.real = DecodeRecordReal(bytes);
            } else {
                value.type = Value::Type::Integer;
                value.integer = format->size == 0 ? format->constant : DecodeRecordInteger(bytes);
            }
        } else if (format->storage != StorageClass::Null) {
            value.type = format->storage == StorageClass::Text ? Value::Type::Text : Value::Type::Blob;
            value.size = format->size;
            value.runs = payload.Runs(contentOffset, format->size);
        }
        contentOffset += format->size;
        columns.push_back(std::move(value));
    }
    return true;
}

// One in-order walk of a table b-tree. Each page it reads, overflow pages included, is claimed once: a page
// met again means a cycle or pages shared between cells.
class TableWalk {
  public:
    TableWalk(Pages& pages, const std::function<bool(const Row&)>& visit) : m_pages(pages), m_visit(visit) {}

    WalkResult Walk(std::uint32_t rootPage) { return VisitPage(rootPage, 0); }

  private:
    WalkResult VisitPage(std::uint32_t page, int depth) {
        const std::optional<PageLocation> location = Locate(m_pages, page);
        std::string bytes(m_pages.header.pageSize, '\0');
        if (depth > kMaxDepth || !location || !m_visited.insert(page).second ||
            !m_pages.files.Read(location->file, location->offset, bytes.size(), bytes.data())) {
            return WalkResult::Damaged;
        }
        const std::string_view usable = std::string_view(bytes).substr(0, m_pages.header.usableSize());
        const std::optional<BtreePage> btree = DecodeBtreePage(usable, page == 1 ? kDatabaseHeaderSize : 0);
        if (!btree) {
            return WalkResult::Damaged;
        }
        if (btree->header.type == PageType::TableLeaf) {
            return VisitLeaf(usable, *location, *btree);
        }
        const std::optional<std::vector<std::uint32_t>> children =
            btree->header.type == PageType::TableInterior ? InteriorChildren(usable, *btree) : std::nullopt;
        if (!children) {
            return WalkResult::Damaged;
        }
        bytes = std::string();  // forty levels of 64 KiB pages need not stay while the children are walked
        for (const std::uint32_t child : *children) {
            const WalkResult result = VisitPage(child, depth + 1);
            if (result != WalkResult::Finished) {
                return result;
            }
        }
        return WalkResult::Finished;
    }

    WalkResult VisitLeaf(std::string_view usable, const PageLocation& location, const BtreePage& page) {
        const std::optional<std::vector<LeafCell>> cells = LeafCells(usable, page);
        if (!cells) {
            return WalkResult::Damaged;
        }
        for (const LeafCell& cell : *cells) {
            if ((m_row.rowid >= cell.rowid && m_visitedRows) || !PayloadRuns(location, cell)) {
                return WalkResult::Damaged;
            }
            const Payload payload(m_pages.files, usable.substr(cell.localOffset, cell.localSize), m_runs,
                                  cell.payloadSize);
            if (!DecodeRecord(payload, m_row.columns)) {
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

    // The local part, then each overflow page's part, until the payload is covered.
    bool PayloadRuns(const PageLocation& location, const LeafCell& cell) {
        m_runs.clear();
        m_runs.push_back(ByteRun{location.file, location.offset + cell.localOffset, cell.localSize});
        std::uint64_t remaining = cell.payloadSize - cell.localSize;
        const std::uint32_t partSize = m_pages.header.usableSize() - kOverflowPointerSize;
        char next[kOverflowPointerSize];
        for (std::uint32_t page = cell.firstOverflowPage; remaining > 0;) {
            const std::optional<PageLocation> overflow = Locate(m_pages, page);
            if (!overflow || !m_visited.insert(page).second ||
                !m_pages.files.Read(overflow->file, overflow->offset, sizeof next, next)) {
                return false;
            }
            const std::uint64_t length = std::min<std::uint64_t>(remaining, partSize);
            m_runs.push_back(ByteRun{overflow->file, overflow->offset + kOverflowPointerSize, length});
            remaining -= length;
            ByteReader(reinterpret_cast<const unsigned char*>(next), sizeof next).U32BE(page);
        }
        return true;
    }

    Pages& m_pages;
    const std::function<bool(const Row&)>& m_visit;
    std::unordered_set<std::uint32_t> m_visited;
    Row m_row;
    bool m_visitedRows = false;  // m_row.rowid is the last row's: rowids only grow
    std::vector<ByteRun> m_runs;
};

std::optional<std::string> ReadValueBytes(WindowedFiles& files, const Value& value, std::size_t maxSize) {
    if ((value.type != Value::Type::Text && value.type != Value::Type::Blob) || value.size > maxSize) {
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(value.size), '\0');
    std::uint64_t done = 0;
    for (const ByteRun& run : value.runs) {
        if (run.length > value.size - done ||
            !files.Read(run.file, run.offset, static_cast<std::size_t>(run.length), bytes.data() + done)) {
            return std::nullopt;
        }
        done += run.length;
    }
    if (done != value.size) {
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
            ReadValueBytes(pages.files, row.columns[0], 5) != std::optional<std::string>("table")) {
            return true;
        }
        const std::optional<std::string> name = ReadValueBytes(pages.files, row.columns[1], table.size());
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

std::uint32_t Database::pageSize() const {
    return m_state->pages.header.pageSize;
}

bool Database::walMode() const {
    return m_state->pages.walMode;
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
    return ReadValueBytes(m_state->pages.files, value, maxSize);
}

}  // namespace drovan::sqlite
