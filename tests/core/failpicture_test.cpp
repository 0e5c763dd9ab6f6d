#include "failpicture.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<QRgb> restored(const FailPicture& picture)
{
    std::vector<QRgb> pixels(size_t(picture.width()) * size_t(picture.height()), 0x12345678u);
    picture.restore(pixels.data());
    return pixels;
}

} // namespace

// Every pixel comes back as stored: grey ones, marks that are almost grey
// (one channel off, not opaque), a colour picture, one object reused for
// pictures of another kind and size.
TEST(FailPicture, GivesBackExactlyThePixelsStoredWhateverTheirKind)
{
    constexpr int w = 64, h = 40;
    std::vector<QRgb> grey(w * h);
    for (int i = 0; i < w * h; ++i)
        grey[size_t(i)] = 0xFF000000u | (0x010101u * QRgb(i * 7 % 256));
    std::vector<QRgb> marked = grey;
    const QRgb marks[] = {0xFFFF0000u, 0xFF00FF00u, 0xFF010100u, 0xFE808080u, 0x00000000u, 0xFF7F7F80u};
    for (size_t m = 0; m < std::size(marks); ++m)
        marked[m * 97 + 5] = marks[m];
    marked.back() = 0xFF00FF00u;  // the last pixel
    std::vector<QRgb> colour(w * h);
    for (int i = 0; i < w * h; ++i)
        colour[size_t(i)] = 0xFF000000u | (QRgb(i) * 2654435761u >> 8);

    FailPicture picture;
    EXPECT_TRUE(picture.isEmpty());
    for (const std::vector<QRgb>* pixels : {&grey, &marked, &colour, &marked, &grey}) {
        picture.store(pixels->data(), w, h);
        EXPECT_EQ(picture.width(), w);
        EXPECT_EQ(picture.height(), h);
        EXPECT_EQ(restored(picture), *pixels);
    }

    picture.store(colour.data(), 8, 5);  // a smaller picture after a larger one
    EXPECT_EQ(restored(picture), std::vector<QRgb>(colour.begin(), colour.begin() + 40));
}
