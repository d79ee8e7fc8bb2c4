#include "extract/streams/loose_pairs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace drovan::tests {
namespace {

constexpr std::int64_t kStored = 1765000000;
const std::string kFolder = "https://cdn.example/upgcxcode/64/00/77001/";
const std::string kPicture = kFolder + "77001-1-30064.m4s?e=ig8euxZM&deadline=1765003600";
const std::string kSound = kFolder + "77001-1-30280.m4s?e=ig8euxZM&deadline=1765003600";

// A track as the cases write it; urls are held by the case so that the views stay valid.
struct Track {
    std::string url;
    bool picture = false;
    bool sound = false;
    std::optional<double> seconds;
    std::optional<std::int64_t> stored;
    std::size_t cache = 0;
    std::string partition;
};

Track Picture(std::string url, std::optional<double> seconds = 212.4,
              std::optional<std::int64_t> stored = kStored) {
    return {std::move(url), true, false, seconds, stored, 0, ""};
}
Track Sound(std::string url, std::optional<double> seconds = 212.45,
            std::optional<std::int64_t> stored = kStored + 3) {
    return {std::move(url), false, true, seconds, stored, 0, ""};
}
Track InCache(Track track, std::size_t cache, std::string partition) {
    track.cache = cache;
    track.partition = std::move(partition);
    return track;
}

std::vector<LooseTrack> Loose(const std::vector<Track>& tracks) {
    std::vector<LooseTrack> loose;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const Track& t = tracks[i];
        loose.push_back({100 + i, t.cache, t.partition, t.url, t.picture, t.sound, t.seconds, t.stored});
    }
    return loose;
}

std::string Describe(const std::vector<LoosePair>& pairs) {
    std::string text;
    for (const LoosePair& pair : pairs) {
        text += (text.empty() ? "" : " ") + std::to_string(pair.picture) + "+" + std::to_string(pair.sound) +
                "=" + pair.stem;
    }
    return text;
}

// Many tracks of one folder, none with an ID another holds.
std::vector<Track> CrowdedFolder(bool pairShareAnId) {
    std::vector<Track> tracks;
    for (int i = 0; i < 9; ++i) {
        const std::string n(1, static_cast<char>('a' + i));
        tracks.push_back(Picture("https://h.example/v/pic" + n + ".mp4", 100 + 50 * i));
        tracks.push_back(Sound("https://h.example/v/snd" + n + ".mp4", 100 + 50 * i));
    }
    if (pairShareAnId) {
        tracks[0].url = "https://h.example/v/9911-pic.mp4";
        tracks[1].url = "https://h.example/v/9911-snd.mp4";
    }
    return tracks;
}

