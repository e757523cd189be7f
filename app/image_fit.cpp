#include "app/image_fit.h"

#include <algorithm>

std::vector<uint32_t> FitImagePixels(const uint8_t* source, unsigned sourceWidth, unsigned sourceHeight,
                                     std::ptrdiff_t stride, int width, int height, uint32_t background) {
    if (width <= 0 || height <= 0 || sourceWidth == 0 || sourceHeight == 0) return {};

    // Scale factor as a fraction side / largest source side.
    const unsigned side = static_cast<unsigned>(std::min(width, height));
    const unsigned largest = std::max(sourceWidth, sourceHeight);
    const int drawnWidth = std::max(1, static_cast<int>(static_cast<uint64_t>(sourceWidth) * side / largest));
    const int drawnHeight = std::max(1, static_cast<int>(static_cast<uint64_t>(sourceHeight) * side / largest));
    const int left = (width - drawnWidth) / 2;
    const int top = (height - drawnHeight) / 2;

    // Blue, green, red: the byte order of the source pixels.
    const unsigned face[3] = {background & 0xFF, (background >> 8) & 0xFF, (background >> 16) & 0xFF};
    std::vector<uint32_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                                 0xFF000000u | (background & 0xFFFFFFu));
    for (int y = 0; y < drawnHeight; ++y) {
        const unsigned y0 = static_cast<unsigned>(y) * sourceHeight / static_cast<unsigned>(drawnHeight);
        const unsigned y1 =
            std::max(y0 + 1, static_cast<unsigned>(y + 1) * sourceHeight / static_cast<unsigned>(drawnHeight));
        for (int x = 0; x < drawnWidth; ++x) {
            const unsigned x0 = static_cast<unsigned>(x) * sourceWidth / static_cast<unsigned>(drawnWidth);
            const unsigned x1 =
                std::max(x0 + 1, static_cast<unsigned>(x + 1) * sourceWidth / static_cast<unsigned>(drawnWidth));
            uint64_t sum[4] = {0, 0, 0, 0};  // premultiplied blue, green, red, alpha
            for (unsigned sy = y0; sy < y1; ++sy) {
                const uint8_t* row = source + static_cast<std::ptrdiff_t>(sy) * stride;
                for (unsigned sx = x0; sx < x1; ++sx) {
                    for (int c = 0; c < 4; ++c) sum[c] += row[sx * 4 + c];
                }
            }
            const uint64_t count = static_cast<uint64_t>(x1 - x0) * (y1 - y0);
            const unsigned alpha = static_cast<unsigned>(sum[3] / count);
            uint32_t pixel = 0xFF000000u;
            for (int c = 0; c < 3; ++c) {
                const unsigned value = static_cast<unsigned>(sum[c] / count) + face[c] * (255 - alpha) / 255;
                pixel |= std::min(value, 255u) << (8 * c);
            }
            pixels[static_cast<std::size_t>(top + y) * static_cast<std::size_t>(width) +
                   static_cast<std::size_t>(left + x)] = pixel;
        }
    }
    return pixels;
}
