// Keeping the main window on the primary screen, and the first-start place.

#include <gtest/gtest.h>

#include <climits>

#include "expect_geometry.h"
#include "state/window_geometry.h"

namespace {

TEST(ClampWindowGeometry, RaisesTinySizesTo100) {
    ExpectGeometry(ClampWindowGeometry({10, 20, 50, 20}, 1280, 800), 10, 20, 100, 100);
}

TEST(ClampWindowGeometry, ShrinksOversizedWindowsToTheScreenAtTheOrigin) {
    ExpectGeometry(ClampWindowGeometry({300, 300, 5000, 4000}, 1280, 800), 0, 0, 1280, 800);
}

TEST(ClampWindowGeometry, PullsPositionsOntoTheScreen) {
    ExpectGeometry(ClampWindowGeometry({-300, -1, 400, 300}, 1280, 800), 0, 0, 400, 300);
    ExpectGeometry(ClampWindowGeometry({1200, 700, 400, 300}, 1280, 800), 880, 500, 400, 300);
    ExpectGeometry(ClampWindowGeometry({880, 500, 400, 300}, 1280, 800), 880, 500, 400, 300);
}

TEST(ClampWindowGeometry, PlacesTheWindowForThePlatformsSmallestSize) {
    // 116 x 39 is the least a framed window may be here; a stored 50 x 20 at
    // the far right must end with its right edge on the screen's.
    ExpectGeometry(ClampWindowGeometry({5000, 5000, 50, 20}, 1280, 800, 116, 39), 1164, 700, 116, 100);
    ExpectGeometry(ClampWindowGeometry({10, 10, 50, 20}, 1280, 800, 0, 0), 10, 10, 100, 100);
}

TEST(ClampWindowGeometry, SurvivesExtremeStoredValues) {
    ExpectGeometry(ClampWindowGeometry({INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN}, 1280, 800), 0, 0, 1280, 100);
    ExpectGeometry(ClampWindowGeometry({INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX}, 1280, 800), 0, 0, 100, 800);
}

TEST(DefaultWindowGeometry, SitsInTheBottomRightCorner) {
    ExpectGeometry(DefaultWindowGeometry(416, 359, 1280, 800), 864, 441, 416, 359);
    ExpectGeometry(DefaultWindowGeometry(416, 359, 300, 200), 0, 0, 416, 359);
}

}  // namespace
