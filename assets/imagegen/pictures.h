#pragma once

#include <QSize>
#include <QString>

#include <vector>

class QPainter;

// One picture of the application folder's "./images/": its file name, the size
// it is drawn at, and the function that paints it on a transparent canvas.
struct Picture {
    QString fileName;
    QSize size;
    void (*draw)(QPainter& painter, const QSize& size);
};

// Every picture the program reads from "./images/".
const std::vector<Picture>& pictures();
