#pragma once

#include <QPoint>

class QPainter;
class QString;

// Header texts of a camera view on lines `step` apart: each at its preferred
// x, pulled left to end inside the width, and on a further line where it
// would run into the text before it (long translations, narrow views).
class HeaderLines
{
public:
    HeaderLines(QPainter& painter, int width, int baseline, int step);

    void draw(const QString& text, int preferredX);
    // The following texts start a further line.
    void newLine();
    int baseline() const { return m_baseline; }

    // Where draw() puts a text of that width (the baseline's left end); moves on as draw() does.
    QPoint place(int textWidth, int preferredX);

private:
    static constexpr int kLeft = 5;
    static constexpr int kGap = 30;
    static constexpr int kSmallestPixels = 12;
    QPainter& m_painter;
    int m_width;
    int m_baseline;
    int m_step;
    int m_end = 0;
};
