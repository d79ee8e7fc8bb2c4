#include "extract/harvest_filter.h"

#include <algorithm>

#include "extract/ascii.h"
#include "extract/name_rules.h"

namespace drovan {

bool NameOfTypes(std::u16string_view name, std::u16string_view types) {
    if (types.empty() || types == u"*") {
        return true;
    }
    for (std::size_t start = 0;;) {
        const std::size_t comma = types.find(u',', start);
        const std::u16string_view type = types.substr(start, comma - start);
        if (!type.empty() && NameEndsWithType(name, type)) {
            return true;
        }
        if (comma == std::u16string_view::npos) {
            return false;
        }
        start = comma + 1;
    }
}

bool PassesBounds(const HarvestFilter& filter, std::string_view url, std::optional<std::uint64_t> size,
                  std::optional<std::int64_t> storedTime) {
    if (!filter.urlContains.empty()) {
        const auto folded = [](char a, char b) { return LowerAscii(a) == LowerAscii(b); };
        if (std::search(url.begin(), url.end(), filter.urlContains.begin(), filter.urlContains.end(),
                        folded) == url.end()) {
            return false;
        }
    }
    if (filter.AsksSize() && (!size || (filter.minSize && *size < *filter.minSize) ||
                              (filter.maxSize && *size > *filter.maxSize))) {
        return false;
    }
    return !filter.since || (storedTime && *storedTime >= *filter.since);
}

}  // namespace drovan
