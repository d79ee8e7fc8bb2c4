#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace drovan {

inline constexpr std::size_t kNoXmlElement = std::numeric_limits<std::size_t>::max();

struct XmlAttribute {
    std::string_view name;  // as written, a prefix such as "cenc:" kept
    std::string value;      // references replaced, each blank a space
};

// Names point into the scanned text, which must outlive them.
struct XmlElement {
    std::string_view name;  // as written
    std::vector<XmlAttribute> attributes;
    std::string text;  // the character data directly inside, CDATA included, references replaced
    std::size_t parent = kNoXmlElement;  // indices into the scanned elements
    std::size_t firstChild = kNoXmlElement;
    std::size_t nextSibling = kNoXmlElement;
};

// XML 1.0 without a DTD: the elements in document order, the root first. The XML declaration, processing
// instructions, comments and a DOCTYPE are passed over, and an unknown or malformed reference is kept as
// written. None when tags do not match, a construct is left open, there is a second root, or elements nest
// deeper than maxDepth.
std::optional<std::vector<XmlElement>> ScanXml(std::string_view xml, std::size_t maxDepth = 64);

// At least the bytes ScanXml keeps while it reads xml, for a memory budget: manifests of tiny elements take
// many times their size.
std::size_t ScanXmlBound(std::string_view xml);

// The value of the element's first attribute of that name; none without one.
const std::string* FindXmlAttribute(const XmlElement& element, std::string_view name);

}  // namespace drovan
