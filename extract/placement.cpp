#include "extract/placement.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "extract/name_rules.h"
#include "extract/progress.h"
#include "extract/sha256.h"

namespace drovan {
namespace {

// Past this many names taken by other bytes something is wrong with the destination; the file counts as
// failed.
constexpr unsigned kMaxNumberedName = 100000;
constexpr std::size_t kChunk = 64 * 1024;
// A taken name that cannot be read may be another harvest's file still being written, which Windows keeps
// from readers until it is committed.
constexpr int kBusyRetries = 10;
constexpr std::chrono::milliseconds kBusyWait(50);

bool ReadFully(ReadableFile& file, char* buffer, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        std::size_t got = 0;
        if (!file.Read(buffer + done, size - done, got) || got == 0) {
            return false;
        }
        done += got;
    }
    return true;
}

enum class Comparison { Same, Different, SourceFailed, SourceGone, Damaged, Stopped };

// Why streaming the content ended early, if it did.
std::optional<Comparison> StreamEnd(Content::Status status, bool stopped) {
    if (stopped) {
        return Comparison::Stopped;
    }
    switch (status) {
        case Content::Status::Done:
            return std::nullopt;
        case Content::Status::SourceGone:
            return Comparison::SourceGone;
        case Content::Status::Damaged:
            return Comparison::Damaged;
        case Content::Status::Refused:
        case Content::Status::SourceFailed:
            break;
    }
    return Comparison::SourceFailed;
}

PlaceOutcome OutcomeOf(Comparison comparison) {
    switch (comparison) {
        case Comparison::Same:
            return PlaceOutcome::AlreadyPresent;
        case Comparison::SourceGone:
            return PlaceOutcome::SourceGone;
        case Comparison::Damaged:
            return PlaceOutcome::Damaged;
        case Comparison::Stopped:
            return PlaceOutcome::Stopped;
        case Comparison::Different:
        case Comparison::SourceFailed:
            break;
    }
    return PlaceOutcome::Failed;
}

// The digest of file's bytes, unless it cannot be read whole or is no longer size bytes long.
std::optional<Sha256Digest> DigestOf(ReadableFile& file, std::uint64_t size) {
    Sha256 sha;
    std::vector<char> buffer(kChunk);
    std::uint64_t total = 0;
    for (std::size_t got = 1; got > 0; total += got) {
        if (!file.Read(buffer.data(), buffer.size(), got)) {
            return std::nullopt;
        }
        sha.Add(buffer.data(), got);
    }
    return total == size ? std::optional<Sha256Digest>(sha.Finish()) : std::nullopt;
}

// A new file as content writes it, counting its bytes; Status is the last write's.
class PlacedFile final : public WrittenFile {
  public:
    PlacedFile(NewFile& file, HarvestProgress* progress, bool& stopped)
        : m_file(file), m_progress(progress), m_stopped(stopped) {}

    WriteStatus Status() const { return m_status; }
    std::uint64_t Size() const { return m_size; }

    bool Append(const char* data, std::size_t count) {
        m_status = m_file.Write(data, count);
        if (m_status != WriteStatus::Ok) {
            return false;
        }
        Count(count);
        return true;
    }
    bool CopiesFiles() const override { return m_file.CopiesFiles(); }
    // In parts, so that a stop is heard within one.
    std::optional<bool> CopyFrom(ReadableFile& source, std::uint64_t offset, std::uint64_t size,
                                 std::uint64_t& copied) override {
        constexpr std::uint64_t kPart = 16 << 20;
        for (copied = 0; copied < size;) {
            if (StopRequested(m_progress)) {
                m_stopped = true;
                return false;
            }
            const std::uint64_t wanted = std::min(kPart, size - copied);
            std::uint64_t part = 0;
            const std::optional<WriteStatus> status = m_file.CopyFrom(source, offset + copied, wanted, part);
            if (!status && copied == 0) {
                return std::nullopt;
            }
            m_status = status.value_or(WriteStatus::Failed);
            Count(part);
            copied += part;
            // A failure, or the source's end.
            if (m_status != WriteStatus::Ok || part < wanted) {
                break;
            }
        }
        return m_status == WriteStatus::Ok;
    }
    bool Overwrite(std::uint64_t offset, const char* data, std::size_t count) override {
        m_status = m_file.Overwrite(offset, data, count);
        return m_status == WriteStatus::Ok;
    }
    bool Restart() override {
        m_status = m_file.Restart();
        if (m_progress != nullptr) {
            m_progress->bytesWritten.fetch_sub(m_size, std::memory_order_relaxed);
        }
        m_size = 0;
        return m_status == WriteStatus::Ok;
    }

