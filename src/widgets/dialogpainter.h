#pragma once

#include <QFont>

class QLabel;
class QPainter;
class QRect;
class QSize;
class QWidget;

// The look shared by the message, question and login dialogs: the background
// picture stretched over the dialog (a plain fill when it is missing), texts in
// "wqy-microhei" and a white frame.
class DialogPainter
{
public:
    static constexpr int kTextPixels = 40;
    // No dialog text is shrunk below this; a longer one wraps (messages) or is clipped.
    static constexpr int kSmallestTextPixels = 24;
    // The shared boxes: 750 x 370 with 220 x 100 buttons of size class 3.
    static constexpr int kBoxW = 750;
    static constexpr int kBoxH = 370;
    static constexpr int kButtonW = 220;
    static constexpr int kButtonH = 100;
    static constexpr int kButtonClass = 3;

    // A w x h rectangle centred on the screen (gShowW x gShowH, integer halves).
    static QRect centred(int w, int h);

    static void drawBackground(QPainter& painter, const QRect& area);
    // White frame of pen width 5 from (0, 0) to (width - 2, height - 2).
    static void drawFrame(QPainter& painter, int width, int height);
    static QFont font(int pixelSize = kTextPixels, const char* family = "wqy-microhei");
    // Widest line of a text in a font.
    static int textWidth(const QFont& font, const QString& text);
    // The font (40 px unless given), smaller when the widest line of the text
    // would not fit the width less a margin (long translations in fixed sizes),
    // never below kSmallestTextPixels.
    static QFont fittedFont(const QString& text, int width, int pixelSize = kTextPixels, int margin = 10);
    // The font for a text in a box: one line at pixelSize, else one line shrunk
    // down to kSmallestTextPixels, else word-wrapped (*wrap true) at the largest
    // size down to kSmallestWrappedPixels at which all lines fit the box.
    static QFont boxFont(const QString& text, const QSize& room, int pixelSize, bool* wrap);
    static constexpr int kSmallestWrappedPixels = 14;
    // The label's own font and word wrap by boxFont for its text and contents.
    static void fitLabel(QLabel* label, int pixelSize);
    // A message drawn word-wrapped in box (a word longer than a line broken where it
    // must): at pixelSize when it fits so, else the largest size down to smallest
    // at which it fits; a text that fits not even so runs beyond the box, never cut.
    static QFont messageFont(const QString& text, const QRect& box, int pixelSize = kTextPixels,
                             int smallest = kSmallestTextPixels);
    static void drawMessage(QPainter& painter, const QRect& box, int alignment, const QString& text,
                            int pixelSize = kTextPixels, int smallest = kSmallestTextPixels);

    // Yellow text (window text of every colour group): captions and titles.
    static void setYellowText(QWidget* widget);
    // The keypads: the painted area in a translucent cream, a dark 1 px outline.
    static void drawKeypad(QPainter& painter, const QRect& area, int width, int height);
};
