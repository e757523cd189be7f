#pragma once
// Position and size of the main window, and the arithmetic that keeps it on
// the primary screen. Pure: no platform headers, so it is tested natively.

#include <cstdint>

struct WindowGeometry {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

// The stored geometry made usable on a screen of the given size: at least
// 100 x 100, at most the screen, and moved so that the whole window is on it.
// Only the primary screen counts. The platform makes no framed window
// smaller than its minimum tracking size, so the position is worked out
// for the size the window will really have: at least smallestWidth x
// smallestHeight as well.
WindowGeometry ClampWindowGeometry(const WindowGeometry& stored, int32_t screenWidth, int32_t screenHeight,
                                   int32_t smallestWidth = 0, int32_t smallestHeight = 0);

// The first-start geometry: a window of the given outer size in the
// bottom-right corner of the screen (never left of or above its origin).
WindowGeometry DefaultWindowGeometry(int32_t outerWidth, int32_t outerHeight, int32_t screenWidth, int32_t screenHeight);
