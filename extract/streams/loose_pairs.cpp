#include "extract/streams/loose_pairs.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

#include "extract/ascii.h"
#include "extract/formats/url_name.h"

namespace drovan {
namespace {

constexpr double kLeastSecondsApart = 2.0;
constexpr double kShareApart = 0.02;
// About one fragment: a long video's 2 % would let another video of nearly its length pass.
constexpr double kMostSecondsApart = 10.0;
constexpr std::int64_t kStoredSecondsApart = 10 * 60;
// Above this many tracks a folder or ID is the site's, not one video's.
constexpr std::size_t kMostInGroup = 16;
constexpr std::size_t kShortestDigitRun = 4;
constexpr std::size_t kShortestToken = 6;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsAlnum(char c) {
    const char lower = LowerAscii(c);
    return IsDigit(c) || (lower >= 'a' && lower <= 'z');
}

// The URL's path, query and fragment dropped; empty without one.
std::string_view UrlPath(std::string_view url) {
    url = url.substr(0, url.find_first_of("?#"));
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) {
        return url;
    }
    const std::size_t path = url.find('/', scheme + 3);
    return path == std::string_view::npos ? std::string_view() : url.substr(path);
}

std::string_view Folder(std::string_view path) {
    return path.substr(0, path.rfind('/') + 1);
}

// Runs of digits and tokens of letters and digits that name one thing: a video's number, a hash.
std::vector<std::string_view> PathIds(std::string_view path) {
    std::vector<std::string_view> ids;
    for (std::size_t at = 0; at < path.size();) {
        if (!IsAlnum(path[at])) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < path.size() && IsAlnum(path[end])) {
            ++end;
        }
        const std::string_view token = path.substr(at, end - at);
        const bool anyDigit = std::any_of(token.begin(), token.end(), IsDigit);
        if (token.size() >= kShortestToken && anyDigit && !std::all_of(token.begin(), token.end(), IsDigit)) {
            ids.push_back(token);
        }
        for (std::size_t run = at; run < end;) {
            std::size_t runEnd = run;
            while (runEnd < end && IsDigit(path[runEnd])) {
                ++runEnd;
            }
            if (runEnd - run >= kShortestDigitRun) {
                ids.push_back(path.substr(run, runEnd - run));
            }
            run = std::max(runEnd, run + 1);
        }
        at = end;
    }
    return ids;
}

bool IsLoose(const LooseTrack& track) {
    return track.picture != track.sound;
}

enum class Match { No, Possible, Sure };

// What the durations and times of a picture and a sound of one group say.
Match MatchOf(const LooseTrack& a, const LooseTrack& b) {
    bool sure = true;
    if (a.seconds && b.seconds && std::isfinite(*a.seconds) && std::isfinite(*b.seconds)) {
        const double longer = std::max(*a.seconds, *b.seconds);
        const double tolerance =
            std::min(std::max(kLeastSecondsApart, kShareApart * longer), kMostSecondsApart);
        if (std::fabs(*a.seconds - *b.seconds) > tolerance) {
            return Match::No;
        }
        sure = *a.seconds > 0 && *b.seconds > 0;
    } else {
        sure = false;
    }
    if (a.storedTime && b.storedTime) {
        // Unsigned, so that times at the ends of the range do not overflow.
        const auto later = static_cast<std::uint64_t>(std::max(*a.storedTime, *b.storedTime));
        const auto earlier = static_cast<std::uint64_t>(std::min(*a.storedTime, *b.storedTime));
        if (later - earlier > static_cast<std::uint64_t>(kStoredSecondsApart)) {
            return Match::No;
        }
    } else {
        sure = false;
    }
    return sure ? Match::Sure : Match::Possible;
}

// A track's partners so far: none, one (sure or not), or more.
struct Partners {
    std::optional<std::size_t> only;
    bool onlyIsSure = false;
    bool many = false;

    void Add(std::size_t other, bool sure) {
        if (!only) {
            only = other;
            onlyIsSure = sure;
        } else if (*only != other) {
            many = true;
        }
    }
};

// Each field after its length, so that no two lists of fields give one key.
void AppendField(std::string& key, std::string_view field) {
    key.append(std::to_string(field.size())).append(1, ':').append(field);
}

// Keys of the groups a track joins: where it was stored (its cache, partition and host, as a number), then
// its folder or one of its IDs. The place goes in as a number so that the keys of a path with many IDs
// together stay as long as the path.
std::vector<std::string> GroupKeys(const LooseTrack& track, std::size_t place) {
    std::string common;
    AppendField(common, std::to_string(place));
    const std::string_view path = UrlPath(track.url);
    std::vector<std::string> keys{common + "folder"};
    AppendField(keys.back(), Folder(path));
    for (const std::string_view id : PathIds(path)) {
        keys.push_back(common + "id");
        AppendField(keys.back(), id);
    }
    return keys;
}

std::string PlaceKey(const LooseTrack& track) {
    std::string host(UrlHost(track.url));
    std::transform(host.begin(), host.end(), host.begin(), LowerAscii<char>);
    std::string key;
    AppendField(key, std::to_string(track.cache));
    AppendField(key, track.partition);
    AppendField(key, host);
    return key;
}

