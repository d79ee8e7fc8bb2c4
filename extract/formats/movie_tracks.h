#pragma once

#include <optional>
#include <string_view>

namespace drovan {

// The kinds of the tracks of an MP4's moov that may be cut short: a file's leading bytes often end inside it.
struct Mp4TrackKinds {
    bool picture = false;  // a "vide" track
    bool sound = false;    // a "soun" track
    bool allSeen = false;  // the moov ended within the bytes, so no track was missed
};

// None unless bytes start with boxes up to a moov, whole or cut.
std::optional<Mp4TrackKinds> ProbeTrackKinds(std::string_view leadingBytes);

}  // namespace drovan
