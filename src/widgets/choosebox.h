#pragma once

#include <QDialog>

class ColorButton;

// The shared yes/no question box: exec() gives 1 for YES, 0 for NO.
class ChooseBox : public QDialog
{
public:
    ChooseBox(QWidget* parent, int width, int height);
    ~ChooseBox() override;

    void setText(const QString& text);
    // YES and NO in the language in force (the box may be made before it is loaded).
    void retranslate();
    QString text() const { return m_text; }

    ColorButton* yesButton() const { return m_yes; }
    ColorButton* noButton() const { return m_no; }

protected:
    void paintEvent(QPaintEvent* event) override;

    QString m_text;
    ColorButton* m_yes;
    ColorButton* m_no;
};
