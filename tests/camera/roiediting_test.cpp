#include "cameraunitfixture.h"

#include "cammersingleton.h"
#include "colorbutton.h"
#include "drawroiwidget.h"
#include "globals.h"
#include "modalanswerer.h"
#include "roifunctiontable.h"
#include "slider.h"
#include "wizardpara.h"

#include <QTest>
#include <opencv2/core.hpp>

// ROI editing on the camera unit in the editor (source 0): drawing, moving,
// resizing and deleting with mouse events, checked in the stored rows.
class RoiEditingTest : public CameraUnitTest
{
protected:
    void SetUp() override
    {
        CameraUnitTest::SetUp();
        ASSERT_NE(makeUnit(unitCamera("SERIAL-ROI01")), nullptr);
        ASSERT_TRUE(unit->isOpen);
        gSource = 0;
        window->curDetect = 0;
        store = unit->pSingletonEdit;
    }

    void drawRect(QPoint from, QPoint to)
    {
        window->drawMode = 1;
        press(from);
        moveTo(to);
        release(to);
    }

    // Adds a rectangle ROI directly (display coordinates).
    void addRect(int g, const QRect& r, int function = 0)
    {
        const int n = store->roiCount[g];
        store->rectRoi[g][n].rect = r;
        store->rectRoi[g][n].setShowA(unit->screenSW, unit->screenSH);
        store->rectRoi[g][n].setImageRect();
        store->roiShape[g][n] = CammerSingleton::kShapeRect;
        store->roiFunction[g][n] = function;
        store->roiCount[g] = n + 1;
    }

    void addPolygon(int g, QVector<QPoint> nodes)
    {
        const int n = store->roiCount[g];
        store->polygonRoi[g][n] = RePolygon(nodes.size(), nodes.data());
        store->polygonRoi[g][n].setShowA(unit->screenSW, unit->screenSH);
        store->polygonRoi[g][n].setImageRect();
        store->roiShape[g][n] = CammerSingleton::kShapePolygon;
        store->roiCount[g] = n + 1;
    }

    QString savedRow(int g, int r)
    {
        EXPECT_TRUE(store->SaveDatatoFile());
        return storedRow(QString("ROI%1-%2").arg(g).arg(r));
    }

    CammerSingleton* store = nullptr;
};

TEST_F(RoiEditingTest, DrawnRectangleBecomesAStoredRoi)
{
    live->enableColorSpots = 1;  // the only function besides Defect: the first ROI takes it
    drawRect({100, 100}, {300, 250});
    ASSERT_EQ(store->roiCount[0], 1);
    EXPECT_EQ(unit->curRoi, 0);
    EXPECT_EQ(window->drawMode, 0);
    EXPECT_EQ(store->rectRoi[0][0].imageRect.topLeft(), QPoint(50, 50));
    EXPECT_EQ(savedRow(0, 0), QString("6553601 6553601 6553601 9 1 0 0 100 100 300 250"));
    EXPECT_GT(cv::countNonZero(unit->roiMaskEdit[0][0]), 0);

    // A second rectangle copies the parameters of the one before it.
    store->roiSensitivity[0][0] = 77;
    drawRect({400, 400}, {410, 410});
    ASSERT_EQ(store->roiCount[0], 2);
    EXPECT_EQ(store->roiSensitivity[0][1], 77);
    EXPECT_EQ(store->roiFunction[0][1], 9);
}

TEST_F(RoiEditingTest, TooSmallOrBackwardRectanglesAreDropped)
{
    drawRect({100, 100}, {109, 200});   // right - left = 9
    drawRect({300, 300}, {200, 200});   // dragged towards the top-left
    EXPECT_EQ(store->roiCount[0], 0);
    drawRect({100, 100}, {110, 110});
    EXPECT_EQ(store->roiCount[0], 1);
    EXPECT_EQ(store->roiFunction[0][0], 0);  // nothing else enabled: Defect
}

