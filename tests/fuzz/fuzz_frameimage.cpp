// Template and ignore-mask BMP files: whatever the file holds, only a picture
// of the frame's size is copied, and never past the frame buffer.
#include "frameimage.h"
#include "fuzzsupport.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <cstdlib>
#include <vector>

namespace {
constexpr int kMaxSide = 512;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A header claiming millions of rows has Qt decode for seconds before the size check
    // below: such pictures are skipped by their header, which the copy never sees either way.
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size));
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, "BMP");
    const QSize claimed = reader.size();
    if (std::abs(claimed.width()) > kMaxSide || std::abs(claimed.height()) > kMaxSide)
        return 0;
    const QImage image = reader.read();
    if (image.isNull() || image.width() > kMaxSide || image.height() > kMaxSide)
        return 0;
    // The frame as the picture claims it, and one that is a pixel off.
    for (int delta : {0, 1}) {
        const int w = image.width() + delta;
        const int h = image.height();
        // Buffers of exactly the frame's size, so that AddressSanitizer sees any overrun.
        std::vector<unsigned char> grey(size_t(w) * size_t(h));
        std::vector<unsigned char> colour(grey.size() * 4);
        std::vector<unsigned char> mask(grey.size());
        FrameImage::readTemplate(image, w, h, false, grey.data());
        FrameImage::readTemplate(image, w, h, true, colour.data());
        FrameImage::readIgnoreMask(image, w, h, mask.data());
    }
    return 0;
}
