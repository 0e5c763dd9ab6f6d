#include "touchscroll.h"

#include <QAbstractScrollArea>
#include <QScroller>
#include <QScrollerProperties>
#include <QVariant>

namespace TouchScroll {

void enable(QAbstractScrollArea* area)
{
    QWidget* viewport = area->viewport();
    QScroller::grabGesture(viewport, QScroller::LeftMouseButtonGesture);
    QScrollerProperties properties = QScroller::scroller(viewport)->scrollerProperties();
    // A page that stops at its ends: a bounce would move the boxes under the finger.
    const QVariant off = QVariant::fromValue(QScrollerProperties::OvershootAlwaysOff);
    properties.setScrollMetric(QScrollerProperties::HorizontalOvershootPolicy, off);
    properties.setScrollMetric(QScrollerProperties::VerticalOvershootPolicy, off);
    QScroller::scroller(viewport)->setScrollerProperties(properties);
}

} // namespace TouchScroll