TEST_F(RoiEditingTest, RectangleToQuadAndCircle)
{
    live->rectToQuad = 1;
    drawRect({100, 100}, {200, 180});
    ASSERT_EQ(store->roiCount[0], 1);
    EXPECT_EQ(store->roiShape[0][0], CammerSingleton::kShapePolygon);
    EXPECT_EQ(store->polygonRoi[0][0].nodes,
              QVector<QPoint>({{100, 100}, {200, 100}, {200, 180}, {100, 180}}));

    window->drawMode = 4;
    press({500, 500});
    moveTo({600, 600});
    release({600, 600});
    ASSERT_EQ(store->roiCount[0], 2);
    EXPECT_EQ(store->roiShape[0][1], CammerSingleton::kShapeCircle);
    EXPECT_EQ(store->circleRoi[0][1].radius, 50);
}

TEST_F(RoiEditingTest, FullGroupWarnsAndKeepsDrawing)
{
    for (int i = 0; i < 100; ++i)
        addRect(0, QRect(10 + i, 10, 20, 20));
    auto* answer = ModalAnswerer::finishDialog(1);
    drawRect({500, 500}, {600, 600});
    EXPECT_TRUE(answer->answered());
    EXPECT_EQ(warnBox->text(), lanText(36));
    EXPECT_EQ(store->roiCount[0], 100);
    EXPECT_EQ(window->drawMode, 1);
}

TEST_F(RoiEditingTest, DragMovesAndHandleResizes)
{
    addRect(0, QRect(QPoint(100, 100), QPoint(300, 250)));
    // Press inside: the ROI is selected and follows the finger.
    press({200, 175});
    EXPECT_EQ(unit->curRoi, 0);
    EXPECT_EQ(unit->drawState, 2);
    moveTo({202, 176});  // inside the 3 image pixel dead zone: ignored
    EXPECT_EQ(store->rectRoi[0][0].rect.topLeft(), QPoint(100, 100));
    moveTo({240, 195});
    release({240, 195});
    EXPECT_EQ(store->rectRoi[0][0].rect, QRect(QPoint(140, 120), QPoint(340, 270)));
    EXPECT_EQ(store->rectRoi[0][0].imageRect.topLeft(), QPoint(70, 60));
    EXPECT_EQ(savedRow(0, 0).section(' ', 6), QString("0 140 120 340 270"));

    // Press on the bottom-right handle of the selected ROI and drag it.
    press({340, 270});
    EXPECT_EQ(unit->drawState, 3);
    moveTo({400, 300});
    release({400, 300});
    EXPECT_EQ(store->rectRoi[0][0].rect, QRect(QPoint(140, 120), QPoint(400, 300)));
    EXPECT_EQ(savedRow(0, 0).section(' ', 6), QString("0 140 120 400 300"));

    // A press outside deselects and remembers the ROI for copying.
    press({1500, 900});
    release({1500, 900});
    EXPECT_EQ(unit->curRoi, -1);
    EXPECT_EQ(unit->prevRoi, 0);
}

TEST_F(RoiEditingTest, DeleteMovesLaterRoisDownAndClearsTheIgnoreMask)
{
    addRect(0, QRect(QPoint(10, 10), QPoint(100, 100)), 1);
    addRect(0, QRect(QPoint(200, 10), QPoint(300, 100)), 4);
    addRect(0, QRect(QPoint(400, 10), QPoint(500, 100)), 5);
    store->roiOutput[0] = 1;
    store->roiOutput[1] = 2;
    store->roiOutput[2] = 3;
    // A box reaching past the frame (an old file) must not run off the mask.
    store->rectRoi[0][0].imageRect = QRect(QPoint(kWidth - 10, kHeight - 10), QPoint(kWidth + 50, kHeight + 50));
    std::memset(unit->pIgnoreMask[0], 255, static_cast<size_t>(unit->imagePixels));

    unit->DeleteROI(0);
    ASSERT_EQ(store->roiCount[0], 2);
    EXPECT_EQ(store->roiFunction[0][0], 4);
    EXPECT_EQ(store->roiFunction[0][1], 5);
    EXPECT_EQ(store->rectRoi[0][0].rect.left(), 200);
    EXPECT_EQ(store->roiOutput[0], 2);
    EXPECT_EQ(store->roiOutput[1], 3);
    EXPECT_EQ(unit->pIgnoreMask[0][(kHeight - 1) * kWidth + kWidth - 1], 0);
    EXPECT_EQ(unit->pIgnoreMask[0][(kHeight - 11) * kWidth + kWidth - 1], 255);
    EXPECT_TRUE(QFile::exists("cammer11/ignorepoint.bmp"));

    // Group 1 leaves the output numbers alone; deleting the last ROI only lowers the count.
    window->curDetect = 1;
    addRect(1, QRect(QPoint(10, 10), QPoint(100, 100)));
    addRect(1, QRect(QPoint(200, 10), QPoint(300, 100)));
    unit->DeleteROI(0);
    EXPECT_EQ(store->roiOutput[0], 2);
    unit->DeleteROI(0);
    EXPECT_EQ(store->roiCount[1], 0);
    unit->DeleteROI(5);
    EXPECT_EQ(store->roiCount[1], 0);
}

