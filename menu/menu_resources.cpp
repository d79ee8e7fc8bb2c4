#include "menu/menu_resources.h"

#include <algorithm>
#include <utility>

namespace drovan {
namespace {

// Resource data is only byte aligned in general, so words are assembled rather than loaded.
std::uint16_t ReadWord(const std::uint8_t* data, std::size_t offset) {
    return static_cast<std::uint16_t>(data[offset] | (data[offset + 1] << 8));
}

// A measure that ignores trailing spaces would otherwise pad a label forever.
constexpr std::size_t kMaxPadding = 1000;

}  // namespace

std::optional<std::vector<MenuTemplateEntry>> ParseMenuTemplate(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < 4) {
        return std::nullopt;
    }
    const std::size_t headerSize = ReadWord(data, 2);
    if (headerSize > size - 4) {
        return std::nullopt;
    }
    std::size_t pos = 4 + headerSize;
    const auto takeWord = [&](std::uint16_t& word) {
        if (size - pos < 2) {
            return false;
        }
        word = ReadWord(data, pos);
        pos += 2;
        return true;
    };

    std::vector<MenuTemplateEntry> entries;
    // One flag per open level: set once the entry ending that level has been read.
    std::vector<bool> levelEnds{false};
    while (!levelEnds.empty()) {
        MenuTemplateEntry entry;
        std::uint16_t options = 0;
        if (!takeWord(options)) {
            return std::nullopt;
        }
        entry.isPopup = (options & kMenuOptionPopup) != 0;
        entry.flags = static_cast<std::uint16_t>(options & ~kMenuOptionEnd);
        if (!entry.isPopup && !takeWord(entry.id)) {
            return std::nullopt;
        }
        for (std::uint16_t unit = 0;;) {
            if (!takeWord(unit)) {
                return std::nullopt;
            }
            if (unit == 0) {
                break;
            }
            entry.text += static_cast<char16_t>(unit);
        }

        if ((options & kMenuOptionEnd) != 0) {
            levelEnds.back() = true;
        }
        if (entry.isPopup) {
            levelEnds.push_back(false);
        } else {
            while (!levelEnds.empty() && levelEnds.back()) {
                levelEnds.pop_back();
                ++entry.levelsClosed;
            }
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::optional<ToolbarResource> ParseToolbarResource(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < 8) {
        return std::nullopt;
    }
    const std::size_t count = ReadWord(data, 6);
    if (count > (size - 8) / 2) {
        return std::nullopt;
    }
    ToolbarResource toolbar;
    toolbar.version = ReadWord(data, 0);
    toolbar.imageWidth = ReadWord(data, 2);
    toolbar.imageHeight = ReadWord(data, 4);
    toolbar.commandIds.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        toolbar.commandIds.push_back(ReadWord(data, 8 + 2 * i));
    }
    return toolbar;
}

int ToolbarCommandIndex(const std::vector<std::uint16_t>& commandIds, std::uint16_t id) {
    const auto found = std::find(commandIds.begin(), commandIds.end(), id);
    return found == commandIds.end() ? -1 : static_cast<int>(found - commandIds.begin());
}

int ToolbarImageIndex(const std::vector<std::uint16_t>& commandIds, int position) {
    if (position < 0 || static_cast<std::size_t>(position) >= commandIds.size()) {
        return -1;
    }
    return static_cast<int>(std::count_if(commandIds.begin(), commandIds.begin() + position,
                                          [](std::uint16_t id) { return id != 0; }));
}

std::vector<std::u16string> AlignAcceleratorTexts(const std::vector<std::u16string>& texts,
                                                  const std::function<int(std::u16string_view)>& measure) {
    int widest = -1;
    for (const std::u16string& text : texts) {
        std::u16string label = text.substr(0, text.find(u'\t'));
        label += u' ';
        widest = std::max(widest, measure(label));
    }

    std::vector<std::u16string> aligned;
    aligned.reserve(texts.size());
    for (const std::u16string& text : texts) {
        const std::size_t tab = text.find(u'\t');
        if (tab == std::u16string::npos) {
            aligned.push_back(text);
            continue;
        }
        std::u16string label = text.substr(0, tab);
        const std::size_t longest = label.size() + kMaxPadding;
        while (label.size() < longest && measure(label) < widest) {
            label += u' ';
        }
        aligned.push_back(label + text.substr(tab));
    }
    return aligned;
}

}  // namespace drovan