TEST(PairLooseTracks, OnlyOnStrongEvidence) {
    const struct {
        const char* what;
        std::vector<Track> tracks;
        std::string pairs;
    } cases[] = {
        {"a picture and a sound the site named together", {Picture(kPicture), Sound(kSound)}, "0+1=77001-1"},
        {"sound first, picture stored later",
         {Sound(kSound, 212.4, kStored + 599), Picture(kPicture)},
         "1+0=77001-1"},
        {"two sounds for one picture",
         {Picture(kPicture), Sound(kSound), Sound(kFolder + "77001-1-30216.m4s")},
         ""},
        {"a rival sound of unknown duration",
         {Picture(kPicture), Sound(kSound), Sound(kFolder + "x.m4s", {})},
         ""},
        {"a rival sound of another length does not count",
         {Picture(kPicture), Sound(kSound), Sound(kFolder + "77001-1-30216.m4s", 30)},
         "0+1=77001-1"},
        {"the sound's duration unknown", {Picture(kPicture), Sound(kSound, std::nullopt)}, ""},
        {"durations far apart", {Picture(kPicture, 212.4), Sound(kSound, 180.0)}, ""},
        {"2 s apart on a short clip", {Picture(kPicture, 10.0), Sound(kSound, 12.0)}, "0+1=77001-1"},
        {"more than 2 s apart on a short clip", {Picture(kPicture, 10.0), Sound(kSound, 12.5)}, ""},
        {"a fragment apart on an hour", {Picture(kPicture, 3600.0), Sound(kSound, 3610.0)}, "0+1=77001-1"},
        {"over a fragment apart on an hour", {Picture(kPicture, 3600.0), Sound(kSound, 3672.0)}, ""},
        {"different hosts",
         {Picture(kPicture), Sound("https://cdn2.example/upgcxcode/64/00/77001/a.m4s")},
         ""},
        {"host names differ in case only",
         {Picture(kPicture), Sound("https://CDN.Example/upgcxcode/64/00/77001/77001-1-30280.m4s")},
         "0+1=77001-1"},
        {"stored an hour apart", {Picture(kPicture), Sound(kSound, 212.4, kStored + 3600)}, ""},
        {"stored at the ends of time",
         {Picture(kPicture, 212.4, INT64_MIN), Sound(kSound, 212.4, INT64_MAX)},
         ""},
        {"different caches", {Picture(kPicture), InCache(Sound(kSound), 1, "")}, ""},
        {"different partitions", {Picture(kPicture), InCache(Sound(kSound), 0, "_dk_https://a.example")}, ""},
        {"a shared ID in different folders",
         {Picture("https://v.example/video/987654/1080p.mp4"),
          Sound("https://v.example/audio/987654/128k.mp4")},
         "0+1=987654"},
        {"a shared hash token in different folders",
         {Picture("https://v.example/v/a1b2c3d4e5/v.m4s"), Sound("https://v.example/s/a1b2c3d4e5/s.m4s")},
         "0+1=a1b2c3d4e5"},
        {"a shared word is no ID",
         {Picture("https://v.example/upgcxcode/a/v.m4s"), Sound("https://v.example/upgcxcode/b/s.m4s")},
         ""},
        {"short digit runs are no ID",
         {Picture("https://v.example/a/123/v.m4s"), Sound("https://v.example/b/123/s.m4s")},
         ""},
        {"a name with nothing in common, same folder",
         {Picture("https://v.example/clip/video.mp4"), Sound("https://v.example/clip/sound.mp4")},
         "0+1=video"},
        {"a muxed file and a track of neither kind are left alone",
         {Picture(kPicture),
          Sound(kSound),
          {kFolder + "both.mp4", true, true, 212.4, kStored, 0, ""},
          {kFolder + "none.mp4", false, false, 212.4, kStored, 0, ""}},
         "0+1=77001-1"},
        {"two videos, each its pair",
         {Picture(kPicture), Sound(kSound),
          Picture("https://cdn.example/upgcxcode/11/22/88002/88002-1-30064.m4s"),
          Sound("https://cdn.example/upgcxcode/11/22/88002/88002-1-30280.m4s")},
         "0+1=77001-1 2+3=88002-1"},
        {"a folder of many tracks says nothing", CrowdedFolder(false), ""},
        {"an ID still pairs within a crowded folder", CrowdedFolder(true), "0+1=9911"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Describe(PairLooseTracks(Loose(c.tracks))), c.pairs) << c.what;
    }
}

// The site's codec numbers (30064, 30280) are in every video's names: a number that many share groups
// nothing.
TEST(PairLooseTracks, ManyVideosOfOneSiteEachPairAlone) {
    std::vector<Track> tracks;
    for (int video = 0; video < 2000; ++video) {
        const std::string id = std::to_string(500000 + video);
        const std::string folder = "https://cdn.example/upgcxcode/" + id + "/";
        tracks.push_back(Picture(folder + id + "-1-30064.m4s"));
        tracks.push_back(Sound(folder + id + "-1-30280.m4s"));
    }
    const std::vector<LoosePair> pairs = PairLooseTracks(Loose(tracks));
    ASSERT_EQ(pairs.size(), 2000u);
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        EXPECT_EQ(pairs[i].picture, 2 * i);
        EXPECT_EQ(pairs[i].sound, 2 * i + 1);
        EXPECT_EQ(pairs[i].stem, std::to_string(500000 + i) + "-1");
    }
}

TEST(LoosePairStem, CommonLeadingPart) {
    const struct {
        const char* what;
        std::string picture;
        std::string sound;
        std::string stem;
    } cases[] = {
        {"the site's codec numbers dropped", kPicture, kSound, "77001-1"},
        {"separators trimmed", "http://h/clip_v.m4s", "http://h/clip_a.m4s", "clip"},
        {"escapes stay whole", "http://h/a%20b-%41.mp4", "http://h/a%20b-%42.mp4", "a%20b"},
        {"words stay whole", "http://h/clip_1080.mp4", "http://h/clip_128k.mp4", "clip"},
        {"an escape and its letter are one", "http://h/%41B-video.mp4", "http://h/AB-audio.mp4", "%41B"},
        {"UTF-8 kept whole", "http://h/ab%C3%A9.mp4", "http://h/ab%C3%A8.mp4", "ab"},
        {"one character is too short: the shared ID", "http://h/7788/x1.m4s", "http://h/7788/x2.m4s", "7788"},
        {"nothing in common: the ID nearest the file", "http://h/2024/123456/video.m4s",
         "http://h/2024/123456/sound.m4s", "123456"},
        {"nothing in common and no ID: the picture's stem", "http://h/a/video.mp4", "http://h/b/sound.mp4",
         "video"},
        {"a name without an ending", "http://h/77001-v", "http://h/77001-a", "77001"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LoosePairStem(c.picture, c.sound), c.stem) << c.what;
    }
}

}  // namespace
}  // namespace drovan::tests
