#pragma once

#include <QString>
#include <QStringList>

class QImage;

// Review aids for the pictures: a sheet with every picture on a dark and a
// light ground, the slider parts assembled at their real size, and a line
// of Chinese and Japanese text in the user interface font.
namespace ContactSheet {

// Lays out the pictures found in imagesDir and lists those that do not load;
// returns a null image when none loads.
QImage render(const QString& imagesDir, QStringList* missing);

// True when Chinese and Japanese sample texts are drawn with real glyphs of
// the user interface font (the program asks for "wqy-microhei"); report says what was found.
bool checkCjkFont(QString* report);

} // namespace ContactSheet
