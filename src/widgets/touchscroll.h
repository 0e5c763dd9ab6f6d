#pragma once

class QAbstractScrollArea;

// Touch panels have no wheel: a scroll area scrolls when its content is dragged
// with the finger. A tap that does not move still reaches the widget under it.
namespace TouchScroll {
void enable(QAbstractScrollArea* area);
}
