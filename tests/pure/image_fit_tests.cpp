#include "app/image_fit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr uint32_t kFace = 0xF0E0D0;  // the dialog colour, 0xRRGGBB

// Premultiplied blue, green, red, alpha bytes of one pixel.
void Put(std::vector<uint8_t>& image, unsigned width, unsigned x, unsigned y, uint8_t b, uint8_t g, uint8_t r,
         uint8_t a) {
    uint8_t* pixel = &image[(y * width + x) * 4];
    pixel[0] = b, pixel[1] = g, pixel[2] = r, pixel[3] = a;
}

TEST(ImageFit, WideImageIsCentredKeepsItsProportionsAndLeavesTheFaceAround) {
    // 4 x 2 opaque red into a 4 x 4 canvas: drawn 4 x 2 on rows 1 and 2.
    std::vector<uint8_t> image(4 * 2 * 4);
    for (unsigned y = 0; y < 2; ++y)
        for (unsigned x = 0; x < 4; ++x) Put(image, 4, x, y, 0, 0, 255, 255);
    std::vector<uint32_t> fitted = FitImagePixels(image.data(), 4, 2, 16, 4, 4, kFace);
    ASSERT_EQ(fitted.size(), 16u);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            const uint32_t expected = (y == 1 || y == 2) ? 0xFFFF0000u : 0xFF000000u | kFace;
            EXPECT_EQ(fitted[y * 4 + x], expected) << x << "," << y;
        }
    }
}

TEST(ImageFit, EachPixelAveragesItsBlockAndBlendsTransparencyWithTheFace) {
    // 2 x 2 into 1 x 1: two opaque pixels (blue 200, blue 100) and two fully
    // transparent ones average to blue 75 at alpha 127 over the face.
    std::vector<uint8_t> image(2 * 2 * 4, 0);
    Put(image, 2, 0, 0, 200, 0, 0, 255);
    Put(image, 2, 1, 0, 100, 0, 0, 255);
    std::vector<uint32_t> fitted = FitImagePixels(image.data(), 2, 2, 8, 1, 1, kFace);
    ASSERT_EQ(fitted.size(), 1u);
    const unsigned alpha = (255 + 255) / 4;
    const unsigned blue = 300 / 4 + 0xD0 * (255 - alpha) / 255;
    const unsigned green = 0xE0 * (255 - alpha) / 255;
    const unsigned red = 0xF0 * (255 - alpha) / 255;
    EXPECT_EQ(fitted[0], 0xFF000000u | (red << 16) | (green << 8) | blue);

    // A wholly transparent image leaves exactly the face colour.
    std::vector<uint8_t> clear(3 * 3 * 4, 0);
    for (uint32_t pixel : FitImagePixels(clear.data(), 3, 3, 12, 2, 2, kFace)) EXPECT_EQ(pixel, 0xFF000000u | kFace);
}

TEST(ImageFit, RowsAreReadWithTheGivenStride) {
    // Rows padded to 12 bytes: the padding must never be taken for pixels.
    std::vector<uint8_t> image(12 * 2, 0xAB);
    Put(image, 3, 0, 0, 10, 20, 30, 255);
    Put(image, 3, 1, 0, 10, 20, 30, 255);
    Put(image, 3, 0, 1, 10, 20, 30, 255);
    Put(image, 3, 1, 1, 10, 20, 30, 255);
    std::vector<uint32_t> fitted = FitImagePixels(image.data(), 2, 2, 12, 2, 2, kFace);
    for (uint32_t pixel : fitted) EXPECT_EQ(pixel, 0xFF1E140Au);
}

TEST(ImageFit, NothingToDrawGivesNoPixels) {
    std::vector<uint8_t> image(4, 255);
    EXPECT_TRUE(FitImagePixels(image.data(), 1, 1, 4, 0, 5, kFace).empty());
    EXPECT_TRUE(FitImagePixels(image.data(), 1, 1, 4, 5, -1, kFace).empty());
    EXPECT_TRUE(FitImagePixels(image.data(), 0, 1, 4, 5, 5, kFace).empty());
}

}  // namespace
