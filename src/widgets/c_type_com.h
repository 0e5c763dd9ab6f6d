#pragma once

#include <QWidget>

class QLineEdit;

// Style-sheet builder of the widget library: focus borders for line edits and
// the gray scroll-area style of the network dialogs.
class C_Type_COM : public QWidget
{
    Q_OBJECT
public:
    enum C_Color { Color0 = 0, Color1 = 1, Color2 = 2, Color3 = 3 };

    explicit C_Type_COM(QWidget* parent = nullptr);

    static QString getSlider();

    static void setTxtQss(QLineEdit* edit, QString normal, QString focus);
    // A value outside the colour table leaves the edit untouched.
    static void setTxtQss(QLineEdit* edit, C_Color color);
};
