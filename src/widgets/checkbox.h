#pragma once

#include <QCheckBox>

// Styled check box with an integer value.
class CheckBox : public QCheckBox
{
public:
    CheckBox(QWidget* parent, const QString& text);

    int value() const;
    void setValue(int value);
};
