#include "extract/streams/dash_manifest.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <memory>
#include <utility>

#include "extract/ascii.h"
#include "extract/streams/url_reference.h"
#include "extract/streams/xml_scan.h"

namespace drovan {

namespace {

constexpr std::uint64_t kMaxValue = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t kNanosPerSecond = 1000000000;
constexpr std::size_t kWidestNumber = 32;
constexpr std::string_view kXmlBlanks = " \t\r\n";

using Elements = std::vector<XmlElement>;
using SharedUrl = std::shared_ptr<const std::string>;

bool AddTo(std::uint64_t& value, std::uint64_t addend) {
    if (addend > kMaxValue - value) {
        return false;
    }
    value += addend;
    return true;
}

bool MultiplyBy(std::uint64_t& value, std::uint64_t factor) {
    if (factor != 0 && value > kMaxValue / factor) {
        return false;
    }
    value *= factor;
    return true;
}

std::uint64_t CeilDivide(std::uint64_t value, std::uint64_t divisor) {
    return value / divisor + (value % divisor != 0 ? 1 : 0);
}

// Bytes of segments and URLs left to the whole manifest: one template can apply to thousands of
// representations, each expanded up to the cap.
struct Budget {
    std::size_t left = 0;
    bool ranOut = false;

    bool Spend(std::size_t bytes) {
        if (bytes > left) {
            left = 0;
            ranOut = true;
            return false;
        }
        left -= bytes;
        return true;
    }
};

std::string_view LocalName(std::string_view name) {
    const std::size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text) {
    text = TrimBlanks(text, kXmlBlanks);
    Number value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// An attribute's number, fallback when absent; none when it is there but not a number.
std::optional<std::uint64_t> NumberOr(const std::string* text, std::uint64_t fallback) {
    return text == nullptr ? std::optional<std::uint64_t>(fallback) : ParseNumber<std::uint64_t>(*text);
}

// Seconds a designator of xs:duration stands for, before and after its "T" (a year as 365 days, a month as
// 30).
std::optional<std::uint64_t> DesignatorSeconds(char designator, bool time) {
    constexpr std::uint64_t kDay = 86400;
    const std::string_view designators = time ? "HMS" : "YMD";
    const std::uint64_t seconds[2][3] = {{365 * kDay, 30 * kDay, kDay}, {3600, 60, 1}};
    const std::size_t at = designators.find(designator);
    return at == std::string_view::npos ? std::nullopt : std::optional<std::uint64_t>(seconds[time][at]);
}

// "12.5" of a designator worth unitSeconds, in nanoseconds; digits past the ninth decimal are dropped.
std::optional<std::uint64_t> DesignatorNanos(std::string_view number, std::uint64_t unitSeconds) {
    const std::size_t dot = number.find('.');
    const std::string_view whole = number.substr(0, dot);
    const std::string_view fraction =
        dot == std::string_view::npos ? std::string_view() : number.substr(dot + 1);
    std::optional<std::uint64_t> nanos = whole.empty() ? 0 : ParseNumber<std::uint64_t>(whole);
    if (!nanos || (whole.empty() && fraction.empty()) || fraction.find('.') != std::string_view::npos ||
        !MultiplyBy(*nanos, unitSeconds * kNanosPerSecond)) {
        return std::nullopt;
    }
    std::uint64_t fractionNanos = 0;
    for (std::size_t i = 0; i < 9; ++i) {
        fractionNanos =
            fractionNanos * 10 + (i < fraction.size() ? static_cast<std::uint64_t>(fraction[i] - '0') : 0);
    }
    if (!AddTo(*nanos, fractionNanos * unitSeconds)) {
        return std::nullopt;
    }
    return nanos;
}

// xs:duration ("PT1H2M3.5S", "P1DT12H") in nanoseconds; none when negative, malformed or too long.
std::optional<std::uint64_t> ParseDuration(const std::string* text) {
    std::string_view rest = text == nullptr ? std::string_view() : TrimBlanks(*text, kXmlBlanks);
    if (rest.empty() || rest.front() != 'P') {
        return std::nullopt;
    }
    rest.remove_prefix(1);
    std::uint64_t total = 0;
    bool time = false;
    bool any = false;
    while (!rest.empty()) {
        if (rest.front() == 'T' && !time) {
            time = true;
            rest.remove_prefix(1);
            continue;
        }
        const std::size_t length = rest.find_first_not_of("0123456789.");
        const std::optional<std::uint64_t> unit = length == 0 || length == std::string_view::npos
                                                      ? std::nullopt
                                                      : DesignatorSeconds(rest[length], time);
        const std::optional<std::uint64_t> nanos =
            unit ? DesignatorNanos(rest.substr(0, length), *unit) : std::nullopt;
        if (!nanos || !AddTo(total, *nanos)) {
            return std::nullopt;
        }
        rest.remove_prefix(length + 1);
        any = true;
    }
    return any ? std::optional<std::uint64_t>(total) : std::nullopt;
}

struct ByteRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};

// "first-last", both inclusive.
std::optional<ByteRange> ParseRange(std::string_view text) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> first = ParseNumber<std::uint64_t>(text.substr(0, dash));
    const std::optional<std::uint64_t> last = ParseNumber<std::uint64_t>(text.substr(dash + 1));
    if (!first || !last || *first > *last) {
        return std::nullopt;
    }
    return ByteRange{*first, *last};
}

struct TemplateValues {
    std::string_view id;
    std::uint64_t bandwidth = 0;
    std::optional<std::uint64_t> number;  // none in @initialization
    std::optional<std::uint64_t> time;
};

// "%0<width>d".
std::optional<std::size_t> ParseWidth(std::string_view format) {
    if (format.size() < 4 || format.substr(0, 2) != "%0" || format.back() != 'd') {
        return std::nullopt;
    }
    const std::string_view digits = format.substr(2, format.size() - 3);
    const std::optional<std::uint64_t> width = ParseNumber<std::uint64_t>(digits);
    if (!width || *width > kWidestNumber ||
        digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(*width);
}

// $RepresentationID$, $Number$, $Time$, $Bandwidth$ (the numbers with an optional %0<width>d) and $$; none
// when an identifier is unknown, malformed or has no value here.
std::optional<std::string> ExpandTemplate(std::string_view pattern, const TemplateValues& values) {
    std::string expanded;
    while (true) {
        const std::size_t open = pattern.find('$');
        expanded.append(pattern.substr(0, open));
        if (open == std::string_view::npos) {
            return expanded;
        }
        const std::size_t close = pattern.find('$', open + 1);
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view identifier = pattern.substr(open + 1, close - open - 1);
        pattern.remove_prefix(close + 1);
        const std::size_t percent = identifier.find('%');
        const std::string_view name = identifier.substr(0, percent);
        if (identifier.empty() || (name == "RepresentationID" && percent == std::string_view::npos)) {
            expanded.append(identifier.empty() ? "$" : values.id);
            continue;
        }
        const std::optional<std::size_t> width = percent == std::string_view::npos
                                                     ? std::optional<std::size_t>(0)
                                                     : ParseWidth(identifier.substr(percent));
        const std::optional<std::uint64_t> number = name == "Number"      ? values.number
                                                    : name == "Time"      ? values.time
                                                    : name == "Bandwidth" ? std::optional(values.bandwidth)
                                                                          : std::nullopt;
        if (!width || !number) {
            return std::nullopt;
        }
        const std::string digits = std::to_string(*number);
        expanded.append(*width > digits.size() ? *width - digits.size() : 0, '0').append(digits);
    }
}

// An Initialization or SegmentURL element: a URL reference (none for the BaseURL itself) and a byte range.
struct SegmentReference {
    const std::string* url = nullptr;
    std::optional<ByteRange> range;
    bool badRange = false;
};

SegmentReference ReadReference(const XmlElement& element, std::string_view urlName,
                               std::string_view rangeName) {
    SegmentReference reference;
    reference.url = FindXmlAttribute(element, urlName);
    const std::string* range = FindXmlAttribute(element, rangeName);
    if (range != nullptr) {
        reference.range = ParseRange(*range);
        reference.badRange = !reference.range;
    }
    return reference;
}

// One S of a SegmentTimeline, its start and repeats resolved; a count of 0 repeats it to the period's end.
struct TimelineRun {
    std::uint64_t start = 0;
    std::uint64_t duration = 0;
    std::uint64_t count = 0;
};

struct Timeline {
    std::vector<TimelineRun> runs;
    std::uint64_t closedCount = 0;  // the segments of the runs with a count
    bool usable = true;
};

// r="-1" before another S lasts until that one's t; as the last S, until the period's end.
std::uint64_t OpenRunCount(const std::vector<const XmlElement*>& entries, std::size_t index,
                           const TimelineRun& run) {
    if (index + 1 == entries.size()) {
        return 0;
    }
    const std::optional<std::uint64_t> next = NumberOr(FindXmlAttribute(*entries[index + 1], "t"), 0);
    return next && *next > run.start ? CeilDivide(*next - run.start, run.duration) : 1;
}

Timeline ReadTimeline(const std::vector<const XmlElement*>& entries) {
    Timeline timeline;
    std::uint64_t next = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const XmlElement& entry = *entries[i];
        const std::optional<std::uint64_t> start = NumberOr(FindXmlAttribute(entry, "t"), next);
        const std::optional<std::uint64_t> duration = NumberOr(FindXmlAttribute(entry, "d"), 0);
        const std::string* repeatText = FindXmlAttribute(entry, "r");
        const std::optional<std::int64_t> repeat = repeatText ? ParseNumber<std::int64_t>(*repeatText) : 0;
        if (!start || !duration || *duration == 0 || !repeat) {
            return {{}, 0, false};
        }
        TimelineRun run{*start, *duration, 0};
        run.count = *repeat >= 0 ? static_cast<std::uint64_t>(*repeat) + 1 : OpenRunCount(entries, i, run);
        std::uint64_t span = run.count;
        next = run.start;
        if (!AddTo(timeline.closedCount, run.count) || !MultiplyBy(span, run.duration) ||
            !AddTo(next, span)) {
            return {{}, 0, false};
        }
        timeline.runs.push_back(run);
    }
    return timeline;
}

enum AddressingAttribute : std::size_t {
    kInitialization,
    kMedia,
    kStartNumber,
    kTimescale,
    kDuration,
    kPresentationTimeOffset,
    kAddressingAttributeCount
};

constexpr std::string_view kAddressingAttributeNames[kAddressingAttributeCount] = {
    "initialization", "media", "startNumber", "timescale", "duration", "presentationTimeOffset"};

// A SegmentBase, SegmentList or SegmentTemplate, read once however many representations it applies to.
struct Addressing {
    std::array<const std::string*, kAddressingAttributeCount> attributes{};
    std::optional<SegmentReference> initialization;
    std::vector<SegmentReference> segmentUrls;
    bool rangesOfOneUrl = false;  // every SegmentURL a range of the same media
    bool badRange = false;        // a SegmentURL's mediaRange is not "first-last"
    std::optional<Timeline> timeline;
};

Addressing ReadAddressing(const Elements& elements, std::size_t index) {
    Addressing addressing;
    for (const XmlAttribute& attribute : elements[index].attributes) {
        const auto* const name = std::find(std::begin(kAddressingAttributeNames),
                                           std::end(kAddressingAttributeNames), attribute.name);
        const auto slot = static_cast<std::size_t>(name - std::begin(kAddressingAttributeNames));
        if (slot < kAddressingAttributeCount && addressing.attributes[slot] == nullptr) {
            addressing.attributes[slot] = &attribute.value;
        }
    }
    bool oneUrl = true;
    for (std::size_t child = elements[index].firstChild; child != kNoXmlElement;
         child = elements[child].nextSibling) {
        const std::string_view name = LocalName(elements[child].name);
        if (name == "Initialization" && !addressing.initialization) {
            addressing.initialization = ReadReference(elements[child], "sourceURL", "range");
        } else if (name == "SegmentURL") {
            addressing.segmentUrls.push_back(ReadReference(elements[child], "media", "mediaRange"));
            addressing.badRange = addressing.badRange || addressing.segmentUrls.back().badRange;
            const SegmentReference& first = addressing.segmentUrls.front();
            const SegmentReference& last = addressing.segmentUrls.back();
            oneUrl =
                oneUrl && last.range &&
                (first.url == nullptr ? last.url == nullptr : last.url != nullptr && *last.url == *first.url);
        } else if (name == "SegmentTimeline" && !addressing.timeline) {
            std::vector<const XmlElement*> entries;
            for (std::size_t s = elements[child].firstChild; s != kNoXmlElement;
                 s = elements[s].nextSibling) {
                if (LocalName(elements[s].name) == "S") {
                    entries.push_back(&elements[s]);
                }
            }
            addressing.timeline = ReadTimeline(entries);
        }
    }
    addressing.rangesOfOneUrl = oneUrl && !addressing.segmentUrls.empty();
    return addressing;
}

enum class Scheme : std::size_t { kTemplate, kList, kBase, kWhole };
constexpr std::string_view kSchemeNames[] = {"SegmentTemplate", "SegmentList", "SegmentBase"};

// The MPD, a Period, an AdaptationSet or a Representation, read once for everything below it.
struct Level {
    SharedUrl base;                                       // null when no absolute URL can be had
    std::array<std::optional<Addressing>, 3> addressing;  // by Scheme
    const std::string* mimeType = nullptr;
    const std::string* codecs = nullptr;
    const std::string* contentType = nullptr;
    bool contentProtection = false;
};

Level ReadLevel(const Elements& elements, std::size_t index, const SharedUrl& parentBase, Budget& budget) {
    Level level;
    level.base = parentBase;
    level.mimeType = FindXmlAttribute(elements[index], "mimeType");
    level.codecs = FindXmlAttribute(elements[index], "codecs");
    level.contentType = FindXmlAttribute(elements[index], "contentType");
    bool baseRead = false;
    for (std::size_t child = elements[index].firstChild; child != kNoXmlElement;
         child = elements[child].nextSibling) {
        const std::string_view name = LocalName(elements[child].name);
        const auto scheme = static_cast<std::size_t>(
            std::find(std::begin(kSchemeNames), std::end(kSchemeNames), name) - std::begin(kSchemeNames));
        if (scheme < level.addressing.size()) {
            if (!level.addressing[scheme]) {
                level.addressing[scheme] = ReadAddressing(elements, child);
            }
        } else if (name == "ContentProtection") {
            level.contentProtection = true;
        } else if (name == "BaseURL" && !baseRead) {
            baseRead = true;
            const std::string_view reference = TrimBlanks(elements[child].text, kXmlBlanks);
            const std::string_view parent = parentBase ? std::string_view(*parentBase) : std::string_view();
            std::optional<std::string> resolved;
            if (budget.Spend(parent.size() + reference.size())) {
                resolved = ResolveUrl(parent, reference);
            }
            level.base = resolved ? std::make_shared<const std::string>(std::move(*resolved)) : nullptr;
        }
    }
    return level;
}

// The representation's scheme, from the nearest level that has one, and that scheme's elements at each level.
struct AddressingChain {
    Scheme scheme = Scheme::kWhole;
    std::array<const Addressing*, 3> levels{};  // nearest first; null where a level has none

