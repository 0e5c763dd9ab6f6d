#pragma once

#include <QVector>

class QWidget;

// One camera unit as the detection cycle drives it. The main window wraps
// each CammerWidget in one; tests put scripted units in their place.
class DetectionUnit
{
public:
    virtual ~DetectionUnit() = default;

    virtual int cameraIndex() const = 0;
    virtual bool isConnected() const = 0;
    // Polls the camera's newest frame (every pass of the cycle).
    virtual bool updateImage() = 0;
    // Checks one detection group on the newest frame; true = OK. The cycle
    // checks its cameras at once, one task per unit on a worker thread, so this
    // touches only the unit's own state (no widget, no database).
    virtual bool runAlgorithm(int detection) = 0;
    // On the GUI thread after the detection's outputs are written: shows the
    // frame the last check of this group looked at and keeps it in the history.
    virtual void showCheck(int detection) { (void)detection; }
    // The outputs (0..3) that the NG ROIs of the last check of a group raise.
    virtual QVector<int> ngOutputs(int detection) const = 0;
    virtual int detectTimeMs() const = 0;

    virtual void saveFailImage(int detection, int slot) = 0;
    virtual void updateFailImage(int detection, int slot) = 0;
    virtual void startAlarmBlink() = 0;

    virtual bool reconnect() = 0;
    virtual void setSpeed() = 0;
    virtual void manualUpdate() = 0;
    virtual int imageWidth() const = 0;
    virtual int imageHeight() const = 0;
    virtual QWidget* view() = 0;
};
