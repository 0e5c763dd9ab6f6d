#pragma once

#include "choosebox.h"

class ComboBox;

// A question box with a point-count choice (4, 9 or 25).
class ChooseCaliNumWidget : public ChooseBox
{
public:
    explicit ChooseCaliNumWidget(QWidget* parent);
    ~ChooseCaliNumWidget() override;

    ComboBox* comboBox() const { return m_combo; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ComboBox* m_combo;
};