  private:
    void Count(std::uint64_t count) {
        m_size += count;
        if (m_progress != nullptr) {
            m_progress->bytesWritten.fetch_add(count, std::memory_order_relaxed);
        }
    }

    NewFile& m_file;
    HarvestProgress* m_progress;
    bool& m_stopped;
    WriteStatus m_status = WriteStatus::Ok;
    std::uint64_t m_size = 0;
};

// One content on its way into the folder. Its size and digest are learnt only when some file of its name
// is known to be of its size.
class Placement {
  public:
    Placement(FileSystem& fs, std::u16string_view folder, std::u16string_view name, Content& content,
              HarvestProgress* progress, NameSeries& series)
        : m_fs(fs),
          m_folder(folder),
          m_name(name),
          m_content(content),
          m_progress(progress),
          m_series(series) {}

    PlaceOutcome Run() {
        Comparison found = FindAmongKnown();
        while (found == Comparison::Different) {
            if (m_series.next() > kMaxNumberedName) {
                return FailedInFolder(u"every numbered name is taken");
            }
            const std::u16string target = Target(m_series.next());
            CreateStatus status = CreateStatus::Failed;
            std::unique_ptr<NewFile> file = m_fs.CreateNewFile(target, status);
            if (status == CreateStatus::Created) {
                const std::optional<PlaceOutcome> written =
                    file ? Write(*file) : FailedInFolder(m_fs.LastFailure());
                if (written) {
                    return *written;
                }
                file.reset();
            } else if (status != CreateStatus::NameTaken) {
                return status == CreateStatus::DiskFull ? PlaceOutcome::DestinationFull
                                                        : FailedInFolder(m_fs.LastFailure());
            }
            // Taken by a file this harvest did not know of, maybe another harvest's.
            found = Learn(target);
        }
        return OutcomeOf(found);
    }

    // Why the placement failed: what the system refused in the folder, or else the source.
    PlaceFailure Failure() const {
        return m_failure.reason.empty()
                   ? PlaceFailure{u"the source could not be read", std::u16string(m_name)}
                   : m_failure;
    }

  private:
    PlaceOutcome FailedInFolder(std::u16string reason) {
        m_failure = {reason.empty() ? u"the system gave no reason" : std::move(reason),
                     std::u16string(m_folder)};
        return PlaceOutcome::Failed;
    }

    // Streams the content to consume (into file, when given) until a stop is asked for; stopped then says so.
    Content::Status Stream(bool& stopped, const Content::Sink& consume, WrittenFile* file = nullptr) {
        const Content::Sink sink = [&](const char* data, std::size_t size) {
            if (StopRequested(m_progress)) {
                stopped = true;
                return false;
            }
            return consume(data, size);
        };
        return file != nullptr ? m_content.StreamInto(sink, *file) : m_content.Stream(sink);
    }

    std::u16string Target(unsigned number) const {
        return JoinPath(m_folder, FittedName(m_name, number, m_fs.NameLength()), m_fs.Separator());
    }

    bool KnowSize() {
        if (!m_size) {
            m_size = m_content.Size();
        }
        return m_size || KnowDigest();
    }

