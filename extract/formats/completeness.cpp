#include "extract/formats/completeness.h"

#include <algorithm>
#include <cstdint>

namespace drovan {

void DecideCompleteness(CacheEntry& entry) {
    std::sort(entry.pieces.begin(), entry.pieces.end(),
              [](const BodyPiece& a, const BodyPiece& b) { return a.bodyOffset < b.bodyOffset; });
    std::uint64_t covered = 0;
    bool contiguous = true;
    for (const BodyPiece& piece : entry.pieces) {
        if (piece.bodyOffset != covered || piece.length > UINT64_MAX - covered) {
            contiguous = false;
            break;
        }
        covered += piece.length;
    }
    entry.complete = false;
    entry.noBody = entry.status == 204 || entry.status == 205;
    if (entry.noBody || !contiguous || covered != entry.storedSize || entry.truncated) {
        return;
    }
    if (entry.status == 200 && covered == 0 && entry.contentLength.value_or(0) == 0) {
        entry.noBody = true;
        return;
    }
    if (entry.status == 200) {
        entry.complete = !entry.contentLength || *entry.contentLength == covered;
    } else if (entry.status == 206) {
        // A 206 is whole only when its range names the total and the pieces hold all of it from byte 0. The
        // stored range is the first response's; a sparse entry's later ranges may have filled the bytes
        // before it.
        const std::optional<ContentRange>& range = entry.contentRange;
        entry.complete = range && range->total && covered == *range->total;
    }
}

}  // namespace drovan
