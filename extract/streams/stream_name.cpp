#include "extract/streams/stream_name.h"

#include <algorithm>
#include <vector>

#include "extract/ascii.h"
#include "extract/formats/url_name.h"

namespace drovan {
namespace {

constexpr std::string_view kGenericWords[] = {
    "index", "master", "main", "playlist", "manifest", "prog_index", "chunklist", "media",  "stream",
    "video", "audio",  "live", "hls",      "dash",     "mpd",        "play",      "output", "out"};

std::string Lowered(std::string_view text) {
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](char c) { return static_cast<char>(LowerAscii(c)); });
    return lowered;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsLetterOrDigit(char c) {
    return IsDigit(c) || (LowerAscii(c) >= 'a' && LowerAscii(c) <= 'z');
}

bool AllDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit);
}

// "index", "chunklist_w123", "index_0_av": a generic word, then any "_" parts of letters or digits.
bool IsGenericWord(std::string_view word) {
    const std::string lowered = Lowered(word);
    for (std::string_view generic : kGenericWords) {
        if (lowered.compare(0, generic.size(), generic) != 0) {
            continue;
        }
        const std::string_view rest = std::string_view(lowered).substr(generic.size());
        if (rest.empty() ||
            (rest[0] == '_' && rest.size() > 1 &&
             std::all_of(rest.begin(), rest.end(), [](char c) { return c == '_' || IsLetterOrDigit(c); }))) {
            return true;
        }
    }
    return false;
}

// "v720", "1080p", "3000k", "1280x720": a rendition's own mark.
bool IsRenditionToken(std::string_view token) {
    if (token == "hd" || token == "sd" || token == "fhd" || token == "uhd" || token == "audio" ||
        token == "video" || AllDigits(token)) {
        return true;
    }
    if (token.size() > 1 && token.front() == 'v' && AllDigits(token.substr(1))) {
        return true;
    }
    if (token.size() > 1 && (token.back() == 'p' || token.back() == 'k') &&
        AllDigits(token.substr(0, token.size() - 1))) {
        return true;
    }
    const std::size_t x = token.find('x');
    return x != std::string_view::npos && AllDigits(token.substr(0, x)) && AllDigits(token.substr(x + 1));
}

// "v720", "720p_3000k", "audio_128k", "hd": every "_"-part a rendition mark.
bool IsRenditionFolder(std::string_view folder) {
    const std::string lowered = Lowered(folder);
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = lowered.find('_', start);
        if (!IsRenditionToken(std::string_view(lowered).substr(start, end - start))) {
            return false;
        }
        if (end == std::string::npos) {
            return true;
        }
        start = end + 1;
    }
}

// The path's non-empty segments, still percent-encoded; query and fragment dropped.
std::vector<std::string_view> PathSegments(std::string_view url) {
    const std::size_t scheme = url.find("://");
    std::string_view rest = scheme == std::string_view::npos ? url : url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("?#"));
    const std::size_t path = rest.find('/');
    std::vector<std::string_view> segments;
    if (path == std::string_view::npos) {
        return segments;
    }
    rest.remove_prefix(path);
    while (!rest.empty()) {
        rest.remove_prefix(1);
        const std::size_t end = rest.find('/');
        if (const std::string_view segment = rest.substr(0, end); !segment.empty()) {
            segments.push_back(segment);
        }
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    }
    return segments;
}

// The cleaning entry names get, reached through a URL whose last segment is the chosen word.
std::u16string CleanedName(std::string_view url, std::string_view word, std::string_view extension) {
    return FileNameForEntry("stream://" + std::string(UrlHost(url)) + "/" + std::string(word), extension);
}

std::u16string NameFromFolders(std::string_view url, std::vector<std::string_view> folders,
                               std::string_view extension) {
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        const std::string decoded = PercentDecode(*folder);
        if (!IsGenericWord(decoded) && !IsRenditionFolder(decoded)) {
            return CleanedName(url, *folder, extension);
        }
    }
    return CleanedName(url, "", extension);
}

}  // namespace

std::u16string StreamFileName(std::string_view manifestUrl, std::string_view extension) {
    std::vector<std::string_view> segments = PathSegments(manifestUrl);
    if (!segments.empty()) {
        std::string_view stem = segments.back();
        stem = stem.substr(0, stem.rfind('.'));
        if (!stem.empty() && !IsGenericWord(PercentDecode(stem))) {
            return CleanedName(manifestUrl, stem, extension);
        }
        segments.pop_back();
    }
    return NameFromFolders(manifestUrl, std::move(segments), extension);
}

std::u16string StemFileName(std::string_view url, std::string_view stem, std::string_view extension) {
    return CleanedName(url, stem, extension);
}

std::u16string SegmentsFileName(std::string_view segmentUrl, std::string_view extension) {
    std::vector<std::string_view> segments = PathSegments(segmentUrl);
    if (!segments.empty()) {
        segments.pop_back();
    }
    return NameFromFolders(segmentUrl, std::move(segments), extension);
}

}  // namespace drovan
