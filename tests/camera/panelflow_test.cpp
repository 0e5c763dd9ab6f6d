// Rows of the ROI panel and the move row: order kept, a row never passes its
// width, a too-wide item is narrowed rather than pushed off the view.
#include "panelflow.h"

#include <gtest/gtest.h>

TEST(PanelFlow, ItemsKeepTheirOrderAndNoRowPassesItsWidth)
{
    const QVector<int> widths = {180, 180, 110, 160, 160, 160, 160, 180};
    for (int rowWidth : {1670, 764, 500, 200, 180}) {
        SCOPED_TRACE(rowWidth);
        const QVector<FlowPlace> places = flowRows(widths, rowWidth, 10);
        ASSERT_EQ(places.size(), widths.size());
        for (int i = 0; i < places.size(); ++i) {
            EXPECT_EQ(places[i].width, widths[i]);
            EXPECT_LE(places[i].x + places[i].width, rowWidth);
            if (i > 0) {
                // Later items stand right of the one before on its row, or on a later row at the start.
                const bool sameRow = places[i].row == places[i - 1].row;
                EXPECT_TRUE(sameRow ? places[i].x == places[i - 1].x + places[i - 1].width + 10
                                    : places[i].row == places[i - 1].row + 1 && places[i].x == 0);
            }
        }
        EXPECT_LE(flowRowWidth(places, 0), rowWidth);
    }
    // The whole move row fits one row of a wide view, two rows beside the column at 1024 px.
    EXPECT_EQ(flowRows(widths, 1670, 10).last().row, 0);
    EXPECT_EQ(flowRows(widths, 764, 10).last().row, 1);
    EXPECT_EQ(flowRowWidth(flowRows(widths, 1670, 10), 0), 1360);
}

TEST(PanelFlow, ATooWideItemIsNarrowedToTheRowAndNothingIsLostOnEmptyInput)
{
    const QVector<FlowPlace> places = flowRows({300, 50, 400}, 250, 10);
    ASSERT_EQ(places.size(), 3);
    EXPECT_EQ(places[0].width, 250);
    EXPECT_EQ(places[0].row, 0);
    EXPECT_EQ(places[1].row, 1);  // 250 + 10 + 50 passes the row
    EXPECT_EQ(places[2].width, 250);
    EXPECT_EQ(places[2].row, 2);
    EXPECT_TRUE(flowRows({}, 250, 10).isEmpty());
    EXPECT_EQ(flowRowWidth({}, 0), 0);
    for (const FlowPlace& p : flowRows({40, 40}, 0, 10))
        EXPECT_EQ(p.width, 0);  // no room at all: nothing drawn past it
}
