#include "extract/formats/movie_tracks.h"

#include <vector>

#include "extract/formats/mp4_box.h"

namespace drovan {
namespace {

// A box whose end may lie past the bytes given: its payload is what is there of it.
struct CutBox {
    std::string_view type;
    std::string_view payload;
    bool whole = false;
};

// The boxes that fill bytes, the last possibly cut where bytes end; allRead tells that none was cut and every
// header read.
std::vector<CutBox> DecodeCutBoxes(std::string_view bytes, bool& allRead) {
    std::vector<CutBox> boxes;
    allRead = false;
    while (!bytes.empty()) {
        const auto header = mp4::DecodeBoxHeader(bytes);
        if (!header) {
            return boxes;
        }
        const bool whole = header->size <= bytes.size();
        const auto size = whole ? static_cast<std::size_t>(header->size) : bytes.size();
        boxes.push_back({header->type, bytes.substr(header->headerSize, size - header->headerSize), whole});
        if (!whole) {
            return boxes;
        }
        bytes.remove_prefix(size);
    }
    allRead = true;
    return boxes;
}

std::optional<std::string_view> CutChild(std::string_view payload, std::string_view type) {
    bool allRead = false;
    for (const CutBox& box : DecodeCutBoxes(payload, allRead)) {
        if (box.type == type) {
            return box.payload;
        }
    }
    return std::nullopt;
}

// A trak's hdlr handler_type, when the bytes reach it.
std::optional<std::string_view> CutTrackHandler(std::string_view trak) {
    const auto mdia = CutChild(trak, "mdia");
    const auto hdlr = mdia ? CutChild(*mdia, "hdlr") : std::nullopt;
    const auto handler = hdlr ? mp4::DecodeHandlerBox(*hdlr) : std::nullopt;
    return handler ? std::optional(handler->handlerType) : std::nullopt;
}

Mp4TrackKinds TrackKindsOf(std::string_view moovPayload, bool moovWhole) {
    Mp4TrackKinds kinds;
    bool allRead = false;
    bool everyHandler = true;
    for (const CutBox& box : DecodeCutBoxes(moovPayload, allRead)) {
        if (box.type != "trak") {
            continue;
        }
        const auto handler = CutTrackHandler(box.payload);
        kinds.picture = kinds.picture || handler == "vide";
        kinds.sound = kinds.sound || handler == "soun";
        everyHandler = everyHandler && handler;
    }
    kinds.allSeen = moovWhole && allRead && everyHandler;
    return kinds;
}

}  // namespace

std::optional<Mp4TrackKinds> ProbeTrackKinds(std::string_view leadingBytes) {
    std::string_view bytes = leadingBytes;
    while (const auto header = mp4::DecodeBoxHeader(bytes)) {
        // A size of 0 runs to the file's end, which leading bytes need not reach.
        const bool toFileEnd = bytes.compare(0, 4, std::string_view("\0\0\0\0", 4)) == 0;
        const bool whole = header->size <= bytes.size() && !toFileEnd;
        if (header->type == "moov") {
            const auto size = whole ? static_cast<std::size_t>(header->size) : bytes.size();
            return TrackKindsOf(bytes.substr(header->headerSize, size - header->headerSize), whole);
        }
        if (!whole) {
            return std::nullopt;
        }
        bytes.remove_prefix(static_cast<std::size_t>(header->size));
    }
    return std::nullopt;
}

}  // namespace drovan