    // False when the content could not be streamed; m_ended then says why.
    bool KnowDigest() {
        if (m_digest || m_ended) {
            return m_digest.has_value();
        }
        m_size = m_content.Size();
        m_digest = m_content.Digest();
        if (m_size && m_digest) {
            return true;
        }
        Sha256 sha;
        std::uint64_t size = 0;
        bool stopped = false;
        const Content::Status status = Stream(stopped, [&](const char* data, std::size_t chunk) {
            sha.Add(data, chunk);
            size += chunk;
            return true;
        });
        m_ended = StreamEnd(status, stopped);
        if (m_ended) {
            return false;
        }
        m_size = size;
        m_digest = sha.Finish();
        return true;
    }

    Comparison FindAmongKnown() {
        if (!m_series.HoldsAny()) {
            return Comparison::Different;
        }
        if (!KnowSize()) {
            return *m_ended;
        }
        if (!m_series.HoldsSize(*m_size)) {
            return Comparison::Different;
        }
        for (const unsigned number : m_series.TakeUndigested(*m_size)) {
            const std::unique_ptr<ReadableFile> file = m_fs.OpenForReading(Target(number));
            const std::optional<Sha256Digest> digest = file ? DigestOf(*file, *m_size) : std::nullopt;
            if (digest) {
                m_series.Digested(number, *m_size, *digest);
            }
        }
        return FindByDigest();
    }

    // Byte by byte, only with the files of the content's digest.
    Comparison FindByDigest() {
        if (!KnowDigest()) {
            return *m_ended;
        }
        for (const unsigned number : m_series.WithDigest(*m_size, *m_digest)) {
            const Comparison compared = CompareWithExisting(Target(number));
            if (compared != Comparison::Different) {
                return compared;
            }
        }
        return Comparison::Different;
    }

    // Adds the file at target, the series' next number, to what is known, and compares it with the content.
    Comparison Learn(const std::u16string& target) {
        const std::unique_ptr<ReadableFile> file = OpenTaken(target);
        const std::optional<std::uint64_t> size = file ? file->Size() : std::nullopt;
        if (!size) {
            m_series.Add(std::nullopt, std::nullopt);
            return Comparison::Different;
        }
        if (!KnowSize()) {
            return *m_ended;
        }
        if (*size != *m_size) {
            m_series.Add(size, std::nullopt);
            return Comparison::Different;
        }
        const std::optional<Sha256Digest> digest = DigestOf(*file, *size);
        m_series.Add(digest ? size : std::nullopt, digest);
        return digest ? FindByDigest() : Comparison::Different;
    }

    std::unique_ptr<ReadableFile> OpenTaken(const std::u16string& path) {
        for (int attempt = 0;; ++attempt) {
            std::unique_ptr<ReadableFile> file = m_fs.OpenForReading(path);
            if (file || attempt == kBusyRetries || StopRequested(m_progress) || m_fs.IsDirectory(path)) {
                return file;
            }
            std::this_thread::sleep_for(kBusyWait);
        }
    }

    // Streams the content against the file at path; a file that cannot be read counts as different bytes.
    Comparison CompareWithExisting(const std::u16string& path) {
        const std::unique_ptr<ReadableFile> existing = m_fs.OpenForReading(path);
        if (!existing) {
            return Comparison::Different;
        }
        std::vector<char> theirs(kChunk);
        bool stopped = false;
        bool differs = false;
        const Content::Status status = Stream(stopped, [&](const char* data, std::size_t size) {
            for (std::size_t part = 0; size > 0; data += part, size -= part) {
                part = size < theirs.size() ? size : theirs.size();
                if (!ReadFully(*existing, theirs.data(), part) ||
                    std::memcmp(data, theirs.data(), part) != 0) {
                    differs = true;
                    return false;
                }
            }
            return true;
        });
        if (differs) {
            return Comparison::Different;
        }
        if (const std::optional<Comparison> ended = StreamEnd(status, stopped)) {
            return *ended;
        }
        // Same so far: the existing file must end here too.
        char extra = 0;
        std::size_t got = 0;
        return existing->Read(&extra, 1, got) && got == 0 ? Comparison::Same : Comparison::Different;
    }

