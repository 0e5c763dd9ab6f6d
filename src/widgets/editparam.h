#pragma once

#include "edit.h"

class QLabel;
class EditBox;

// The field of a value box: keys change the box's value, not the text, and a
// unit label follows the text.
class EditParam : public Edit
{
    Q_OBJECT
public:
    static constexpr int kUnitFontPixels = 27;

    EditParam(int type, QString unit, EditBox* box);

    void addValue(QString key, bool replace) override;
    void deleteValue(bool& empty) override;

    QLabel* unitLabel() const { return m_unitLabel; }
    int unitLabelX() const { return m_unitLabelX; }

public slots:
    void ChangeLabelP(QString text);

private:
    EditBox* m_box;
    QLabel* m_unitLabel = nullptr;
    int m_unitLabelX = 0;
};
