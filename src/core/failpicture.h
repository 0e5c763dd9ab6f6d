#pragma once

#include <QRgb>

#include <cstddef>
#include <cstdint>
#include <vector>

// An NG or OK picture held between the detection cycle and the picture writer.
// A grey camera's picture is its grey frame with a few coloured marks: it is
// kept as one byte per pixel plus the pixels that are not grey, a quarter of
// its 32-bit size; a picture with many coloured pixels (a colour camera) is
// kept as it is. restore() gives back exactly the pixels stored.
class FailPicture
{
public:
    // Takes width x height opaque-or-not RGB32 pixels; reuses the buffers of
    // the picture held before.
    void store(const QRgb* pixels, int width, int height);
    // Writes the stored pixels (width() x height() of them) into pixels.
    void restore(QRgb* pixels) const;

    int width() const { return m_width; }
    int height() const { return m_height; }
    bool isEmpty() const { return m_width <= 0 || m_height <= 0; }
    // The memory the stored pixels take.
    std::size_t byteSize() const
    {
        return m_grey.capacity() + m_marks.capacity() * sizeof(Mark) + m_full.capacity() * sizeof(QRgb);
    }
    void swap(FailPicture& other) noexcept;

private:
    struct Mark
    {
        std::uint32_t at;
        QRgb pixel;
    };
    int m_width = 0;
    int m_height = 0;
    std::vector<unsigned char> m_grey;  // grey level per pixel, or empty
    std::vector<Mark> m_marks;          // the pixels the grey levels do not give
    std::vector<QRgb> m_full;           // all pixels, when not kept grey
};
