#pragma once
// Shrinking the About image to the size of its picture control: pure pixel
// arithmetic, so that it can be tested without a display.

#include <cstddef>
#include <cstdint>
#include <vector>

// The source image (premultiplied blue, green, red, alpha bytes, rows
// stride bytes apart) fitted into a width x height canvas: centred, keeping
// its proportions, laid over the opaque background 0xRRGGBB. Each target
// pixel averages the block of source pixels it covers. Returns width x
// height opaque 0xAARRGGBB pixels, row by row; empty when either size is
// not positive.
std::vector<uint32_t> FitImagePixels(const uint8_t* source, unsigned sourceWidth, unsigned sourceHeight,
                                     std::ptrdiff_t stride, int width, int height, uint32_t background);