    const std::string* Attribute(AddressingAttribute which) const {
        for (const Addressing* level : levels) {
            if (level != nullptr && level->attributes[which] != nullptr) {
                return level->attributes[which];
            }
        }
        return nullptr;
    }

    template <typename Predicate>
    const Addressing* Nearest(Predicate has) const {
        for (const Addressing* level : levels) {
            if (level != nullptr && has(*level)) {
                return level;
            }
        }
        return nullptr;
    }
};

AddressingChain ChainOf(const std::array<const Level*, 3>& levels) {
    AddressingChain chain;
    for (const Level* level : levels) {
        for (std::size_t scheme = 0; scheme < 3 && chain.scheme == Scheme::kWhole; ++scheme) {
            if (level->addressing[scheme]) {
                chain.scheme = static_cast<Scheme>(scheme);
            }
        }
    }
    if (chain.scheme != Scheme::kWhole) {
        for (std::size_t i = 0; i < levels.size(); ++i) {
            const auto& addressing = levels[i]->addressing[static_cast<std::size_t>(chain.scheme)];
            chain.levels[i] = addressing ? &*addressing : nullptr;
        }
    }
    return chain;
}

struct Timing {
    std::uint64_t timescale = 1;
    std::uint64_t startNumber = 1;
    std::uint64_t offset = 0;                  // presentationTimeOffset
    std::optional<std::uint64_t> periodUnits;  // the period's duration in the timescale, rounded up
    std::optional<std::uint64_t> periodEnd;    // periodUnits on the media timeline
};

std::optional<Timing> ReadTiming(const AddressingChain& chain, std::optional<std::uint64_t> periodNanos) {
    const std::optional<std::uint64_t> timescale = NumberOr(chain.Attribute(kTimescale), 1);
    const std::optional<std::uint64_t> startNumber = NumberOr(chain.Attribute(kStartNumber), 1);
    const std::optional<std::uint64_t> offset = NumberOr(chain.Attribute(kPresentationTimeOffset), 0);
    if (!timescale || *timescale == 0 || *timescale > std::numeric_limits<std::uint32_t>::max() ||
        !startNumber || !offset) {
        return std::nullopt;
    }
    Timing timing{*timescale, *startNumber, *offset, std::nullopt, std::nullopt};
    if (periodNanos) {
        std::uint64_t units = *periodNanos / kNanosPerSecond;
        const std::uint64_t fraction = *periodNanos % kNanosPerSecond * timing.timescale;
        if (MultiplyBy(units, timing.timescale) && AddTo(units, CeilDivide(fraction, kNanosPerSecond))) {
            timing.periodUnits = units;
            std::uint64_t end = units;
            timing.periodEnd = AddTo(end, timing.offset) ? std::optional<std::uint64_t>(end) : std::nullopt;
        }
    }
    return timing;
}

struct Slot {
    std::uint64_t number = 0;
    std::uint64_t time = 0;
    std::uint64_t duration = 0;
};

// The segments a manifest claims, and the first of them up to limit.
struct SlotPlan {
    std::uint64_t listed = 0;
    std::vector<Slot> slots;
};

std::optional<SlotPlan> TimelineSlots(const Timeline& timeline, const Timing& timing, std::size_t limit) {
    if (!timeline.usable) {
        return std::nullopt;
    }
    SlotPlan plan{timeline.closedCount, {}};
    std::uint64_t openCount = 0;
    if (!timeline.runs.empty() && timeline.runs.back().count == 0) {
        const TimelineRun& open = timeline.runs.back();
        const std::optional<std::uint64_t>& end = timing.periodEnd;
        openCount = end && *end > open.start ? CeilDivide(*end - open.start, open.duration) : 1;
    }
    if (!AddTo(plan.listed, openCount) ||
        (plan.listed > 0 && timing.startNumber > kMaxValue - (plan.listed - 1))) {
        return std::nullopt;
    }
    for (const TimelineRun& run : timeline.runs) {
        const std::uint64_t count = run.count == 0 ? openCount : run.count;
        for (std::uint64_t k = 0; k < count && plan.slots.size() < limit; ++k) {
            plan.slots.push_back(
                {timing.startNumber + plan.slots.size(), run.start + k * run.duration, run.duration});
        }
        if (plan.slots.size() == limit) {
            break;
        }
    }
    return plan;
}

std::optional<SlotPlan> EvenSlots(std::uint64_t count, std::uint64_t duration, const Timing& timing,
                                  std::size_t limit) {
    std::uint64_t lastTime = count == 0 ? 0 : count - 1;
    if (!MultiplyBy(lastTime, duration) || !AddTo(lastTime, timing.offset) ||
        (count > 0 && timing.startNumber > kMaxValue - (count - 1))) {
        return std::nullopt;
    }
    SlotPlan plan{count, {}};
    for (std::uint64_t i = 0; i < count && i < limit; ++i) {
        plan.slots.push_back({timing.startNumber + i, timing.offset + i * duration, duration});
    }
    return plan;
}

// The times of a SegmentTemplate's or SegmentList's segments: its SegmentTimeline's, else @duration's, else
// one segment for the whole period. A list's count is its SegmentURLs'; a template's with @duration, the
// period's duration over it.
std::optional<SlotPlan> PlanSlots(const AddressingChain& chain, const Timing& timing, std::size_t limit,
                                  std::optional<std::uint64_t> listCount) {
    const Addressing* withTimeline =
        chain.Nearest([](const Addressing& a) { return a.timeline.has_value(); });
    if (withTimeline != nullptr) {
        return TimelineSlots(*withTimeline->timeline, timing, limit);
    }
    const std::string* durationText = chain.Attribute(kDuration);
    if (durationText == nullptr) {
        const std::uint64_t count = listCount.value_or(1);
        return EvenSlots(count, count == 1 ? timing.periodUnits.value_or(0) : 0, timing, limit);
    }
    const std::optional<std::uint64_t> duration = ParseNumber<std::uint64_t>(*durationText);
    if (!duration || *duration == 0) {
        return std::nullopt;
    }
    const std::uint64_t periodCount = timing.periodUnits ? CeilDivide(*timing.periodUnits, *duration) : 0;
    return EvenSlots(listCount.value_or(periodCount), *duration, timing, limit);
}

struct Representation {
    DashRepresentation description;
    std::string_view base;
    AddressingChain chain;
    Timing timing;
};

// Appends the segment unless the budget is spent; false then.
bool AddSegment(Representation& representation, std::string_view reference,
                const std::optional<ByteRange>& range, const Slot& slot, Budget& budget) {
    if (!budget.Spend(sizeof(DashSegment) + representation.base.size() + reference.size())) {
        representation.description.overBudget = true;
        return false;
    }
    DashSegment& segment = representation.description.AddSegment(
        ResolveUrl(representation.base, reference).value_or(std::string()));
    if (range) {
        segment.rangeFirst = range->first;
        segment.rangeLast = range->last;
    }
    segment.time = slot.time;
    segment.duration = slot.duration;
    return true;
}

// Sets the representation's init segment unless the budget is spent; false when its range is malformed.
bool SetInit(Representation& representation, const SegmentReference& reference, Budget& budget) {
    if (reference.badRange) {
        return false;
    }
    const std::string_view url = reference.url ? std::string_view(*reference.url) : std::string_view();
    if (!budget.Spend(sizeof(DashSegment) + representation.base.size() + url.size())) {
        representation.description.overBudget = true;
        return true;
    }
    DashSegment& init =
        representation.description.SetInit(ResolveUrl(representation.base, url).value_or(std::string()));
    if (reference.range) {
        init.rangeFirst = reference.range->first;
        init.rangeLast = reference.range->last;
    }
    return true;
}

// From the nearest Initialization element, if any.
bool SetInitFromElement(Representation& representation, Budget& budget) {
    const Addressing* with =
        representation.chain.Nearest([](const Addressing& a) { return a.initialization.has_value(); });
    return with == nullptr || SetInit(representation, *with->initialization, budget);
}

// The segments a budget of this size can still hold, at most cap.
std::size_t SegmentLimit(std::size_t cap, const Budget& budget) {
    return std::min(cap, budget.left / sizeof(DashSegment));
}

// A list cut shorter than the cap was cut for memory.
void NoteCut(DashRepresentation& description, std::size_t cap) {
    if (description.segments.size() < std::min<std::uint64_t>(cap, description.listedSegments)) {
        description.overBudget = true;
    }
}

bool ExpandTemplateScheme(Representation& representation, std::size_t cap, Budget& budget) {
    DashRepresentation& description = representation.description;
    TemplateValues values{description.id, description.bandwidth, std::nullopt, std::nullopt};
    const AddressingChain& chain = representation.chain;
    if (const std::string* initialization = chain.Attribute(kInitialization)) {
        if (!budget.Spend(initialization->size())) {
            description.overBudget = true;
            return true;
        }
        const std::optional<std::string> reference = ExpandTemplate(*initialization, values);
        if (!reference || !SetInit(representation, {&*reference, std::nullopt, false}, budget)) {
            return false;
        }
    } else if (!SetInitFromElement(representation, budget)) {
        return false;
    }
    const std::string* media = chain.Attribute(kMedia);
    if (media == nullptr) {
        return true;
    }
    const std::optional<SlotPlan> plan =
        PlanSlots(chain, representation.timing, SegmentLimit(cap, budget), {});
    if (!plan) {
        return false;
    }
    description.listedSegments = plan->listed;
    for (const Slot& slot : plan->slots) {
        if (!budget.Spend(media->size())) {
            break;
        }
        values.number = slot.number;
        values.time = slot.time;
        const std::optional<std::string> reference = ExpandTemplate(*media, values);
        if (!reference) {
            return false;
        }
        if (!AddSegment(representation, *reference, std::nullopt, slot, budget)) {
            break;
        }
    }
    NoteCut(description, cap);
    return true;
}

bool ExpandListScheme(Representation& representation, std::size_t cap, Budget& budget) {
    DashRepresentation& description = representation.description;
    const AddressingChain& chain = representation.chain;
    if (!SetInitFromElement(representation, budget)) {
        return false;
    }
    const Addressing* list = chain.Nearest([](const Addressing& a) { return !a.segmentUrls.empty(); });
    if (list == nullptr) {
        return true;
    }
    const std::vector<SegmentReference>& urls = list->segmentUrls;
    const std::size_t limit = std::min(SegmentLimit(cap, budget), urls.size());
    const std::optional<SlotPlan> plan = PlanSlots(chain, representation.timing, limit, urls.size());
    if (!plan || list->badRange) {
        return false;
    }
    description.listedSegments = urls.size();
    description.singleFile = list->rangesOfOneUrl;
    for (std::size_t i = 0; i < limit; ++i) {
        const SegmentReference& segment = urls[i];
        const Slot slot = i < plan->slots.size() ? plan->slots[i] : Slot{};
        if (!AddSegment(representation, segment.url ? *segment.url : std::string(), segment.range, slot,
                        budget)) {
            break;
        }
    }
    NoteCut(description, cap);
    return true;
}

// SegmentBase, or no addressing at all: the BaseURL's whole file is the one segment.
bool ExpandWholeScheme(Representation& representation, std::size_t cap, Budget& budget) {
    DashRepresentation& description = representation.description;
    if (!SetInitFromElement(representation, budget)) {
        return false;
    }
    description.singleFile = true;
    description.listedSegments = 1;
    const Timing& timing = representation.timing;
    if (cap > 0) {
        AddSegment(representation, {}, std::nullopt,
                   {timing.startNumber, timing.offset, timing.periodUnits.value_or(0)}, budget);
    }
    return true;
}

struct Placement {
    std::size_t period = 0;
    std::size_t adaptationSet = 0;
    std::optional<std::uint64_t> periodNanos;
};

DashRepresentation Describe(const XmlElement& element, const Level& own, const Level& adaptationSet,
                            const Placement& placement) {
    DashRepresentation description;
    const auto either = [](const std::string* nearest, const std::string* above) {
        const std::string* value = nearest != nullptr ? nearest : above;
        return value != nullptr ? *value : std::string();
    };
    const std::string* id = FindXmlAttribute(element, "id");
    description.id = id != nullptr ? *id : std::string();
    description.mimeType = either(own.mimeType, adaptationSet.mimeType);
    description.codecs = either(own.codecs, adaptationSet.codecs);
    description.contentType = either(own.contentType, adaptationSet.contentType);
    if (description.contentType.empty()) {
        description.contentType = description.mimeType.substr(0, description.mimeType.find('/'));
    }
    description.bandwidth = NumberOr(FindXmlAttribute(element, "bandwidth"), 0).value_or(0);
    description.period = placement.period;
    description.adaptationSet = placement.adaptationSet;
    description.encrypted = own.contentProtection || adaptationSet.contentProtection;
    return description;
}

std::optional<DashRepresentation> ReadRepresentation(const XmlElement& element,
                                                     const std::array<const Level*, 3>& levels,
                                                     const Placement& placement, std::size_t cap,
                                                     Budget& budget) {
    if (!levels[0]->base) {
        return std::nullopt;
    }
    Representation representation{
        Describe(element, *levels[0], *levels[1], placement), *levels[0]->base, ChainOf(levels), {}};
    const std::optional<Timing> timing = ReadTiming(representation.chain, placement.periodNanos);
    if (!timing) {
        return std::nullopt;
    }
    representation.timing = *timing;
    representation.description.timescale = static_cast<std::uint32_t>(timing->timescale);
    const Scheme scheme = representation.chain.scheme;
    const bool expanded = scheme == Scheme::kTemplate ? ExpandTemplateScheme(representation, cap, budget)
                          : scheme == Scheme::kList   ? ExpandListScheme(representation, cap, budget)
                                                      : ExpandWholeScheme(representation, cap, budget);
    if (!expanded) {
        return std::nullopt;
    }
    representation.description.segments.shrink_to_fit();
    representation.description.urls.shrink_to_fit();
    return std::move(representation.description);
}

std::vector<std::size_t> ChildrenNamed(const Elements& elements, std::size_t parent, std::string_view name) {
    std::vector<std::size_t> children;
    for (std::size_t child = elements[parent].firstChild; child != kNoXmlElement;
         child = elements[child].nextSibling) {
        if (LocalName(elements[child].name) == name) {
            children.push_back(child);
        }
    }
    return children;
}

// Each Period's duration: its @duration, else up to the next Period's start, else (the last) up to the
// presentation's end.
std::vector<std::optional<std::uint64_t>> PeriodDurations(const Elements& elements,
                                                          const std::vector<std::size_t>& periods) {
    std::vector<std::optional<std::uint64_t>> starts(periods.size());
    std::vector<std::optional<std::uint64_t>> durations(periods.size());
    for (std::size_t i = 0; i < periods.size(); ++i) {
        durations[i] = ParseDuration(FindXmlAttribute(elements[periods[i]], "duration"));
        const std::string* start = FindXmlAttribute(elements[periods[i]], "start");
        starts[i] = start != nullptr ? ParseDuration(start)
                    : i == 0         ? std::optional<std::uint64_t>(0)
                                     : std::nullopt;
        if (start == nullptr && i > 0 && starts[i - 1] && durations[i - 1]) {
            std::uint64_t sum = *starts[i - 1];
            starts[i] = AddTo(sum, *durations[i - 1]) ? std::optional<std::uint64_t>(sum) : std::nullopt;
        }
    }
    const std::optional<std::uint64_t> end =
        ParseDuration(FindXmlAttribute(elements[0], "mediaPresentationDuration"));
    for (std::size_t i = 0; i < periods.size(); ++i) {
        const std::optional<std::uint64_t>& next = i + 1 < periods.size() ? starts[i + 1] : end;
        if (!durations[i] && next && starts[i] && *next >= *starts[i]) {
            durations[i] = *next - *starts[i];
        }
    }
    return durations;
}

void ReadAdaptationSet(const Elements& elements, std::size_t index, const Level& period,
                       const Placement& placement, std::size_t cap, Budget& budget, DashManifest& manifest) {
    const Level adaptationSet = ReadLevel(elements, index, period.base, budget);
    for (const std::size_t child : ChildrenNamed(elements, index, "Representation")) {
        if (budget.left == 0) {
            manifest.overBudget = true;
            return;
        }
        const Level own = ReadLevel(elements, child, adaptationSet.base, budget);
        std::optional<DashRepresentation> representation =
            ReadRepresentation(elements[child], {&own, &adaptationSet, &period}, placement, cap, budget);
        if (representation) {
            manifest.representations.push_back(std::move(*representation));
        }
    }
}

}  // namespace

