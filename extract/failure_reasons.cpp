#include "extract/failure_reasons.h"

namespace drovan {

void CountFailure(std::vector<FailureGroup>& groups, const PlaceFailure& failure, std::size_t count) {
    for (FailureGroup& group : groups) {
        if (group.reason == failure.reason) {
            group.count += count;
            return;
        }
    }
    if (groups.size() < kFailureGroups) {
        groups.push_back({failure.reason, failure.path, count});
        return;
    }
    FailureGroup& last = groups.back();
    if (last.reason != kOtherReasons) {
        last.reason = kOtherReasons;
        last.firstPath.clear();
    }
    last.count += count;
}

std::u16string AsReason(std::u16string_view systemText) {
    std::u16string reason(systemText);
    while (!reason.empty() && (reason.back() == u'\n' || reason.back() == u'\r' || reason.back() == u' ' ||
                               reason.back() == u'.')) {
        reason.pop_back();
    }
    // Only a capital followed by a small letter: "I/O error" and "DNS" keep theirs.
    if (reason.size() > 1 && reason[0] >= u'A' && reason[0] <= u'Z' && reason[1] >= u'a' &&
        reason[1] <= u'z') {
        reason[0] = static_cast<char16_t>(reason[0] - u'A' + u'a');
    }
    return reason;
}

}  // namespace drovan
