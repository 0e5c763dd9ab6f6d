#include "camereatabwidget.h"

#include "camerastatisticswidget.h"
#include "counttypes.h"

#include <QScrollArea>
#include <QScroller>

CamereaTabWidget::CamereaTabWidget(int camera, QStringList detectNames, QWidget* parent)
    : QTabWidget(parent)
    , cameraIndex(camera)
{
    const int count = std::min(int(detectNames.size()), kMaxPages);
    for (int k = 0; k < count; ++k) {
        // Page 0 is the whole cycle (index 8), page k detection k - 1.
        pages[k] = new CameraStatisticsWidget(camera, (k + kWholeCycleIndex) % kMaxPages, this);
        // A small panel shows part of a page at a time: it scrolls, by dragging as by its bars.
        auto* area = new QScrollArea(this);
        area->setFrameShape(QFrame::NoFrame);
        area->setWidgetResizable(true);
        area->setWidget(pages[k]);
        QScroller::grabGesture(area->viewport(), QScroller::LeftMouseButtonGesture);
        addTab(area, detectNames.at(k));
    }
}

CameraStatisticsWidget* CamereaTabWidget::page(int index) const
{
    return index >= 0 && index < kMaxPages ? pages[index] : nullptr;
}

void CamereaTabWidget::updateData()
{
    if (auto* area = qobject_cast<QScrollArea*>(currentWidget()))
        if (auto* current = qobject_cast<CameraStatisticsWidget*>(area->widget()))
            current->updateData();
}
