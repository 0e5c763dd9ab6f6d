#pragma once

#include <QColor>

// The flat dark look shared by all pictures.
namespace Palette {
inline const QColor kBackgroundTop{0x2b, 0x31, 0x3a};
inline const QColor kBackgroundBottom{0x14, 0x17, 0x1c};
inline const QColor kPanel{0x37, 0x47, 0x4f};
inline const QColor kPanelDark{0x26, 0x32, 0x38};
inline const QColor kFrame{0x78, 0x90, 0x9c};
inline const QColor kAccent{0x34, 0x98, 0xdb};     // the progress bar's blue
inline const QColor kSlider{0x5a, 0x31, 0xff};     // the style sheets' slider colour
inline const QColor kOk{0x27, 0xae, 0x60};
inline const QColor kNg{0xe7, 0x4c, 0x3c};
inline const QColor kLight{0xec, 0xef, 0xf1};
inline const QColor kWifi{0x81, 0xd4, 0xfa};       // the card rows' lightblue
inline const QColor kPencil{0xf1, 0xc2, 0x32};     // the buttons' pressed colour
} // namespace Palette
