#include "camereatabwidget.h"

#include "camerastatisticswidget.h"
#include "counttypes.h"

CamereaTabWidget::CamereaTabWidget(int camera, QStringList detectNames, QWidget* parent)
    : QTabWidget(parent)
    , cameraIndex(camera)
{
    const int count = std::min(int(detectNames.size()), kMaxPages);
    for (int k = 0; k < count; ++k) {
        // Page 0 is the whole cycle (index 8), page k detection k - 1.
        pages[k] = new CameraStatisticsWidget(camera, (k + kWholeCycleIndex) % kMaxPages, this);
        addTab(pages[k], detectNames.at(k));
    }
}

CameraStatisticsWidget* CamereaTabWidget::page(int index) const
{
    return index >= 0 && index < kMaxPages ? pages[index] : nullptr;
}

void CamereaTabWidget::updateData()
{
    if (auto* current = qobject_cast<CameraStatisticsWidget*>(currentWidget()))
        current->updateData();
}
