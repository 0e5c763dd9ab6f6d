#pragma once

#include <QVector>

// Places items of the given widths left to right in rows no wider than
// `rowWidth`, keeping their order; an item that would pass the row's end starts
// the next row, an item wider than a row is narrowed to it.
struct FlowPlace
{
    int x = 0;  // from the row's start
    int row = 0;
    int width = 0;
};
QVector<FlowPlace> flowRows(const QVector<int>& widths, int rowWidth, int gap);

// Width of a row: from its first item's start to its last item's end.
int flowRowWidth(const QVector<FlowPlace>& places, int row);
