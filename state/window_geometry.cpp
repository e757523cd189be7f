#include "state/window_geometry.h"

#include <algorithm>

namespace {

constexpr int32_t kMinimumWindowSide = 100;

// Size first, then position: the position's upper bound depends on the
// clamped size and is itself never below 0, so a window as wide as the
// screen sits at 0. Done in 64 bits so that extreme stored values cannot
// overflow the subtraction.
void ClampSpan(int32_t storedPos, int32_t storedSize, int32_t screenSize, int32_t smallest, int32_t& pos,
               int32_t& size) {
    int64_t s = std::max<int64_t>({storedSize, kMinimumWindowSide, smallest});
    s = std::min<int64_t>(s, screenSize);
    int64_t p = std::max<int64_t>(storedPos, 0);
    p = std::min<int64_t>(p, std::max<int64_t>(int64_t{screenSize} - s, 0));
    pos = static_cast<int32_t>(p);
    size = static_cast<int32_t>(s);
}

}  // namespace

WindowGeometry ClampWindowGeometry(const WindowGeometry& stored, int32_t screenWidth, int32_t screenHeight,
                                   int32_t smallestWidth, int32_t smallestHeight) {
    WindowGeometry clamped{};
    ClampSpan(stored.x, stored.width, screenWidth, smallestWidth, clamped.x, clamped.width);
    ClampSpan(stored.y, stored.height, screenHeight, smallestHeight, clamped.y, clamped.height);
    return clamped;
}

WindowGeometry DefaultWindowGeometry(int32_t outerWidth, int32_t outerHeight, int32_t screenWidth, int32_t screenHeight) {
    WindowGeometry geometry{};
    geometry.width = outerWidth;
    geometry.height = outerHeight;
    geometry.x = static_cast<int32_t>(std::max<int64_t>(int64_t{screenWidth} - outerWidth, 0));
    geometry.y = static_cast<int32_t>(std::max<int64_t>(int64_t{screenHeight} - outerHeight, 0));
    return geometry;
}
