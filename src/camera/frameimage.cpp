#include "frameimage.h"

#include <QImage>

#include <cstring>

namespace {

// Bitmap rows are padded to 4 bytes; the buffer is packed.
void copyRows(const QImage& image, unsigned char* dst, int rowBytes)
{
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(dst + static_cast<size_t>(y) * rowBytes, image.constScanLine(y), static_cast<size_t>(rowBytes));
}

} // namespace

namespace FrameImage {

bool readTemplate(const QImage& image, int width, int height, bool colour, unsigned char* buffer)
{
    const int bytesPerPixel = colour ? 4 : 1;
    const bool fits = !image.isNull() && width > 0 && height > 0 && image.width() == width
                      && image.height() == height && image.depth() == 8 * bytesPerPixel;
    if (!fits || !buffer)
        return false;
    copyRows(image, buffer, width * bytesPerPixel);
    return true;
}

bool readIgnoreMask(const QImage& image, int width, int height, unsigned char* mask)
{
    if (image.isNull() || width <= 0 || height <= 0 || image.width() != width || image.height() != height || !mask)
        return false;
    const bool bytes = image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Grayscale8;
    copyRows(bytes ? image : image.convertToFormat(QImage::Format_Grayscale8), mask, width);
    return true;
}

} // namespace FrameImage
