#include "extract/streams/xml_scan.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "extract/ascii.h"

namespace drovan {

namespace {

constexpr std::string_view kXmlBlanks = " \t\r\n";
constexpr std::size_t kLongestReference = 10;  // "&#x10FFFF;"

bool IsXmlChar(std::uint32_t code) {
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
        return;
    }
    const int tail = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    static constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
    out.push_back(static_cast<char>(kLead[tail] | (code >> (6 * tail))));
    for (int shift = 6 * (tail - 1); shift >= 0; shift -= 6) {
        out.push_back(static_cast<char>(0x80 | ((code >> shift) & 0x3F)));
    }
}

// "#123" or "#x7B": the character, none unless it is one XML allows.
std::optional<std::uint32_t> CharacterReference(std::string_view digits) {
    const bool hex = digits.size() > 1 && digits[1] == 'x';
    digits.remove_prefix(hex ? 2 : 1);
    if (digits.empty()) {
        return std::nullopt;
    }
    std::uint32_t code = 0;
    for (const char c : digits) {
        const int digit = hex ? HexDigitValue(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (digit < 0 || code > 0x10FFFF) {
            return std::nullopt;
        }
        code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
    }
    return IsXmlChar(code) ? std::optional<std::uint32_t>(code) : std::nullopt;
}

// The reference's name between "&" and ";" replaced; false when it is none XML defines.
bool AppendReference(std::string& out, std::string_view name) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
    for (const auto& [entity, replacement] : kEntities) {
        if (name == entity) {
            out.push_back(replacement);
            return true;
        }
    }
    if (name.empty() || name.front() != '#') {
        return false;
    }
    const std::optional<std::uint32_t> code = CharacterReference(name);
    if (code) {
        AppendUtf8(out, *code);
    }
    return code.has_value();
}

// Line ends as "\n" (XML 1.0 §2.11), in attribute values every blank as a space (§3.3.3).
void AppendDecoded(std::string& out, std::string_view raw, bool attribute) {
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '&') {
            const std::size_t semicolon = raw.substr(i + 1, kLongestReference).find(';');
            if (semicolon != std::string_view::npos && AppendReference(out, raw.substr(i + 1, semicolon))) {
                i += semicolon + 1;
                continue;
            }
        } else if (c == '\r') {
            if (i + 1 < raw.size() && raw[i + 1] == '\n') {
                ++i;
            }
            out.push_back(attribute ? ' ' : '\n');
            continue;
        } else if (attribute && (c == '\n' || c == '\t')) {
            out.push_back(' ');
            continue;
        }
        out.push_back(c);
    }
}

class XmlScanner {
  public:
    XmlScanner(std::string_view xml, std::size_t maxDepth) : m_xml(xml), m_maxDepth(maxDepth) {}
    std::optional<std::vector<XmlElement>> Scan() &&;

  private:
    struct OpenElement {
        std::size_t index = 0;
        std::size_t lastChild = kNoXmlElement;
    };

    bool Skip(std::string_view opening, std::string_view closing);
    bool SkipDoctype();
    bool ReadCdata();
    bool ReadEndTag();
    bool ReadStartTag();
    bool ReadAttributes(XmlElement& element, bool& empty);
    bool OpenChild(XmlElement element, bool empty);
    std::string_view TakeName();
    void SkipBlanks();

    std::string_view m_xml;
    std::size_t m_maxDepth;
    std::size_t m_at = 0;
    std::vector<XmlElement> m_elements;
    std::vector<OpenElement> m_open;
};

void XmlScanner::SkipBlanks() {
    while (m_at < m_xml.size() && kXmlBlanks.find(m_xml[m_at]) != std::string_view::npos) {
        ++m_at;
    }
}

std::string_view XmlScanner::TakeName() {
    const std::size_t start = m_at;
    while (m_at < m_xml.size() &&
           std::string_view(" \t\r\n/>=<").find(m_xml[m_at]) == std::string_view::npos) {
        ++m_at;
    }
    return m_xml.substr(start, m_at - start);
}

bool XmlScanner::Skip(std::string_view opening, std::string_view closing) {
    const std::size_t end = m_xml.find(closing, m_at + opening.size());
    if (end == std::string_view::npos) {
        return false;
    }
    m_at = end + closing.size();
    return true;
}

// To the ">" outside quotes and the internal subset's brackets.
bool XmlScanner::SkipDoctype() {
    bool inSubset = false;
    for (std::size_t i = m_at + 2; i < m_xml.size(); ++i) {
        const char c = m_xml[i];
        if (c == '"' || c == '\'') {
            i = m_xml.find(c, i + 1);
            if (i == std::string_view::npos) {
                return false;
            }
        } else if (c == '[' || c == ']') {
            inSubset = c == '[';
        } else if (c == '>' && !inSubset) {
            m_at = i + 1;
            return true;
        }
    }
    return false;
}

