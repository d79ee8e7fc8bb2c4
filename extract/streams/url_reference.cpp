#include "extract/streams/url_reference.h"

#include "extract/ascii.h"

namespace drovan {

namespace {

// RFC 3986 §3: the five components; the optional ones are none when their delimiter is absent.
struct UrlParts {
    std::optional<std::string_view> scheme;
    std::optional<std::string_view> authority;
    std::string_view path;
    std::optional<std::string_view> query;
};

bool IsSchemeChar(char c, bool first) {
    const char lower = LowerAscii(c);
    if (lower >= 'a' && lower <= 'z') {
        return true;
    }
    return !first && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.');
}

std::optional<std::string_view> TakeScheme(std::string_view& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ':' && i > 0) {
            const std::string_view scheme = text.substr(0, i);
            text.remove_prefix(i + 1);
            return scheme;
        }
        if (!IsSchemeChar(text[i], i == 0)) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

UrlParts SplitUrl(std::string_view text) {
    text = text.substr(0, text.find('#'));
    UrlParts parts;
    parts.scheme = TakeScheme(text);
    const std::size_t queryAt = text.find('?');
    if (queryAt != std::string_view::npos) {
        parts.query = text.substr(queryAt + 1);
        text = text.substr(0, queryAt);
    }
    if (text.substr(0, 2) == "//") {
        const std::size_t pathAt = text.find('/', 2);
        parts.authority = text.substr(2, pathAt == std::string_view::npos ? pathAt : pathAt - 2);
        text = pathAt == std::string_view::npos ? std::string_view() : text.substr(pathAt);
    }
    parts.path = text;
    return parts;
}

// Drops the last segment of output and its "/" (RFC 3986 §5.2.4 step 2C).
void DropLastSegment(std::string& output) {
    const std::size_t slash = output.rfind('/');
    output.erase(slash == std::string::npos ? 0 : slash);
}

std::string RemoveDotSegments(std::string_view input) {
    std::string output;
    output.reserve(input.size());
    while (!input.empty()) {
        if (input.substr(0, 3) == "../") {
            input.remove_prefix(3);
        } else if (input.substr(0, 2) == "./") {
            input.remove_prefix(2);
        } else if (input.substr(0, 3) == "/./") {
            input.remove_prefix(2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.substr(0, 4) == "/../") {
            input.remove_prefix(3);
            DropLastSegment(output);
        } else if (input == "/..") {
            input = "/";
            DropLastSegment(output);
        } else if (input == "." || input == "..") {
            input = {};
        } else {
            const std::size_t end = input.find('/', 1);
            const std::size_t length = end == std::string_view::npos ? input.size() : end;
            output.append(input.substr(0, length));
            input.remove_prefix(length);
        }
    }
    return output;
}

std::string MergePaths(const UrlParts& base, std::string_view referencePath) {
    if (base.authority && base.path.empty()) {
        return "/" + std::string(referencePath);
    }
    const std::size_t slash = base.path.rfind('/');
    std::string merged(slash == std::string_view::npos ? std::string_view() : base.path.substr(0, slash + 1));
    merged.append(referencePath);
    return merged;
}

std::string Lowered(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        c = LowerAscii(c);
    }
    return lowered;
}

// RFC 3986 §5.3, with the scheme and host in lower case and an empty path after an authority written "/"
// (§6.2.2.1, §6.2.3): the forms browsers key their caches by.
std::string Recompose(std::string_view scheme, const std::optional<std::string_view>& authority,
                      const std::string& path, const std::optional<std::string_view>& query) {
    std::string url = Lowered(scheme) + ":";
    if (authority) {
        const std::size_t userEnd = authority->rfind('@');
        const std::size_t hostAt = userEnd == std::string_view::npos ? 0 : userEnd + 1;
        url.append("//").append(authority->substr(0, hostAt)).append(Lowered(authority->substr(hostAt)));
        url.append(path.empty() ? "/" : path);
    } else {
        url.append(path);
    }
    if (query) {
        url.append("?").append(*query);
    }
    return url;
}

}  // namespace

std::optional<std::string> ResolveUrl(std::string_view base, std::string_view reference) {
    const UrlParts ref = SplitUrl(reference);
    if (ref.scheme) {
        return Recompose(*ref.scheme, ref.authority, RemoveDotSegments(ref.path), ref.query);
    }
    const UrlParts from = SplitUrl(base);
    if (!from.scheme) {
        return std::nullopt;
    }
    if (ref.authority) {
        return Recompose(*from.scheme, ref.authority, RemoveDotSegments(ref.path), ref.query);
    }
    if (ref.path.empty()) {
        return Recompose(*from.scheme, from.authority, std::string(from.path),
                         ref.query ? ref.query : from.query);
    }
    const std::string path =
        ref.path.front() == '/' ? RemoveDotSegments(ref.path) : RemoveDotSegments(MergePaths(from, ref.path));
    return Recompose(*from.scheme, from.authority, path, ref.query);
}

}  // namespace drovan
