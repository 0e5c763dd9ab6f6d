#pragma once

#include <QApplication>

class QTimer;

// The application object. A touch held still on the screen for a while starts
// the touch-screen calibration program; the main window stops that hold timer
// when the long touch is its own (manualStopTscTimeup).
class MApplication : public QApplication
{
    Q_OBJECT
public:
    static constexpr int kCalibrationHoldMs = 10000;
    static constexpr const char* kCalibrationProgram = "./tsc";

    MApplication(int& argc, char** argv);
    ~MApplication() override;

    static MApplication* instance() { return s_instance; }

    bool notify(QObject* receiver, QEvent* event) override;
    void manualStopTscTimeup();
    bool isCalibrationTimerActive() const;

signals:
    // Any touch or key: the main window restarts its logout and backlight timers.
    void sigUserActivity();

private slots:
    void SlotTscTimeup();

private:
    static MApplication* s_instance;
    QTimer* m_tscTimer = nullptr;
};
