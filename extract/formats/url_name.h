#pragma once

#include <string>
#include <string_view>

namespace drovan {

// Longest file name FileNameForEntry gives, in UTF-16 code units.
constexpr std::size_t kMaxEntryNameUnits = 150;

// Marks that turn the text after them around ("clip\u202Egpj.exe" shows as "clipexe.jpg"), and those a
// name shows as nothing or as a line break: DEL and the C1 controls, the line and paragraph separators, the
// byte-order mark. Never in a name, never printed raw.
bool IsHiddenMark(char16_t c);

// The URL's last non-empty path segment with query and fragment dropped, still percent-encoded; empty for
// "/" or no path.
std::string_view UrlLastSegment(std::string_view url);

// The URL's host without user info and port; empty when the URL has no authority.
std::string_view UrlHost(std::string_view url);

// %XX sequences turned into their bytes; a '%' not followed by two hex digits stays as it is.
std::string PercentDecode(std::string_view text);

// Endings sites give to a piece of fragmented MP4 or to a whole one: "m4s", "cmfv", "dash", "mp4", …;
// ending in lower case without the dot.
bool IsMediaSegmentEnding(std::string_view ending);

// A Windows-safe file name for a cached response: the URL's last segment decoded as UTF-8 (the host name when
// it is empty), forbidden characters and a leading dot replaced, hidden marks removed, device names
// guarded, at most kMaxEntryNameUnits long with its ending kept, and ".type" appended unless it already ends
// so. An MP4 type replaces a media segment's ending instead: "a.m4s" as "m4a" is "a.m4a".
std::u16string FileNameForEntry(std::string_view url, std::string_view type);

}  // namespace drovan
