#pragma once

#include <QPushButton>

// The program's push button: dark grey, white text, orange while pressed or
// checked. The size class picks the font size (3 dialog buttons, 4 panel buttons).
class ColorButton : public QPushButton
{
    Q_OBJECT
public:
    ColorButton(const QString& text, QWidget* parent, int size);
    ~ColorButton() override;

    // Auto-repeat while held: first repeat after 300 ms, then every 50 ms.
    void SetRepeat();

    // Lowers the font size, when needed, until the text fits the button's
    // width (long translations on fixed-size buttons).
    void fitText();
    // fitText() on every ColorButton below a widget.
    static void fitTexts(QWidget* parent);

    int sizeClass() const { return m_size; }
    // Font size in pixels of a size class in a language.
    static int fontPixelSize(int size, int language);
    static QString styleFor(int fontPixels);

private:
    int m_size;
};
