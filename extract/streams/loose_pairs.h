#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace drovan {

// A cached whole fMP4 file that no playlist or manifest claims. Sites that name one picture file and one
// sound file in an API response leave a pair of these.
struct LooseTrack {
    std::size_t entry = 0;  // the caller's own number for it, not looked at
    std::size_t cache = 0;
    std::string_view partition;
    std::string_view url;
    bool picture = false;
    bool sound = false;
    std::optional<double> seconds;           // the file's media duration
    std::optional<std::int64_t> storedTime;  // when the browser stored it, seconds since 1970
};

struct LoosePair {
    std::size_t picture = 0;  // positions in the tracks given
    std::size_t sound = 0;
    std::string stem;  // the joined file's name without its ending, still percent-encoded: "77001-1"
};

// The picture-only and sound-only tracks that surely belong together, by picture position. Two pair when they
// come from one cache and partition and one host, share the URL's folder or an ID in its path (a run of at
// least 4 digits, or a token of at least 6 letters and digits with a digit in it), last equally long within
// max(2 s, 2 %), at most 10 s (about a fragment), and were stored within 10 minutes of each other, and when
// neither has any other possible partner: a track whose duration or time is unknown counts as possible, never
// as a partner. A folder or ID that more than a few tracks share says nothing of which belong together and is
// passed over.
std::vector<LoosePair> PairLooseTracks(const std::vector<LooseTrack>& tracks);

// The name two URLs' files share: the common leading part, in whole words, of their last path segments
// without their endings, trimmed of trailing "-_. "; when that is shorter than 2 characters, an ID both paths
// hold; else the picture's own stem.
std::string LoosePairStem(std::string_view pictureUrl, std::string_view soundUrl);

}  // namespace drovan