namespace {

DashSegment& WithUrl(DashSegment& segment, std::string& urls, std::string_view url) {
    segment.urlBegin = static_cast<std::uint32_t>(urls.size());
    segment.urlSize = static_cast<std::uint32_t>(url.size());
    urls.append(url);
    return segment;
}

}  // namespace

DashSegment& DashRepresentation::AddSegment(std::string_view url) {
    return WithUrl(segments.emplace_back(), urls, url);
}

DashSegment& DashRepresentation::SetInit(std::string_view url) {
    return WithUrl(init.emplace(), urls, url);
}

std::size_t DashManifest::Bytes() const {
    std::size_t bytes = sizeof(DashManifest) + representations.capacity() * sizeof(DashRepresentation);
    for (const DashRepresentation& representation : representations) {
        bytes += representation.id.capacity() + representation.contentType.capacity() +
                 representation.mimeType.capacity() + representation.codecs.capacity() +
                 representation.urls.capacity() + representation.segments.capacity() * sizeof(DashSegment);
    }
    return bytes;
}

std::optional<DashManifest> ParseDashManifest(std::string_view xml, std::string_view manifestUrl,
                                              std::size_t segmentCap, std::size_t memoryCap) {
    const std::optional<Elements> elements = ScanXml(xml);
    if (!elements || LocalName(elements->front().name) != "MPD") {
        return std::nullopt;
    }
    DashManifest manifest;
    const std::string* type = FindXmlAttribute(elements->front(), "type");
    manifest.dynamic = type != nullptr && TrimBlanks(*type, kXmlBlanks) == "dynamic";
    Budget budget{memoryCap};
    const std::optional<std::string> manifestBase = ResolveUrl(manifestUrl, {});
    const Level top = ReadLevel(
        *elements, 0, manifestBase ? std::make_shared<const std::string>(*manifestBase) : nullptr, budget);
    const std::vector<std::size_t> periods = ChildrenNamed(*elements, 0, "Period");
    const std::vector<std::optional<std::uint64_t>> durations = PeriodDurations(*elements, periods);
    for (std::size_t p = 0; p < periods.size(); ++p) {
        const Level period = ReadLevel(*elements, periods[p], top.base, budget);
        const std::vector<std::size_t> adaptationSets = ChildrenNamed(*elements, periods[p], "AdaptationSet");
        for (std::size_t a = 0; a < adaptationSets.size(); ++a) {
            ReadAdaptationSet(*elements, adaptationSets[a], period, {p, a, durations[p]}, segmentCap, budget,
                              manifest);
        }
    }
    manifest.overBudget = manifest.overBudget || budget.ranOut;
    return manifest;
}

}  // namespace drovan