TEST_F(RoiEditingTest, MoveAllIsAllOrNothing)
{
    addRect(0, QRect(QPoint(100, 100), QPoint(200, 200)));
    addPolygon(0, {{3, 300}, {100, 300}, {50, 400}});  // on the edge of the left band
    addRect(0, QRect(QPoint(300, 100), QPoint(400, 200)));
    unit->setCurRoi(0);
    unit->moveMode = 2;
    unit->SlotMove(-1, 0);
    EXPECT_EQ(store->rectRoi[0][0].rect.left(), 100);
    EXPECT_EQ(store->rectRoi[0][2].rect.left(), 300);
    unit->SlotMoveR();
    EXPECT_EQ(store->rectRoi[0][0].rect.left(), 101);
    EXPECT_EQ(store->polygonRoi[0][1].nodes[0], QPoint(4, 300));
    EXPECT_EQ(store->rectRoi[0][2].rect.left(), 301);
}

TEST_F(RoiEditingTest, StepButtonsOnACircle)
{
    window->drawMode = 4;
    press({500, 500});
    moveTo({600, 600});
    release({600, 600});
    ASSERT_EQ(unit->curRoi, 0);
    EXPECT_EQ(unit->pBtnAdd10->text(), QString("+10"));
    unit->SlotAdd10();
    EXPECT_EQ(store->circleRoi[0][0].radius, 60);
    unit->SlotChangeObject();  // inner radius
    unit->SlotAdd1();
    EXPECT_EQ(store->circleRoi[0][0].innerRadius, 1);
    unit->SlotChangeObject();  // centre
    EXPECT_EQ(unit->pBtnAdd10->text(), QString("Y -1"));
    const int cy = store->circleRoi[0][0].centerY;
    unit->SlotAdd10();  // Y - 1
    EXPECT_EQ(store->circleRoi[0][0].centerY, cy - 1);
    unit->SlotChangeObject();
    EXPECT_EQ(unit->selNode, 0);
}

TEST_F(RoiEditingTest, PolygonByTapsEndsWithADoubleTap)
{
    live->continuationArea = 1;
    live->enableSpot = 1;
    window->drawMode = 2;
    for (QPoint p : {QPoint(100, 100), QPoint(300, 100), QPoint(200, 300), QPoint(500, 500)}) {
        press(p);
        release(p);
        QTest::qWait(10);
    }
    EXPECT_EQ(unit->polyPointCount, 4);
    press({510, 505});  // second tap of a double tap: the last point is taken back
    release({510, 505});
    ASSERT_EQ(store->roiCount[0], 1);
    EXPECT_EQ(store->polygonRoi[0][0].nodes, QVector<QPoint>({{100, 100}, {300, 100}, {200, 300}}));
    EXPECT_EQ(store->roiFunction[0][0], 1);
    EXPECT_EQ(unit->curRoi, 0);
    EXPECT_FALSE(unit->isPolyDblTap);
}

TEST_F(RoiEditingTest, OutlinesOfTwoPointsAreDroppedAndLongOnesCut)
{
    window->drawMode = 2;
    unit->drawState = 1;
    unit->polyPointCount = 2;
    unit->SavePolygon();
    EXPECT_EQ(store->roiCount[0], 0);
    EXPECT_EQ(unit->polyPointCount, 0);

    unit->drawState = 1;
    window->drawMode = 2;
    unit->polyPointCount = 9000 > CammerWidget::kMaxPolyPoints ? CammerWidget::kMaxPolyPoints : 9000;
    for (int i = 0; i < unit->polyPointCount; ++i)
        unit->polyPoints[i] = QPoint(10 + i % 1000, 10 + i / 1000 * 50);
    unit->SavePolygon();
    ASSERT_EQ(store->roiCount[0], 1);
    EXPECT_EQ(store->polygonRoi[0][0].nodeCount, 8095);
}

