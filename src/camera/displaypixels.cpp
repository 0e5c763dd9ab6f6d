#include "displaypixels.h"

#include <sys/mman.h>

namespace {

struct Mapping
{
    void* address;
    size_t bytes;
};

void unmap(void* info)
{
    auto* mapping = static_cast<Mapping*>(info);
    munmap(mapping->address, mapping->bytes);
    delete mapping;
}

} // namespace

QImage& DisplayPixels::image(int width, int height)
{
    if (!m_image.isNull() && m_image.width() == width && m_image.height() == height)
        return m_image;
    m_image = QImage();
    if (width <= 0 || height <= 0)
        return m_image;
    const size_t bytes = size_t(width) * size_t(height) * 4u;
    void* address = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (address == MAP_FAILED)
        return m_image;
    m_image = QImage(static_cast<uchar*>(address), width, height, 4 * width, QImage::Format_RGB32, unmap,
                     new Mapping{address, bytes});
    return m_image;
}
