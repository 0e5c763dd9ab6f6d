#pragma once

#include <QApplication>

class CalibrationHold;

// The application object. A touch held still on the screen starts the
// touch-screen calibration program; the main window stops that hold timer
// when the long touch is its own (manualStopTscTimeup).
class MApplication : public QApplication
{
    Q_OBJECT
public:
    MApplication(int& argc, char** argv);
    ~MApplication() override;

    static MApplication* instance() { return s_instance; }

    bool notify(QObject* receiver, QEvent* event) override;
    void manualStopTscTimeup();
    CalibrationHold* calibrationHold() const { return m_hold; }

signals:
    // Any touch or key: the main window restarts its logout and backlight timers.
    void sigUserActivity();

private:
    static MApplication* s_instance;
    CalibrationHold* m_hold;
};
