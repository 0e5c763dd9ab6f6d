#pragma once

#include <QStringList>
#include <QTabWidget>

class CameraStatisticsWidget;

// The pages of one camera tab: the whole cycle first, then one per detection.
class CamereaTabWidget : public QTabWidget
{
    Q_OBJECT
public:
    static constexpr int kMaxPages = 9;

    CamereaTabWidget(int camera, QStringList detectNames, QWidget* parent = nullptr);

    void updateData();
    CameraStatisticsWidget* page(int index) const;

private:
    int cameraIndex;
    CameraStatisticsWidget* pages[kMaxPages] = {};
};
