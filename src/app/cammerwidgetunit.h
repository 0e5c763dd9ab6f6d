#pragma once

#include "detectionunit.h"

class CammerWidget;

// The detection cycle's view of a real camera unit.
class CammerWidgetUnit : public DetectionUnit
{
public:
    explicit CammerWidgetUnit(CammerWidget* widget) : m_widget(widget) {}

    CammerWidget* widget() const { return m_widget; }

    int cameraIndex() const override;
    bool isConnected() const override;
    bool updateImage() override;
    bool runAlgorithm(int detection) override;
    void showCheck(int detection) override;
    QVector<int> ngOutputs(int detection) const override;
    int detectTimeMs() const override;
    void saveFailImage(int detection, int slot) override;
    void updateFailImage(int detection, int slot) override;
    void startAlarmBlink() override;
    bool reconnect() override;
    void setSpeed() override;
    void manualUpdate() override;
    int imageWidth() const override;
    int imageHeight() const override;
    QWidget* view() override;

private:
    void keepHistory(int detection);

    CammerWidget* m_widget;
    // Set by a check that looked at a frame (not a retrain), taken by showCheck.
    bool m_frameChecked = false;
};
