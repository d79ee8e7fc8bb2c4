#include "extract/streams/webvtt_join.h"

#include <algorithm>
#include <utility>

#include "extract/ascii.h"

namespace drovan {

namespace {

constexpr std::uint64_t kTickWrap = std::uint64_t{1} << 33;
constexpr std::int64_t kTicksPerMs = 90;
// The output's hours have two digits.
constexpr std::int64_t kLastMs = std::int64_t{100} * 3600 * 1000 - 1;
// Far beyond kLastMs, and small enough that hours of it in milliseconds stay within 64 bits.
constexpr std::int64_t kDigitCap = 1000000000;
constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kArrow = "-->";
constexpr std::string_view kBlanks = " \t\f";

// Hands out the lines of text; CR, LF and CRLF each end one.
class LineReader {
  public:
    explicit LineReader(std::string_view text) : m_text(text) {}

    bool Next(std::string_view& line) {
        if (m_position >= m_text.size()) {
            return false;
        }
        const std::size_t end = std::min(m_text.find_first_of("\r\n", m_position), m_text.size());
        line = m_text.substr(m_position, end - m_position);
        m_position = end + 1;
        if (end + 1 < m_text.size() && m_text[end] == '\r' && m_text[end + 1] == '\n') {
            ++m_position;
        }
        return true;
    }

  private:
    std::string_view m_text;
    std::size_t m_position = 0;
};

bool Contains(std::string_view line, std::string_view part) {
    return line.find(part) != std::string_view::npos;
}

// keyword, then nothing or the blanks allowed before the rest of the line.
bool StartsWithWord(std::string_view line, std::string_view keyword, bool restMayBeText) {
    if (line.substr(0, keyword.size()) != keyword) {
        return false;
    }
    const std::string_view rest = line.substr(keyword.size());
    return rest.empty() || (restMayBeText ? (rest[0] == ' ' || rest[0] == '\t') : TrimBlanks(rest).empty());
}

struct Digits {
    std::size_t count = 0;
    std::int64_t value = 0;  // at most kDigitCap
};

Digits TakeDigits(std::string_view& text) {
    Digits digits;
    while (!text.empty() && text.front() >= '0' && text.front() <= '9') {
        digits.value = std::min(digits.value * 10 + (text.front() - '0'), kDigitCap);
        ++digits.count;
        text.remove_prefix(1);
    }
    return digits;
}

bool TakeChar(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) {
        return false;
    }
    text.remove_prefix(1);
    return true;
}

// `mm:ss.ttt` or `h…:mm:ss.ttt` taken off the front of text, in milliseconds; none when malformed or 100
// hours or more.
std::optional<std::int64_t> TakeTimestamp(std::string_view& text) {
    const Digits first = TakeDigits(text);
    if (first.count == 0 || !TakeChar(text, ':')) {
        return std::nullopt;
    }
    const Digits second = TakeDigits(text);
    if (second.count != 2) {
        return std::nullopt;
    }
    std::int64_t hours = 0;
    std::int64_t minutes = first.value;
    std::int64_t seconds = second.value;
    if (first.count != 2 || first.value > 59 || (!text.empty() && text.front() == ':')) {
        const bool colon = TakeChar(text, ':');
        const Digits third = TakeDigits(text);
        if (!colon || third.count != 2) {
            return std::nullopt;
        }
        hours = first.value;
        minutes = second.value;
        seconds = third.value;
    }
    const bool dot = TakeChar(text, '.');
    const Digits fraction = TakeDigits(text);
    if (!dot || fraction.count != 3 || minutes > 59 || seconds > 59) {
        return std::nullopt;
    }
    const std::int64_t ms = ((hours * 60 + minutes) * 60 + seconds) * 1000 + fraction.value;
    return ms <= kLastMs ? std::optional<std::int64_t>(ms) : std::nullopt;
}

struct CueTiming {
    std::int64_t startMs = 0;
    std::int64_t endMs = 0;
    std::string_view settings;
};

// `start --> end [settings]`.
std::optional<CueTiming> ParseTiming(std::string_view line) {
    line = TrimBlanks(line, kBlanks);
    const std::optional<std::int64_t> start = TakeTimestamp(line);
    line = TrimBlanks(line, kBlanks);
    if (!start || line.substr(0, kArrow.size()) != kArrow) {
        return std::nullopt;
    }
    line = TrimBlanks(line.substr(kArrow.size()), kBlanks);
    const std::optional<std::int64_t> end = TakeTimestamp(line);
    if (!end || *end < *start) {
        return std::nullopt;
    }
    return CueTiming{*start, *end, TrimBlanks(line, kBlanks)};
}

// X-TIMESTAMP-MAP: the segment's LOCAL time stands for the 90 kHz timestamp MPEGTS.
struct TimestampMap {
    std::uint64_t mpegTs = kHeaderlessWebVttTicks;
    std::int64_t localMs = 0;
};

std::optional<std::uint64_t> ParseTicks(std::string_view text) {
    std::uint64_t ticks = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        ticks = (ticks * 10 + static_cast<std::uint64_t>(c - '0')) % kTickWrap;
    }
    return text.empty() ? std::nullopt : std::optional<std::uint64_t>(ticks);
}

