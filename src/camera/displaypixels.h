#pragma once

#include <QImage>

// A view's frame as opaque 32-bit pixels, held only while a paint needs them
// (tints, zoom, colour). Its pages are mapped on their own, so that release()
// gives them back to the system instead of leaving them in the heap.
class DisplayPixels
{
public:
    // The pixels at width x height, mapped on first use; a null image when
    // the pages cannot be had.
    QImage& image(int width, int height);
    // Unmaps the pixels (once nothing else refers to them).
    void release() { m_image = QImage(); }
    bool held() const { return !m_image.isNull(); }

private:
    QImage m_image;
};
