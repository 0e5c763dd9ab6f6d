#pragma once

class QImage;

// Template and ignore-mask pictures as the camera unit reads them from its
// BMP files: only a picture of the camera's frame size (and, for templates,
// its depth) is taken, row by row into a packed frame buffer.
namespace FrameImage {

// Copies a template of width x height (32-bit for a colour camera, 8-bit for
// a grey one) into buffer; false, leaving buffer alone, when it does not fit.
bool readTemplate(const QImage& image, int width, int height, bool colour, unsigned char* buffer);
// Copies an ignore mask of width x height into mask (palette indices of an
// 8-bit picture, grey levels of any other); false when the size differs.
bool readIgnoreMask(const QImage& image, int width, int height, unsigned char* mask);

} // namespace FrameImage