    // Nothing when the name was taken while the file was written.
    std::optional<PlaceOutcome> Write(NewFile& file) {
        bool stopped = false;
        PlacedFile placed(file, m_progress, stopped);
        const Content::Status status = Stream(
            stopped, [&](const char* data, std::size_t chunk) { return placed.Append(data, chunk); },
            &placed);
        WriteStatus written = placed.Status();
        const std::uint64_t size = placed.Size();
        // A stop that comes with the last chunk still abandons the file: the user asked for nothing more.
        if (stopped || StopRequested(m_progress)) {
            return PlaceOutcome::Stopped;
        }
        if (written == WriteStatus::Ok) {
            if (const std::optional<Comparison> ended = StreamEnd(status, false)) {
                return OutcomeOf(*ended);
            }
            if (const std::optional<FileTime> time = m_content.ModifiedTime()) {
                file.SetModifiedTime(*time);
            }
            written = file.Commit();
        }
        switch (written) {
            case WriteStatus::Ok:
                m_series.Add(size, m_size == size ? m_digest : std::nullopt);
                return PlaceOutcome::Copied;
            case WriteStatus::DiskFull:
                // Only a file that could write none of its bytes shows that nothing more fits.
                return size > 0 ? PlaceOutcome::TooBig : PlaceOutcome::DestinationFull;
            case WriteStatus::NameTaken:
                return std::nullopt;
            case WriteStatus::Failed:
                break;
        }
        return FailedInFolder(m_fs.LastFailure());
    }

    FileSystem& m_fs;
    std::u16string_view m_folder;
    std::u16string_view m_name;
    Content& m_content;
    HarvestProgress* m_progress;
    NameSeries& m_series;
    std::optional<std::uint64_t> m_size;
    std::optional<Sha256Digest> m_digest;
    std::optional<Comparison> m_ended;
    PlaceFailure m_failure;
};

}  // namespace

Content::Status FileContent::Stream(const Sink& sink) {
    const std::unique_ptr<ReadableFile> file = m_fs.OpenForReading(m_path);
    if (!file) {
        return m_fs.Exists(m_path) ? Status::SourceFailed : Status::SourceGone;
    }
    m_modifiedTime = file->ModifiedTime();
    std::vector<char> buffer(kChunk);
    for (;;) {
        std::size_t got = 0;
        if (!file->Read(buffer.data(), buffer.size(), got)) {
            return Status::SourceFailed;
        }
        if (got == 0) {
            return Status::Done;
        }
        if (!sink(buffer.data(), got)) {
            return Status::Refused;
        }
    }
}

// Copied by the system where it can: the bytes need no look on their way.
Content::Status FileContent::StreamInto(const Sink& sink, WrittenFile& file) {
    const std::unique_ptr<ReadableFile> source = file.CopiesFiles() ? m_fs.OpenForReading(m_path) : nullptr;
    if (!source) {
        return Stream(sink);
    }
    m_modifiedTime = source->ModifiedTime();
    std::uint64_t copied = 0;
    const std::optional<bool> done = file.CopyFrom(*source, 0, UINT64_MAX, copied);
    if (!done) {
        return Stream(sink);
    }
    return *done ? Status::Done : Status::Refused;
}

std::optional<std::uint64_t> FileContent::Size() {
    const std::unique_ptr<ReadableFile> file = m_fs.OpenForReading(m_path);
    return file ? file->Size() : std::nullopt;
}

PlaceOutcome PlaceNewFile(FileSystem& fs, std::u16string_view folder, std::u16string_view name,
                          Content& content, HarvestProgress* progress, NameIndex& names,
                          PlaceFailure* failure) {
    const std::shared_ptr<NameSeries> series = names.SeriesOf(name);
    Placement placement(fs, folder, name, content, progress, *series);
    const PlaceOutcome outcome = placement.Run();
    if (outcome == PlaceOutcome::Failed && failure != nullptr) {
        *failure = placement.Failure();
    }
    return outcome;
}

}  // namespace drovan
