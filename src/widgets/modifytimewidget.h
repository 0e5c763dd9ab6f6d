#pragma once

#include "choosebox.h"

class EditDateTime;

// The date dialog of the settings screen: a date and time editor with
// Confirm and Cancel.
class ModifyTimeWidget : public ChooseBox
{
public:
    explicit ModifyTimeWidget(QWidget* parent);
    ~ModifyTimeWidget() override;

    EditDateTime* editDateTime() const { return m_editor; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    EditDateTime* m_editor;
};
