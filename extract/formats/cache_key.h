#pragma once

#include <string>
#include <string_view>

namespace drovan {

// The URL inside a key: Chromium's "1/0/_dk_<site> <site> <url>" and older forms, a blockfile child's
// "Range_<key>:<sig>:<n>"; Firefox's "<tags>,:<url>". Empty when there is none.
std::string UrlFromChromiumKey(std::string_view key);
std::string UrlFromFirefoxKey(std::string_view key);

}  // namespace drovan
