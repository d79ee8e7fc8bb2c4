#include "extract/formats/cache_key.h"

#include <algorithm>

namespace drovan {

std::string UrlFromChromiumKey(std::string_view key) {
    if (key.substr(0, 6) == "Range_") {
        key.remove_prefix(6);
        // Children append ":<signature>:<child number>".
        for (int i = 0; i < 2; ++i) {
            const std::size_t colon = key.rfind(':');
            if (colon == std::string_view::npos) {
                return {};
            }
            key = key.substr(0, colon);
        }
    }
    // Up to two leading "<digits>/" parts: credentials and upload id.
    for (int i = 0; i < 2; ++i) {
        std::size_t digits = 0;
        while (digits < key.size() && key[digits] >= '0' && key[digits] <= '9') {
            ++digits;
        }
        if (digits == 0 || digits >= key.size() || key[digits] != '/') {
            break;
        }
        key.remove_prefix(digits + 1);
    }
    if (key.substr(0, 4) == "_dk_") {
        // At least the top-frame site and the frame site come before the URL.
        const std::size_t space = key.rfind(' ');
        if (std::count(key.begin(), key.end(), ' ') < 2) {
            return {};
        }
        key = key.substr(space + 1);
    }
    if (key.find("://") == std::string_view::npos) {
        return {};
    }
    return std::string(key);
}

std::string UrlFromFirefoxKey(std::string_view key) {
    std::size_t position = 0;
    while (position < key.size()) {
        if (key[position] == ':') {
            const std::string_view url = key.substr(position + 1);
            return url.find("://") == std::string_view::npos ? std::string() : std::string(url);
        }
        // Skip the tag's value up to a single comma; a doubled comma belongs to the value.
        std::size_t next = position + 1;
        for (;;) {
            next = key.find(',', next);
            if (next == std::string_view::npos) {
                return {};
            }
            if (next + 1 < key.size() && key[next + 1] == ',') {
                next += 2;
                continue;
            }
            break;
        }
        position = next + 1;
    }
    return {};
}

}  // namespace drovan
