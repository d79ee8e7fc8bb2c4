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
    const auto toolbar = drovan::ParseToolbarResource(data, size);
    if (!toolbar) {
        Require(size < 8 || 8 + 2 * static_cast<std::size_t>(data[6] | (data[7] << 8)) > size);
        return 0;
    }
    const std::vector<std::uint16_t>& ids = toolbar->commandIds;
    Require(ids.size() == static_cast<std::size_t>(data[6] | (data[7] << 8)));
    Require(8 + 2 * ids.size() <= size);
    Require(toolbar->version == (data[0] | (data[1] << 8)));
    Require(toolbar->imageWidth == (data[2] | (data[3] << 8)));
    Require(toolbar->imageHeight == (data[4] | (data[5] << 8)));

    const int count = static_cast<int>(ids.size());
    Require(drovan::ToolbarImageIndex(ids, -1) == -1);
    Require(drovan::ToolbarImageIndex(ids, count) == -1);
    int images = 0;
    for (int i = 0; i < count; ++i) {
        const std::uint16_t id = ids[static_cast<std::size_t>(i)];
        Require(id == (data[8 + 2 * i] | (data[9 + 2 * i] << 8)));
        Require(drovan::ToolbarImageIndex(ids, i) == images);
        const int first = drovan::ToolbarCommandIndex(ids, id);
        Require(first >= 0 && first <= i && ids[static_cast<std::size_t>(first)] == id);
        images += id != 0 ? 1 : 0;
    }
    return 0;
}
