#pragma once

#include <QObject>

class QEvent;
class QTimer;

// A touch held on the screen for kHoldMs starts the touch-screen calibration
// program; lifting the finger, a modal page opening above the pressed window
// or stop() ends the hold. Every touch and key is reported as user activity.
class CalibrationHold : public QObject
{
    Q_OBJECT
public:
    static constexpr int kHoldMs = 10000;
    static constexpr const char* kCalibrationProgram = "./tsc";

    explicit CalibrationHold(QObject* parent = nullptr);

    void observe(const QObject* receiver, const QEvent* event);
    void stop();
    bool isActive() const;
    QTimer* timer() const { return m_timer; }

signals:
    void sigUserActivity();

private slots:
    void SlotTimeout();

private:
    QTimer* m_timer;
};