TEST_F(RoiEditingTest, CopyAreaWithoutSelectionCopiesTheLastRoi)
{
    addRect(0, QRect(QPoint(100, 100), QPoint(200, 160)), 4);
    addRect(0, QRect(QPoint(300, 100), QPoint(340, 140)), 5);
    store->roiOutput[1] = 3;
    ModalAnswerer::finishDialog(1);
    unit->SlotCopyArea(QPoint(800, 600));
    ASSERT_EQ(store->roiCount[0], 3);
    EXPECT_EQ(store->rectRoi[0][2].rect.center(), QPoint(800, 600));
    EXPECT_EQ(store->roiFunction[0][2], 5);
    EXPECT_EQ(store->roiOutput[2], 3);
    EXPECT_EQ(unit->curRoi, 2);

    ModalAnswerer::finishDialog(0);
    unit->SlotCopyArea(QPoint(900, 600));
    EXPECT_EQ(store->roiCount[0], 3);
}

TEST_F(RoiEditingTest, PanelEditsPackedParametersPartByPart)
{
    addRect(0, QRect(QPoint(100, 300), QPoint(200, 400)), 1);
    store->roiMinWH[0][0] = 20 | (200 << 8);
    unit->setCurRoi(0);
    unit->ShowHideROIPara();
    EXPECT_TRUE(unit->pBtnParaSwitch->isVisibleTo(unit));
    unit->SlotChangeParaShow();
    unit->SlotMinWH(180);
    EXPECT_EQ(store->roiMinWH[0][0], 46100);

    // With nothing selected the sliders do nothing.
    unit->setCurRoi(-1);
    unit->SlotMinWH(1);
    EXPECT_EQ(store->roiMinWH[0][0], 46100);
}

TEST_F(RoiEditingTest, FunctionButtonCyclesEnabledCodes)
{
    live->enableBlackArea = 1;
    addRect(0, QRect(QPoint(100, 300), QPoint(200, 400)), 0);
    unit->setCurRoi(0);
    QList<int> seen;
    for (int i = 0; i < 4; ++i) {
        unit->SlotChangeFunc();
        seen << store->roiFunction[0][0];
    }
    EXPECT_EQ(seen, QList<int>({4, 0, 4, 0}));
    EXPECT_EQ(store->roiSensitivity[0][0], 45);
    store->roiFunction[0][0] = 10;
    unit->SlotChangeFunc();
    EXPECT_EQ(store->roiFunction[0][0], 0);
}

TEST_F(RoiEditingTest, SyncParamAddsWholeDifferencesAndPackedPartsWithinRange)
{
    for (int i = 0; i < 3; ++i)
        addRect(0, QRect(QPoint(100 + 200 * i, 300), QPoint(200 + 200 * i, 400)), 1);
    store->roiSensitivity[0][0] = 10;
    store->roiSensitivity[0][1] = 20;
    store->roiSensitivity[0][2] = 999998;
    store->roiMinWH[0][0] = 250 | (10 << 8);
    store->roiMinWH[0][1] = 250 | (10 << 8);
    store->roiMinWH[0][2] = 100 | (250 << 8);
    addRect(0, QRect(QPoint(100, 600), QPoint(200, 700)), 4);
    store->roiSensitivity[0][3] = 7;
    unit->setCurRoi(0);  // caches the selected ROI's values

    store->roiSensitivity[0][0] += 5;
    store->roiMinWH[0][0] = 255 | (20 << 8);  // byte 0 +5, byte 1 +10
    unit->SlotSyncParam();
    EXPECT_EQ(store->roiSensitivity[0][1], 25);
    EXPECT_EQ(store->roiSensitivity[0][2], 1000003) << "a whole word moves by the plain difference";
    EXPECT_EQ(store->roiMinWH[0][1], 255 | (20 << 8));
    // Byte 0 stops at 255 instead of carrying into byte 1.
    EXPECT_EQ(store->roiMinWH[0][2], 105 | (255 << 8));
    EXPECT_EQ(store->roiSensitivity[0][3], 7);  // another function
    unit->SlotSyncParam();                      // the cache was renewed: nothing more
    EXPECT_EQ(store->roiSensitivity[0][1], 25);
}

