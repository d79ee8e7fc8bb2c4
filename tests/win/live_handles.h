#pragma once

#include "framework/gdi.h"

namespace drovan::tests {

// The live owners of every handle kind, as counted when made: leak rounds compare two of these.
struct LiveHandles {
    int brushes = framework::Brush::LiveCount();
    int pens = framework::Pen::LiveCount();
    int fonts = framework::Font::LiveCount();
    int bitmaps = framework::Bitmap::LiveCount();
    int icons = framework::OwnedIcon::LiveCount();
    int memoryDCs = framework::MemoryDC::LiveCount();
    int imageLists = framework::ImageList::LiveCount();
    int windows = framework::OwnedWindow::LiveCount();

    bool operator==(const LiveHandles& other) const {
        return brushes == other.brushes && pens == other.pens && fonts == other.fonts &&
               bitmaps == other.bitmaps && icons == other.icons && memoryDCs == other.memoryDCs &&
               imageLists == other.imageLists && windows == other.windows;
    }
};

}  // namespace drovan::tests
