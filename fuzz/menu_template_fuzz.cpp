#include <cstdlib>

#include "menu/menu_resources.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto entries = drovan::ParseMenuTemplate(data, size);
    if (!entries) {
        return 0;
    }
    Require(!entries->empty());
    // The bytes the entries occupy must fit after the header.
    std::size_t used = 4 + (data[2] | (data[3] << 8));
    int openLevels = 1;
    for (std::size_t i = 0; i < entries->size(); ++i) {
        const drovan::MenuTemplateEntry& entry = (*entries)[i];
        Require((entry.flags & drovan::kMenuOptionEnd) == 0);
        Require(entry.isPopup == ((entry.flags & drovan::kMenuOptionPopup) != 0));
        Require(entry.text.find(u'\0') == std::u16string::npos);
        Require(entry.text.size() * 2 < size);
        used += (entry.isPopup ? 2 : 4) + 2 * (entry.text.size() + 1);
        if (entry.isPopup) {
            Require(entry.id == 0 && entry.levelsClosed == 0);
            ++openLevels;
        } else {
            Require(entry.levelsClosed <= openLevels);
            openLevels -= entry.levelsClosed;
        }
        // Only the last entry may close the top level.
        Require((openLevels == 0) == (i + 1 == entries->size()));
    }
    Require(used <= size);
    return 0;
}
