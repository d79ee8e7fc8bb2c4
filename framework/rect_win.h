#pragma once

#include <windows.h>

#include "framework/rect.h"

namespace drovan::framework {

inline Rect FromRECT(const RECT& rect) {
    return {rect.left, rect.top, rect.right, rect.bottom};
}

inline RECT ToRECT(const Rect& rect) {
    return {rect.left, rect.top, rect.right, rect.bottom};
}

}  // namespace drovan::framework
