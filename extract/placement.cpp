#include "extract/placement.h"

#include <cstring>
#include <vector>

#include "extract/name_rules.h"
#include "extract/progress.h"

namespace drovan {
namespace {

// Past this many names taken by other bytes something is wrong with the destination; the file counts as
// failed.
constexpr unsigned kMaxNumberedName = 100000;
constexpr std::size_t kChunk = 64 * 1024;

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

enum class Comparison { Same, Different, SourceFailed, Stopped };

// Streams content against the file at path; an existing thing that cannot be read (a folder, a locked file)
// counts as different bytes.
Comparison CompareWithExisting(FileSystem& fs, const std::u16string& path, Content& content,
                               const ExtractionProgress* progress) {
    const std::unique_ptr<ReadableFile> existing = fs.OpenForReading(path);
    if (!existing) {
        return Comparison::Different;
    }
    std::vector<char> theirs(kChunk);
    bool stopped = false;
    const Content::Status status = content.Stream([&](const char* data, std::size_t size) {
        if (StopRequested(progress)) {
            stopped = true;
            return false;
        }
        while (size > 0) {
            const std::size_t part = size < theirs.size() ? size : theirs.size();
            if (!ReadFully(*existing, theirs.data(), part) || std::memcmp(data, theirs.data(), part) != 0) {
                return false;
            }
            data += part;
            size -= part;
        }
        return true;
    });
    if (stopped) {
        return Comparison::Stopped;
    }
    switch (status) {
        case Content::Status::SourceFailed:
            return Comparison::SourceFailed;
        case Content::Status::Refused:
            return Comparison::Different;
        case Content::Status::Done:
            break;
    }
    // Same so far: the existing file must end here too.
    char extra = 0;
    std::size_t got = 0;
    return existing->Read(&extra, 1, got) && got == 0 ? Comparison::Same : Comparison::Different;
}

PlaceOutcome WriteAndCommit(NewFile& file, Content& content, const ExtractionProgress* progress) {
    WriteStatus written = WriteStatus::Ok;
    bool stopped = false;
    const Content::Status status = content.Stream([&](const char* data, std::size_t size) {
        if (StopRequested(progress)) {
            stopped = true;
            return false;
        }
        written = file.Write(data, size);
        return written == WriteStatus::Ok;
    });
    // A stop that comes with the last chunk still abandons the file: the user asked for nothing more.
    if (stopped || StopRequested(progress)) {
        return PlaceOutcome::Stopped;
    }
    if (written == WriteStatus::Ok) {
        if (status != Content::Status::Done) {
            return PlaceOutcome::Failed;
        }
        written = file.Commit();
    }
    switch (written) {
        case WriteStatus::Ok:
            return PlaceOutcome::Copied;
        case WriteStatus::DiskFull:
            return PlaceOutcome::DestinationFull;
        case WriteStatus::Failed:
            break;
    }
    return PlaceOutcome::Failed;
}

}  // namespace

Content::Status FileContent::Stream(const Sink& sink) {
    const std::unique_ptr<ReadableFile> file = m_fs.OpenForReading(m_path);
    if (!file) {
        return Status::SourceFailed;
    }
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

PlaceOutcome PlaceNewFile(FileSystem& fs, std::u16string_view folder, std::u16string_view name,
                          Content& content, const ExtractionProgress* progress) {
    for (unsigned number = 1; number <= kMaxNumberedName; ++number) {
        const std::u16string target =
            JoinPath(folder, number == 1 ? std::u16string(name) : NumberedName(name, number), fs.Separator());
        CreateStatus status = CreateStatus::Failed;
        const std::unique_ptr<NewFile> file = fs.CreateNewFile(target, status);
        switch (status) {
            case CreateStatus::Created:
                return file ? WriteAndCommit(*file, content, progress) : PlaceOutcome::Failed;
            case CreateStatus::DiskFull:
                return PlaceOutcome::DestinationFull;
            case CreateStatus::Failed:
                return PlaceOutcome::Failed;
            case CreateStatus::NameTaken:
                break;
        }
        switch (CompareWithExisting(fs, target, content, progress)) {
            case Comparison::Same:
                return PlaceOutcome::AlreadyPresent;
            case Comparison::SourceFailed:
                return PlaceOutcome::Failed;
            case Comparison::Stopped:
                return PlaceOutcome::Stopped;
            case Comparison::Different:
                break;
        }
    }
    return PlaceOutcome::Failed;
}

}  // namespace drovan
