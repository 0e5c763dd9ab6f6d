#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QSlider;
class QTimer;

// A float value on a horizontal slider (position / scale factor) with a value
// label, a show/hide button and a return to the minimum after 30 s unchanged.
class FloatSlider : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kResetMs = 30000;

    explicit FloatSlider(QWidget* parent);

    void setValue(float v);
    void setToMinValue();
    void startTimer();

    QSlider* slider;
    QLabel* label;
    QPushButton* showHideButton;
    QTimer* resetTimer;
    float currentValue = 1.0f;
    float scaleFactor = 1.0f;

signals:
    void updateValue(float value);

private slots:
    void updateLabel(int intValue);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setButtonIcon(const QString& path);
};