bool XmlScanner::ReadCdata() {
    constexpr std::string_view kOpening = "<![CDATA[";
    const std::size_t end = m_xml.find("]]>", m_at + kOpening.size());
    if (end == std::string_view::npos) {
        return false;
    }
    if (!m_open.empty()) {
        const std::size_t start = m_at + kOpening.size();
        m_elements[m_open.back().index].text.append(m_xml.substr(start, end - start));
    }
    m_at = end + 3;
    return true;
}

bool XmlScanner::ReadEndTag() {
    m_at += 2;
    const std::string_view name = TakeName();
    SkipBlanks();
    if (m_open.empty() || m_at >= m_xml.size() || m_xml[m_at] != '>' ||
        name != m_elements[m_open.back().index].name) {
        return false;
    }
    ++m_at;
    m_open.pop_back();
    return true;
}

bool XmlScanner::ReadAttributes(XmlElement& element, bool& empty) {
    while (true) {
        SkipBlanks();
        if (m_xml.substr(m_at, 2) == "/>" || m_xml.substr(m_at, 1) == ">") {
            empty = m_xml[m_at] == '/';
            m_at += empty ? 2 : 1;
            return true;
        }
        const std::string_view name = TakeName();
        SkipBlanks();
        if (name.empty() || m_xml.substr(m_at, 1) != "=") {
            return false;
        }
        ++m_at;
        SkipBlanks();
        const char quote = m_at < m_xml.size() ? m_xml[m_at] : '\0';
        const std::size_t close =
            quote == '"' || quote == '\'' ? m_xml.find(quote, m_at + 1) : std::string_view::npos;
        if (close == std::string_view::npos) {
            return false;
        }
        XmlAttribute attribute{name, {}};
        AppendDecoded(attribute.value, m_xml.substr(m_at + 1, close - m_at - 1), true);
        element.attributes.push_back(std::move(attribute));
        m_at = close + 1;
    }
}

bool XmlScanner::OpenChild(XmlElement element, bool empty) {
    const std::size_t index = m_elements.size();
    if (m_open.empty()) {
        if (!m_elements.empty()) {
            return false;
        }
    } else {
        OpenElement& parent = m_open.back();
        element.parent = parent.index;
        std::size_t& link = parent.lastChild == kNoXmlElement ? m_elements[parent.index].firstChild
                                                              : m_elements[parent.lastChild].nextSibling;
        link = index;
        parent.lastChild = index;
    }
    m_elements.push_back(std::move(element));
    if (!empty) {
        m_open.push_back({index, kNoXmlElement});
    }
    return true;
}

bool XmlScanner::ReadStartTag() {
    ++m_at;
    XmlElement element;
    element.name = TakeName();
    bool empty = false;
    if (element.name.empty() || m_open.size() >= m_maxDepth || !ReadAttributes(element, empty)) {
        return false;
    }
    return OpenChild(std::move(element), empty);
}

std::optional<std::vector<XmlElement>> XmlScanner::Scan() && {
    while (m_at < m_xml.size()) {
        const std::size_t tag = std::min(m_xml.find('<', m_at), m_xml.size());
        if (!m_open.empty()) {
            AppendDecoded(m_elements[m_open.back().index].text, m_xml.substr(m_at, tag - m_at), false);
        }
        m_at = tag;
        if (m_at == m_xml.size()) {
            break;
        }
        const std::string_view rest = m_xml.substr(m_at);
        bool read = false;
        if (rest.substr(0, 4) == "<!--") {
            read = Skip("<!--", "-->");
        } else if (rest.substr(0, 9) == "<![CDATA[") {
            read = ReadCdata();
        } else if (rest.substr(0, 2) == "<!") {
            read = SkipDoctype();
        } else if (rest.substr(0, 2) == "<?") {
            read = Skip("<?", "?>");
        } else if (rest.substr(0, 2) == "</") {
            read = ReadEndTag();
        } else {
            read = ReadStartTag();
        }
        if (!read) {
            return std::nullopt;
        }
    }
    if (!m_open.empty() || m_elements.empty()) {
        return std::nullopt;
    }
    return std::move(m_elements);
}

}  // namespace

std::optional<std::vector<XmlElement>> ScanXml(std::string_view xml, std::size_t maxDepth) {
    return XmlScanner(xml, maxDepth).Scan();
}

std::size_t ScanXmlBound(std::string_view xml) {
    const auto count = [xml](char c) {
        return static_cast<std::size_t>(std::count(xml.begin(), xml.end(), c));
    };
    // An element starts at each "<" and an attribute has its "="; a vector may hold twice what it uses, and
    // every string and vector on the heap costs a block's overhead.
    constexpr std::size_t kBlock = 32;
    return 2 * (count('<') * (sizeof(XmlElement) + 2 * kBlock) +
                count('=') * (sizeof(XmlAttribute) + kBlock) + xml.size());
}

const std::string* FindXmlAttribute(const XmlElement& element, std::string_view name) {
    for (const XmlAttribute& attribute : element.attributes) {
        if (attribute.name == name) {
            return &attribute.value;
        }
    }
    return nullptr;
}

}  // namespace drovan
