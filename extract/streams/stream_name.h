#pragma once

#include <string>
#include <string_view>

namespace drovan {

// The file name of a stream, ".extension" appended: the stem of the manifest URL's last segment unless it is
// a word players name every manifest by ("index", "master", "chunklist_w123", …), then the nearest folder
// of the URL's path that is neither such a word nor a rendition's folder ("v720", "720p_3000k", "hd"), else
// the host. Without a manifest, segmentUrl is a segment's and its folders alone are looked at. Cleaned as
// entry names are.
std::u16string StreamFileName(std::string_view manifestUrl, std::string_view extension);
std::u16string SegmentsFileName(std::string_view segmentUrl, std::string_view extension);
// A stem chosen elsewhere (still percent-encoded) from a URL of that host, cleaned as entry names are.
std::u16string StemFileName(std::string_view url, std::string_view stem, std::string_view extension);

}  // namespace drovan