// `MPEGTS:<ticks>,LOCAL:<timestamp>`, in either order; other keys are passed over.
std::optional<TimestampMap> ParseTimestampMap(std::string_view value) {
    std::optional<std::uint64_t> mpegTs;
    std::optional<std::int64_t> localMs;
    for (std::size_t at = 0; at <= value.size();) {
        const std::size_t comma = std::min(value.find(',', at), value.size());
        const std::string_view part = value.substr(at, comma - at);
        at = comma + 1;
        const std::size_t colon = part.find(':');
        if (colon == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view key = TrimBlanks(part.substr(0, colon), kBlanks);
        std::string_view rest = TrimBlanks(part.substr(colon + 1), kBlanks);
        if (key == "MPEGTS") {
            mpegTs = ParseTicks(rest);
        } else if (key == "LOCAL") {
            localMs = TakeTimestamp(rest);
            if (!rest.empty()) {
                localMs.reset();
            }
        }
    }
    if (!mpegTs || !localMs) {
        return std::nullopt;
    }
    return TimestampMap{*mpegTs, *localMs};
}

// The header lines after the signature, up to a blank line or a timing line (left in block); none when its
// timestamp map cannot be read.
std::optional<TimestampMap> ReadHeader(LineReader& reader, std::vector<std::string_view>& block) {
    constexpr std::string_view kMapKey = "X-TIMESTAMP-MAP=";
    TimestampMap map;
    std::string_view line;
    while (reader.Next(line) && !line.empty()) {
        if (Contains(line, kArrow)) {
            block.push_back(line);
            break;
        }
        if (line.substr(0, kMapKey.size()) == kMapKey) {
            const std::optional<TimestampMap> read = ParseTimestampMap(line.substr(kMapKey.size()));
            if (!read) {
                return std::nullopt;
            }
            map = *read;
        }
    }
    return map;
}

// What to add to a cue's time in 90 kHz ticks: the nearer way round the 33-bit circle from zeroTicks.
std::int64_t OffsetTicks(const TimestampMap& map, std::uint64_t zeroTicks) {
    const std::uint64_t ahead = (map.mpegTs + kTickWrap - zeroTicks % kTickWrap) % kTickWrap;
    const std::int64_t signedAhead = ahead >= kTickWrap / 2
                                         ? static_cast<std::int64_t>(ahead) - std::int64_t{kTickWrap}
                                         : static_cast<std::int64_t>(ahead);
    return signedAhead - map.localMs * kTicksPerMs;
}

// Milliseconds, rounded to the nearer one.
std::int64_t ShiftedMs(std::int64_t ms, std::int64_t offsetTicks) {
    const std::int64_t ticks = ms * kTicksPerMs + offsetTicks + kTicksPerMs / 2;
    return ticks >= 0 ? ticks / kTicksPerMs : -((-ticks + kTicksPerMs - 1) / kTicksPerMs);
}

void AppendTwoDigits(std::string& output, std::int64_t value) {
    output.push_back(static_cast<char>('0' + value / 10));
    output.push_back(static_cast<char>('0' + value % 10));
}

// hh:mm:ss.ttt, for 0 <= ms <= kLastMs.
void AppendTime(std::string& output, std::int64_t ms) {
    AppendTwoDigits(output, ms / 3600000);
    output.push_back(':');
    AppendTwoDigits(output, ms / 60000 % 60);
    output.push_back(':');
    AppendTwoDigits(output, ms / 1000 % 60);
    output.push_back('.');
    output.push_back(static_cast<char>('0' + ms / 100 % 10));
    AppendTwoDigits(output, ms % 100);
}

}  // namespace

