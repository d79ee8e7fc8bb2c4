#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace drovan {

// How many of the decoded body's first bytes DecideType looks at; fewer are fine.
constexpr std::size_t kTypeLeadingBytes = 4096;
// What a look at a body reads first: mostly all the type needs, also when a compressed body is inflated.
constexpr std::size_t kTypeFirstRead = 512;
// Enough leading bytes for TypeLeadingBytesWanted to tell whether DecideType looks past them.
constexpr std::size_t kTypeSignatureBytes = 16;

// How many leading bytes DecideType can use, given at least the first kTypeSignatureBytes (or the whole
// body): only signatures whose kind is found further on (ASF, Ogg, Matroska, and an MP4 whose URL ends as a
// media segment's: its moov's tracks) want all kTypeLeadingBytes.
std::size_t TypeLeadingBytesWanted(std::string_view firstBytes, std::string_view url = {});

// What an MP4 body's moov, as far as its leading bytes hold it, says of its tracks.
enum class MovieTracks { Unknown, Picture, SoundOnly };

// A cached body's type as a lower-case ending without the dot: the body's signature first, then a specific
// Content-Type, then the URL's ending. A URL ending of the decided type's family (jpeg for a JPEG, m4a for an
// ftyp body, wma for ASF) is kept. An MP4 body whose URL ends as a media segment's ("m4s", "cmfv", "mp4", …)
// is "mp4" when it carries a picture and "m4a" when it carries sound alone, by its tracks when they are
// known, else by its brand, Content-Type and URL. Empty when nothing decides.
std::string DecideType(std::string_view leadingBytes, std::string_view contentType, std::string_view url,
                       MovieTracks tracks = MovieTracks::Unknown);

// The ending of the URL's last path segment, lower-case, without the dot; empty when there is none.
std::string UrlEnding(std::string_view url);

}  // namespace drovan