TEST_F(RoiEditingTest, DoubleTapNeedsUnder20PixelsAndUnder800Ms)
{
    live->continuationArea = 1;
    window->drawMode = 2;
    unit->SlotCheckDoubleClicked({100, 100});  // the first tap only sets the reference
    EXPECT_FALSE(unit->isPolyDblTap);
    unit->SlotCheckDoubleClicked({120, 100});  // 20 px apart
    EXPECT_FALSE(unit->isPolyDblTap);
    unit->SlotCheckDoubleClicked({139, 119});  // 19 px from the previous tap
    EXPECT_TRUE(unit->isPolyDblTap);

    unit->isPolyDblTap = false;
    QTest::qWait(850);
    unit->SlotCheckDoubleClicked({139, 119});
    EXPECT_FALSE(unit->isPolyDblTap);

    // Outside the editor a double tap does nothing.
    gSource = 1;
    unit->SlotCheckDoubleClicked({139, 119});
    EXPECT_FALSE(unit->isPolyDblTap);
}

TEST_F(RoiEditingTest, PressActsOnTheShapeMarkedSelectedEvenWithAStaleIndex)
{
    addRect(0, QRect(QPoint(100, 100), QPoint(300, 250)));
    addRect(0, QRect(QPoint(600, 100), QPoint(800, 250)));
    store->rectRoi[0][1].SetSelected(true);
    unit->curRoi = 7;  // left over from a larger group the editor has since reloaded
    // The corner of the selected ROI is a handle: a resize, not a new selection.
    press({600, 100});
    EXPECT_EQ(unit->curRoi, 1);
    EXPECT_EQ(unit->drawState, 3);
    EXPECT_EQ(unit->handle, 0);
    moveTo({580, 90});
    release({580, 90});
    EXPECT_EQ(store->rectRoi[0][1].rect, QRect(QPoint(580, 90), QPoint(800, 250)));
}

TEST_F(RoiEditingTest, TooSmallShapeInAFullGroupEndsTheDrawing)
{
    for (int i = 0; i < 100; ++i)
        addRect(0, QRect(10 + i, 10, 20, 20));
    drawRect({500, 500}, {505, 505});  // dropped before the group is counted: no warning
    EXPECT_EQ(store->roiCount[0], 100);
    EXPECT_EQ(window->drawMode, 0);
    EXPECT_EQ(unit->drawState, 0);
}

TEST_F(RoiEditingTest, PanPassesTheDragMovement)
{
    // Nothing under the finger in the editor: the drag pans the zoomed view.
    press({1000, 800});
    moveTo({1030, 790});
    moveTo({1035, 795});
    EXPECT_EQ(window->pans, QList<QPoint>({QPoint(30, -10), QPoint(5, 5)}));

    // The same outside the editor.
    window->pans.clear();
    gSource = 1;
    press({400, 400});
    moveTo({390, 420});
    moveTo({390, 420}, false);  // no button held: no pan
    EXPECT_EQ(window->pans, QList<QPoint>({QPoint(-10, 20)}));
}

TEST_F(RoiEditingTest, HalfSwitchStaysForPackedCodesWhileMoving)
{
    addRect(0, QRect(QPoint(100, 300), QPoint(200, 400)), 1);
    unit->setCurRoi(0);
    unit->SlotMoveAll();  // moveMode 1: the parameter controls go
    EXPECT_EQ(unit->moveMode, 1);
    EXPECT_EQ(unit->pBtnMoveAll->text(), lanText(32));
    EXPECT_TRUE(unit->pSliderSensitivity->isHidden());
    EXPECT_TRUE(unit->pBtnFunc->isHidden());
    EXPECT_FALSE(unit->pBtnParaSwitch->isHidden());

    store->roiFunction[0][0] = 0;
    unit->ShowHideROIPara();
    EXPECT_TRUE(unit->pBtnParaSwitch->isHidden());
}

TEST_F(RoiEditingTest, PressWhileAllCamerasShowOnlyPicksTheCamera)
{
    window->selCamera = numCamera;  // every camera shown
    window->drawMode = 1;
    press({100, 100});
    EXPECT_EQ(window->selCamera, 0);
    EXPECT_EQ(unit->drawState, 0);
    EXPECT_FALSE(unit->isPressed);
    moveTo({300, 300});
    release({300, 300});
    EXPECT_EQ(store->roiCount[0], 0);
}
