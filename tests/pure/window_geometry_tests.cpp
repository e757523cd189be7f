// Keeping the main window on the primary screen, and the first-start place.

#include <gtest/gtest.h>

#include <climits>

#include "expect_geometry.h"
#include "state/window_geometry.h"

namespace {

TEST(ClampWindowGeometry, OnThePrimaryScreenAtLeast100Square) {
    struct Case {
        const char* name;
        WindowGeometry stored;
        int minWidth, minHeight;  // the platform's least framed window
        int x, y, width, height;
    } cases[] = {
        {"tiny sizes raised to 100", {10, 20, 50, 20}, 0, 0, 10, 20, 100, 100},
        {"oversized shrunk to the screen at the origin", {300, 300, 5000, 4000}, 0, 0, 0, 0, 1280, 800},
        {"above and left pulled onto the screen", {-300, -1, 400, 300}, 0, 0, 0, 0, 400, 300},
        {"below and right pulled onto the screen", {1200, 700, 400, 300}, 0, 0, 880, 500, 400, 300},
        {"touching the far corner stays", {880, 500, 400, 300}, 0, 0, 880, 500, 400, 300},
        // A stored 50 x 20 at the far right must end with its right edge on
        // the screen's at the least size a framed window may be here.
        {"placed for the platform's smallest size", {5000, 5000, 50, 20}, 116, 39, 1164, 700, 116, 100},
        {"no smallest size given", {10, 10, 50, 20}, 0, 0, 10, 10, 100, 100},
        {"extreme stored values", {INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN}, 0, 0, 0, 0, 1280, 100},
        {"extreme stored values the other way", {INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX}, 0, 0, 0, 0, 100, 800},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectGeometry(ClampWindowGeometry(c.stored, 1280, 800, c.minWidth, c.minHeight), c.x, c.y, c.width, c.height);
    }
}

TEST(DefaultWindowGeometry, SitsInTheBottomRightCorner) {
    ExpectGeometry(DefaultWindowGeometry(416, 359, 1280, 800), 864, 441, 416, 359);
    ExpectGeometry(DefaultWindowGeometry(416, 359, 300, 200), 0, 0, 416, 359);
}

}  // namespace
