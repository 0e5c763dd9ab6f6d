#pragma once

#include <QWidget>

class Histogram;
class QLabel;

// One page of the statistics screen: totals, OK counts and pass rates of the
// morning shift, the night shift and the whole day for one camera and one
// detection (index 8: all cameras / the whole cycle), with the two shift charts.
class CameraStatisticsWidget : public QWidget
{
    Q_OBJECT
public:
    CameraStatisticsWidget(int camera, int detect, QWidget* parent);

    void updateData();
    int camera() const { return cameraIndex; }
    int detect() const { return detectIndex; }

    // "62.5%"; a span without counts reads "0%".
    static QString passRateText(int ok, int ng);

protected:
    void showEvent(QShowEvent* event) override;

private:
    Histogram* morningChart = nullptr;
    Histogram* nightChart = nullptr;
    QLabel* values[9] = {};
    int detectIndex;
    int cameraIndex;
};