std::vector<Partners> FindPartners(const std::vector<LooseTrack>& tracks) {
    std::unordered_map<std::string, std::size_t> places;
    std::unordered_map<std::string, std::vector<std::size_t>> groups;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        if (IsLoose(tracks[i])) {
            const std::size_t place = places.emplace(PlaceKey(tracks[i]), places.size()).first->second;
            for (std::string& key : GroupKeys(tracks[i], place)) {
                std::vector<std::size_t>& group = groups[std::move(key)];
                // One track's path may hold an ID twice.
                if (group.empty() || group.back() != i) {
                    group.push_back(i);
                }
            }
        }
    }
    std::vector<Partners> partners(tracks.size());
    for (const auto& keyAndGroup : groups) {
        const std::vector<std::size_t>& group = keyAndGroup.second;
        if (group.size() > kMostInGroup) {
            continue;
        }
        for (const std::size_t picture : group) {
            for (const std::size_t sound : group) {
                if (!tracks[picture].picture || !tracks[sound].sound) {
                    continue;
                }
                const Match match = MatchOf(tracks[picture], tracks[sound]);
                if (match != Match::No) {
                    partners[picture].Add(sound, match == Match::Sure);
                    partners[sound].Add(picture, match == Match::Sure);
                }
            }
        }
    }
    return partners;
}

// A path's character as a URL holds it: a %XX escape or one byte, with the byte it stands for.
struct UrlUnit {
    std::size_t end = 0;  // past the unit in the text
    unsigned char byte = 0;
};

std::vector<UrlUnit> UrlUnits(std::string_view text) {
    std::vector<UrlUnit> units;
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] == '%' && at + 2 < text.size() && HexDigitValue(text[at + 1]) >= 0 &&
            HexDigitValue(text[at + 2]) >= 0) {
            units.push_back({at + 3, static_cast<unsigned char>(HexDigitValue(text[at + 1]) * 16 +
                                                                HexDigitValue(text[at + 2]))});
            at += 3;
        } else {
            units.push_back({at + 1, static_cast<unsigned char>(text[at])});
            at += 1;
        }
    }
    return units;
}

bool IsContinuation(const std::vector<UrlUnit>& units, std::size_t i) {
    return i < units.size() && (units[i].byte & 0xC0) == 0x80;
}

// The last path segment without its ending.
std::string_view Stem(std::string_view url) {
    const std::string_view segment = UrlLastSegment(url);
    const std::size_t dot = segment.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? segment : segment.substr(0, dot);
}

// The common leading part of a and b in whole characters and words, trimmed: its length in a, and in
// characters.
std::size_t CommonLead(std::string_view a, std::string_view b, std::size_t& characters) {
    const std::vector<UrlUnit> left = UrlUnits(a);
    const std::vector<UrlUnit> right = UrlUnits(b);
    std::size_t n = 0;
    while (n < left.size() && n < right.size() && left[n].byte == right[n].byte) {
        ++n;
    }
    // Never a UTF-8 sequence cut in two, nor a word: "30064" and "30280" share no "30".
    while (n > 0 && (IsContinuation(left, n) || IsContinuation(right, n))) {
        --n;
    }
    const auto alnumAt = [](const std::vector<UrlUnit>& units, std::size_t i) {
        return i < units.size() && IsAlnum(static_cast<char>(units[i].byte));
    };
    if (n > 0 && alnumAt(left, n - 1) && (alnumAt(left, n) || alnumAt(right, n))) {
        while (n > 0 && alnumAt(left, n - 1)) {
            --n;
        }
    }
    const std::string_view separators = "-_. ";
    while (n > 0 && separators.find(static_cast<char>(left[n - 1].byte)) != std::string_view::npos) {
        --n;
    }
    characters = 0;
    for (std::size_t i = 0; i < n; ++i) {
        characters += IsContinuation(left, i) ? 0 : 1;
    }
    return n == 0 ? 0 : left[n - 1].end;
}

// The IDs both paths hold, the one nearest the file name first.
std::optional<std::string_view> SharedId(std::string_view pictureUrl, std::string_view soundUrl) {
    const std::vector<std::string_view> pictureIds = PathIds(UrlPath(pictureUrl));
    const std::vector<std::string_view> soundList = PathIds(UrlPath(soundUrl));
    const std::unordered_set<std::string_view> soundIds(soundList.begin(), soundList.end());
    for (auto id = pictureIds.rbegin(); id != pictureIds.rend(); ++id) {
        if (soundIds.count(*id) != 0) {
            return *id;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string LoosePairStem(std::string_view pictureUrl, std::string_view soundUrl) {
    const std::string_view picture = Stem(pictureUrl);
    std::size_t characters = 0;
    const std::size_t common = CommonLead(picture, Stem(soundUrl), characters);
    if (characters >= 2) {
        return std::string(picture.substr(0, common));
    }
    if (const auto id = SharedId(pictureUrl, soundUrl)) {
        return std::string(*id);
    }
    return std::string(picture);
}

std::vector<LoosePair> PairLooseTracks(const std::vector<LooseTrack>& tracks) {
    const std::vector<Partners> partners = FindPartners(tracks);
    std::vector<LoosePair> pairs;
    for (std::size_t picture = 0; picture < tracks.size(); ++picture) {
        const Partners& mine = partners[picture];
        if (!tracks[picture].picture || !mine.only || mine.many || !mine.onlyIsSure) {
            continue;
        }
        const Partners& theirs = partners[*mine.only];
        if (theirs.many || theirs.only != picture) {
            continue;
        }
        pairs.push_back({picture, *mine.only, LoosePairStem(tracks[picture].url, tracks[*mine.only].url)});
    }
    return pairs;
}

}  // namespace drovan
