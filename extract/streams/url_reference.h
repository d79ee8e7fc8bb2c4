#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace drovan {

// reference resolved against base (RFC 3986 §5.2, dot segments removed), as a URL a cache would key the
// response by: without its fragment, the scheme and host in lower case, an empty path after a host as "/".
// None when base is not an absolute URL with a scheme and the reference is not one either.
std::optional<std::string> ResolveUrl(std::string_view base, std::string_view reference);

}  // namespace drovan
