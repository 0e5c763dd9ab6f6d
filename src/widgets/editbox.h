#pragma once

#include <QWidget>

class ColorButton;
class EditParam;
class QHBoxLayout;
class QLabel;

// A captioned integer value box: -5, -1, the field, +1, +5. The value is kept
// in raw units and shown as an integer (display type 0) or divided by the
// scale (display type 2).
class EditBox : public QWidget
{
    Q_OBJECT
public:
    EditBox(int min, int max, QWidget* parent, const QString& caption, QString unit, int type, int scale);

    int value() const { return m_value; }
    // Stores the value and runs CheckRange().
    void setValue(int value);
    // Shows the raw value in the field by the display type.
    void setValue();
    void setRange(int min, int max);
    void setUse0(bool use0) { m_use0 = use0; }
    void setSampleMode();
    void setText(const QString& caption);

    // A value being typed on the keypad: clamped to the maximum at once, to
    // the minimum only when the entry ends (CheckRange on focus-out), so
    // that every value of the range can be typed digit by digit. A typed
    // value within the range is announced at once.
    void setTypedValue(qint64 value);

    int minimum() const { return m_min; }
    int maximum() const { return m_max; }
    EditParam* field() const { return m_field; }
    ColorButton* addOneButton() const { return m_addOne; }
    ColorButton* subOneButton() const { return m_subOne; }
    ColorButton* addFiveButton() const { return m_addFive; }
    ColorButton* subFiveButton() const { return m_subFive; }
    QLabel* captionLabel() const { return m_captionLabel; }

signals:
    void valueChanged(int value);

public slots:
    void CheckRange();
    void AddOne();
    void SubOne();
    void AddFive();
    void SubFive();

private:
    void step(int delta);
    // A long caption gets a smaller font rather than being cut off.
    void fitCaption();

    EditParam* m_field = nullptr;
    ColorButton* m_addOne = nullptr;
    ColorButton* m_subOne = nullptr;
    ColorButton* m_addFive = nullptr;
    ColorButton* m_subFive = nullptr;
    QLabel* m_captionLabel = nullptr;
    QHBoxLayout* m_layout = nullptr;
    int m_min;
    int m_max;
    int m_value = 0;
    bool m_use0 = false;
    int m_scale;
    int m_type;
    QString m_caption;
};
