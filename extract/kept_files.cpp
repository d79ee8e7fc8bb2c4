#include "extract/kept_files.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>

#include "extract/formats/read_window.h"
#include "extract/formats/sqlite_file.h"

namespace drovan {

// A kept file remembers its last few small reads: a reader reads an entry's ends, and those mostly hold the
// leading body bytes that a look at the entry's type wants next.
struct KeptFile {
    static constexpr std::size_t kRememberedReadSize = 4096;
    struct RememberedRead {
        std::uint64_t offset = 0;
        std::size_t size = 0;
        char bytes[kRememberedReadSize];
    };

    std::u16string path;
    std::unique_ptr<ReadableFile> file;
    RememberedRead reads[2];
    std::size_t nextRead = 0;
};

namespace {

// One open file shared by every holder; they read by position only, so no holder moves another's place.
class SharedFile final : public ReadableFile {
  public:
    explicit SharedFile(std::shared_ptr<KeptFile> kept) : m_kept(std::move(kept)) {}
    std::optional<std::uint64_t> Size() override { return m_kept->file->Size(); }
    std::optional<FileIdentity> Identity() override { return m_kept->file->Identity(); }
    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override {
        return m_kept->file->Read(buffer, capacity, got);
    }
    bool ReadAt(std::uint64_t offset, char* buffer, std::size_t capacity, std::size_t& got) override {
        for (const KeptFile::RememberedRead& read : m_kept->reads) {
            if (const std::optional<std::uint64_t> at =
                    PlaceInWindow(read.offset, read.size, offset, capacity)) {
                std::copy_n(read.bytes + *at, capacity, buffer);
                got = capacity;
                return true;
            }
        }
        if (!m_kept->file->ReadAt(offset, buffer, capacity, got)) {
            return false;
        }
        if (capacity <= KeptFile::kRememberedReadSize) {
            KeptFile::RememberedRead& read = m_kept->reads[m_kept->nextRead];
            m_kept->nextRead = (m_kept->nextRead + 1) % std::size(m_kept->reads);
            read.offset = offset;
            read.size = got;
            std::copy_n(buffer, got, read.bytes);
        }
        return true;
    }

  private:
    std::shared_ptr<KeptFile> m_kept;
};

}  // namespace

std::unique_ptr<ReadableFile> KeptFiles::OpenForReading(std::u16string_view path) {
    for (auto kept = m_kept.begin(); kept != m_kept.end(); ++kept) {
        // From the end: the paths of one cache differ in their last characters.
        const std::u16string& keptPath = (*kept)->path;
        if (keptPath.size() == path.size() && std::equal(keptPath.rbegin(), keptPath.rend(), path.rbegin())) {
            std::rotate(kept, kept + 1, m_kept.end());
            return std::make_unique<SharedFile>(m_kept.back());
        }
    }
    std::unique_ptr<ReadableFile> file = ForwardingFileSystem::OpenForReading(path);
    if (!file) {
        return nullptr;
    }
    std::shared_ptr<KeptFile> kept;
    if (m_kept.size() == kKeptFiles) {
        // The record of the file let go is reused when no reader holds it: one is made for each entry read.
        if (m_kept.front().use_count() == 1) {
            kept = std::move(m_kept.front());
        }
        m_kept.erase(m_kept.begin());
    }
    if (!kept) {
        // Not make_shared: the remembered bytes need no zeroing.
        kept.reset(new KeptFile);
    }
    kept->path.assign(path);
    kept->file = std::move(file);
    for (KeptFile::RememberedRead& read : kept->reads) {
        read.size = 0;
    }
    m_kept.push_back(kept);
    return std::make_unique<SharedFile>(std::move(kept));
}

namespace {

// A piece that goes on through linked pages claims its first page's part: the pages after it are found only
// as it is read, and the walk that listed it bounded them by the database's size.
std::uint64_t ClaimedLength(const BodyPiece& piece) {
    return piece.linkedPages
               ? std::min<std::uint64_t>(piece.length, piece.linkedPages->map->overflowPartSize())
               : piece.length;
}

}  // namespace

// Runs that meet are kept as one: the pieces of a cache written one after another, as an SQL shard's pages
// or a blockfile's blocks mostly are, then cost one node however many entries they hold.
void StoredBytesClaims::ClaimRun(std::map<std::uint64_t, std::uint64_t>& claimed, std::uint64_t start,
                                 std::uint64_t end) {
    const auto after = claimed.lower_bound(start);
    if (after != claimed.end() && after->first == end) {
        end = after->second;
        claimed.erase(after);
    }
    const auto next = claimed.lower_bound(start);
    if (next != claimed.begin() && std::prev(next)->second == start) {
        std::prev(next)->second = end;
        return;
    }
    claimed.emplace_hint(next, start, end);
}

bool StoredBytesClaims::Claim(FileSystem& fs, const CacheEntry& entry) {
    std::vector<std::pair<std::map<std::uint64_t, std::uint64_t>*, const BodyPiece*>> claims;
    for (const BodyPiece& piece : entry.pieces) {
        const std::unique_ptr<ReadableFile> file = fs.OpenForReading(piece.file);
        const std::optional<FileIdentity> identity = file ? file->Identity() : std::nullopt;
        if (!identity) {
            continue;
        }
        // Claimed runs never overlap: only the last one starting before this piece ends can reach into
        // it.
        std::map<std::uint64_t, std::uint64_t>& claimed = m_claimed[*identity];
        const auto after = claimed.lower_bound(piece.fileOffset + ClaimedLength(piece));
        if (after != claimed.begin() && std::prev(after)->second > piece.fileOffset) {
            return false;
        }
        claims.emplace_back(&claimed, &piece);
    }
    for (const auto& [claimed, piece] : claims) {
        ClaimRun(*claimed, piece->fileOffset, piece->fileOffset + ClaimedLength(*piece));
    }
    return true;
}

}  // namespace drovan
