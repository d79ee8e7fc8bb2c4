#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace drovan {

constexpr std::uint16_t kMenuOptionPopup = 0x10;
constexpr std::uint16_t kMenuOptionEnd = 0x80;

// One entry of a menu resource template, in template order (depth first).
struct MenuTemplateEntry {
    bool isPopup = false;
    // The option flags without the end-of-level bit (kMenuOptionEnd); kMenuOptionPopup stays set on pop-ups.
    std::uint16_t flags = 0;
    // The command id; 0 for pop-up entries, which have none in the template.
    std::uint16_t id = 0;
    std::u16string text;
    // How many levels are complete once this entry is in: the loader aligns and leaves that many levels,
    // innermost first. Always 0 for a pop-up entry (its level closes with its own last entry).
    int levelsClosed = 0;
};

// Reads a classic menu template (version word, header-size word, the entries after the header). Nullopt when
// it is malformed: shorter than its header, an entry cut short, a text without its terminator, or a level
// that never ends before the data does. Bytes after the top level has ended are ignored.
std::optional<std::vector<MenuTemplateEntry>> ParseMenuTemplate(const std::uint8_t* data, std::size_t size);

struct ToolbarResource {
    std::uint16_t version = 0;
    std::uint16_t imageWidth = 0;
    std::uint16_t imageHeight = 0;
    // One per button, in order; 0 marks a separator.
    std::vector<std::uint16_t> commandIds;
};

// Reads a toolbar resource (16-bit words: version, width, height, count, ids). The version is not examined.
// Nullopt when the data is shorter than the header or than the count of ids it announces.
std::optional<ToolbarResource> ParseToolbarResource(const std::uint8_t* data, std::size_t size);

// The position of the first button with this command, separators counted; -1 when there is none.
int ToolbarCommandIndex(const std::vector<std::uint16_t>& commandIds, std::uint16_t id);

// The image index the platform gives the button at this position: separators take no image, so it is the
// number of non-separator buttons before it.
int ToolbarImageIndex(const std::vector<std::uint16_t>& commandIds, int position);

// Lines up the text after the first TAB in one menu level. W is the widest measure(label + u" ") over all
// texts (label: the part before the first TAB, or the whole text); every text with a TAB gets spaces added
// after its label until measure(label) >= W; texts without a TAB are unchanged. measure returns pixels.
std::vector<std::u16string> AlignAcceleratorTexts(const std::vector<std::u16string>& texts,
                                                  const std::function<int(std::u16string_view)>& measure);

}  // namespace drovan
