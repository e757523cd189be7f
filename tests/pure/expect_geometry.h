#pragma once
// One check for a window rectangle, for the tests of everything that reads,
// writes or adjusts one.

#include <gtest/gtest.h>

#include <cstdint>

#include "state/window_geometry.h"

inline void ExpectGeometry(const WindowGeometry& g, int32_t x, int32_t y, int32_t w, int32_t h) {
    EXPECT_EQ(g.x, x);
    EXPECT_EQ(g.y, y);
    EXPECT_EQ(g.width, w);
    EXPECT_EQ(g.height, h);
}
