#include "failpicture.h"

#include <algorithm>
#include <cstring>

namespace {

// A mark costs 8 bytes against 1 per grey pixel: past one pixel in 8 the
// whole 32-bit picture is no larger.
constexpr std::size_t kMarkShare = 8;

inline QRgb greyPixel(unsigned char level)
{
    return 0xFF000000u | (0x010101u * level);
}

template <typename T> void release(std::vector<T>& v)
{
    std::vector<T>().swap(v);
}

} // namespace

void FailPicture::store(const QRgb* pixels, int width, int height)
{
    m_width = std::max(0, width);
    m_height = std::max(0, height);
    const std::size_t n = std::size_t(m_width) * std::size_t(m_height);
    const std::size_t maxMarks = n / kMarkShare;
    m_marks.clear();
    m_grey.resize(n);
    std::size_t i = 0;
    for (; i < n; ++i) {
        const QRgb p = pixels[i];
        const unsigned char level = static_cast<unsigned char>(p);
        m_grey[i] = level;
        if (p != greyPixel(level)) {
            if (m_marks.size() == maxMarks)
                break;
            m_marks.push_back({std::uint32_t(i), p});
        }
    }
    if (i == n) {
        release(m_full);
        return;
    }
    release(m_grey);
    release(m_marks);
    m_full.assign(pixels, pixels + n);
}

void FailPicture::restore(QRgb* pixels) const
{
    if (!m_full.empty()) {
        std::memcpy(pixels, m_full.data(), m_full.size() * sizeof(QRgb));
        return;
    }
    const std::size_t n = m_grey.size();
    for (std::size_t i = 0; i < n; ++i)
        pixels[i] = greyPixel(m_grey[i]);
    for (const Mark& mark : m_marks)
        pixels[mark.at] = mark.pixel;
}

void FailPicture::swap(FailPicture& other) noexcept
{
    std::swap(m_width, other.m_width);
    std::swap(m_height, other.m_height);
    m_grey.swap(other.m_grey);
    m_marks.swap(other.m_marks);
    m_full.swap(other.m_full);
}