WebVttJoiner::WebVttJoiner(std::uint64_t zeroTicks) : m_zeroTicks(zeroTicks), m_output("WEBVTT\n") {}

bool WebVttJoiner::Add(std::string_view segment) {
    if (m_failed) {
        return false;
    }
    if (segment.substr(0, kBom.size()) == kBom) {
        segment.remove_prefix(kBom.size());
    }
    LineReader reader(segment);
    std::string_view line;
    std::vector<std::string_view> block;
    std::optional<TimestampMap> map;
    if (reader.Next(line) && StartsWithWord(line, "WEBVTT", true)) {
        map = ReadHeader(reader, block);
    }
    if (!map) {
        m_failed = true;
        m_output = std::string();
        m_previousCues.clear();
        m_currentCues.clear();
        return false;
    }
    const std::int64_t offsetTicks = OffsetTicks(*map, m_zeroTicks);
    while (reader.Next(line)) {
        // A timing line after a block's first two lines starts the next block even without a blank line.
        const bool startsBlock = Contains(line, kArrow) &&
                                 (block.size() >= 2 || (block.size() == 1 && Contains(block[0], kArrow)));
        if ((line.empty() || startsBlock) && !block.empty()) {
            AddBlock(block, offsetTicks);
            block.clear();
        }
        if (!line.empty()) {
            block.push_back(line);
        }
    }
    if (!block.empty()) {
        AddBlock(block, offsetTicks);
    }
    m_previousCues = std::move(m_currentCues);
    m_currentCues.clear();
    ++m_segments;
    return true;
}

void WebVttJoiner::AddBlock(const std::vector<std::string_view>& lines, std::int64_t offsetTicks) {
    const bool timingFirst = Contains(lines[0], kArrow);
    if (timingFirst || (lines.size() > 1 && Contains(lines[1], kArrow))) {
        AddCue(lines, timingFirst ? 0 : 1, offsetTicks);
        m_seenCue = true;
        return;
    }
    // Styles and regions belong before the cues; the later segments only repeat the first one's.
    if (m_segments == 0 && !m_seenCue &&
        (StartsWithWord(lines[0], "STYLE", false) || StartsWithWord(lines[0], "REGION", false))) {
        m_output.push_back('\n');
        for (const std::string_view line : lines) {
            m_output.append(line).push_back('\n');
        }
    }
}

void WebVttJoiner::AddCue(const std::vector<std::string_view>& lines, std::size_t timingAt,
                          std::int64_t offsetTicks) {
    const std::optional<CueTiming> timing = ParseTiming(lines[timingAt]);
    if (!timing) {
        return;
    }
    const std::int64_t startMs = std::max<std::int64_t>(ShiftedMs(timing->startMs, offsetTicks), 0);
    const std::int64_t endMs = ShiftedMs(timing->endMs, offsetTicks);
    if (endMs <= 0 || endMs > kLastMs) {
        return;
    }
    std::string key;
    AppendTime(key, startMs);
    key += " --> ";
    AppendTime(key, endMs);
    const std::size_t timesSize = key.size();
    for (std::size_t i = timingAt + 1; i < lines.size(); ++i) {
        key.append("\n").append(lines[i]);
    }
    const bool repeated = m_previousCues.count(key) != 0;
    if (!repeated) {
        m_output.push_back('\n');
        if (timingAt == 1) {
            m_output.append(lines[0]).push_back('\n');
        }
        m_output.append(key, 0, timesSize);
        if (!timing->settings.empty()) {
            m_output.append(" ").append(timing->settings);
        }
        m_output.append(key, timesSize, std::string::npos).push_back('\n');
    }
    m_currentCues.insert(std::move(key));
}

std::optional<std::string> WebVttJoiner::Finish() {
    if (m_failed || m_segments == 0) {
        return std::nullopt;
    }
    return std::move(m_output);
}

std::optional<std::string> JoinWebVtt(const std::vector<std::string_view>& segments,
                                      std::uint64_t zeroTicks) {
    WebVttJoiner joiner(zeroTicks);
    for (const std::string_view segment : segments) {
        if (!joiner.Add(segment)) {
            return std::nullopt;
        }
    }
    return joiner.Finish();
}

}  // namespace drovan
