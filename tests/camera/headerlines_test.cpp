// The view's header lines: the record browser's title, picture number and
// file name, and the editor's status and template lines, never run into each
// other nor past the view, whatever the view's width.
#include "headerlines.h"

#include <QImage>
#include <QPainter>
#include <QRect>
#include <gtest/gtest.h>

TEST(HeaderLines, TextsNeitherOverlapNorRunPastTheViewAtAnyWidth)
{
    QImage canvas(10, 10, QImage::Format_RGB32);
    QPainter painter(&canvas);
    // Title, "NG images 1 / 20" and a long file name at their preferred x of a full-screen view.
    const int widths[] = {520, 260, 640};
    const int preferred[] = {5, 705, 1205};
    for (int viewWidth : {1920, 1680, 784, 660}) {
        SCOPED_TRACE(viewWidth);
        HeaderLines header(painter, viewWidth, 40, 45);
        QVector<QRect> boxes;
        for (int i = 0; i < 3; ++i) {
            const QPoint at = header.place(widths[i], preferred[i]);
            const QRect box(at.x(), at.y() - 30, widths[i], 40);
            EXPECT_GE(box.left(), 0);
            EXPECT_LE(box.right(), viewWidth);
            for (const QRect& before : boxes)
                EXPECT_FALSE(before.intersects(box)) << i;
            boxes << box;
        }
        if (viewWidth == 1920) {
            EXPECT_EQ(boxes[1].left(), 705);  // on a wide view each text keeps its place
            EXPECT_EQ(boxes[2].top(), boxes[0].top());
        }
    }
    // A forced new line starts at the left and below.
    HeaderLines header(painter, 1920, 40, 40);
    header.place(300, 5);
    header.newLine();
    EXPECT_EQ(header.place(200, 5), QPoint(5, 80));
    EXPECT_EQ(header.baseline(), 80);
}
