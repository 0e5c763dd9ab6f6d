#include "panelflow.h"

#include <QtGlobal>

QVector<FlowPlace> flowRows(const QVector<int>& widths, int rowWidth, int gap)
{
    QVector<FlowPlace> places;
    places.reserve(widths.size());
    int x = 0;
    int row = 0;
    for (const int wanted : widths) {
        const int width = qBound(0, wanted, qMax(0, rowWidth));
        if (x > 0 && x + width > rowWidth) {
            ++row;
            x = 0;
        }
        places.push_back({x, row, width});
        x += width + gap;
    }
    return places;
}

int flowRowWidth(const QVector<FlowPlace>& places, int row)
{
    int end = 0;
    for (const FlowPlace& p : places)
        if (p.row == row)
            end = qMax(end, p.x + p.width);
    return end;
}
