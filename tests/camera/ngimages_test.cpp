#include "cameraunitfixture.h"

#include "cammersingleton.h"
#include "cammerwidget.h"
#include "globals.h"

#include <QElapsedTimer>
#include <QCoreApplication>
#include <QImage>
#include <QResizeEvent>
#include <QTest>
#include <QTimer>
#include <thread>

// NG images into the shared table, the camera view's tints.
class NgImageTest : public CameraUnitTest
{
protected:
    void SetUp() override
    {
        CameraUnitTest::SetUp();
        ASSERT_NE(makeUnit(unitCamera("SERIAL-NG001")), nullptr);
        ASSERT_TRUE(unit->isOpen);
        CammerSingleton& s = *unit->pSingleton;
        for (int r = 0; r < 6; ++r) {
            s.rectRoi[0][r].rect = QRect(QPoint(100 + 250 * r, 200), QPoint(300 + 250 * r, 400));
            s.rectRoi[0][r].setShowA(unit->screenSW, unit->screenSH);
            s.rectRoi[0][r].setImageRect();
            s.roiShape[0][r] = CammerSingleton::kShapeRect;
            unit->roiResult[0][r] = true;
        }
        s.roiCount[0] = 6;
        std::memset(unit->pCheckBuf, 90, static_cast<size_t>(unit->frameBytes));
        std::memset(unit->pShowBuf, 90, static_cast<size_t>(unit->frameBytes));
        unit->roiResult[0][2] = false;
        unit->roiResult[0][4] = false;
        NgBoxList& boxes = unit->ngBoxes[0][2];
        boxes.entry[0][0] = 1;
        const int box[4] = {320, 120, 340, 150};  // inside ROI 3's image box, right/bottom exclusive
        std::copy(box, box + 4, boxes.entry[1]);
        unit->camOK = false;
    }

    static std::vector<QRgb> stored(int slot)
    {
        std::vector<QRgb> pixels(size_t(kWidth) * kHeight);
        gpFailImage[0][0][slot]->restore(pixels.data());
        return pixels;
    }
    QRgb storedPixel(int slot, int x, int y) const { return stored(slot)[size_t(y) * kWidth + x]; }
};

TEST_F(NgImageTest, FirstNgRoiNumberAndMarksGoIntoTheTable)
{
    unit->SaveFailImage(0, 0);
    EXPECT_EQ(gFailIndex[0][0], 3);
    // The NG box outline is red; the grey frame elsewhere stays grey in a 32-bit picture.
    EXPECT_EQ(storedPixel(0, 330, 120) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(storedPixel(0, 320, 135) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(storedPixel(0, 900, 500) & 0xFFFFFF, 0x5A5A5Au);

    unit->roiResult[0][2] = true;  // a later NG image before the writer reset it
    unit->SaveFailImage(0, 0);
    EXPECT_EQ(gFailIndex[0][0], 3);
}

// The NG picture is drawn apart: its red box and texts never reach the view,
// whose frame was converted before the picture was made.
TEST_F(NgImageTest, NgPictureLeavesTheViewAlone)
{
    gSource = -1;
    unit->resize(kWidth, kHeight);
    window->selCamera = unit->camIndex;
    window->zoomX = 1;  // a moved view is drawn from the view's 32-bit pixels
    EXPECT_EQ(unit->grab().toImage().pixel(330, 120) & 0xFFFFFF, 0x5A5A5Au);
    unit->SaveFailImage(0, 0);
    EXPECT_EQ(storedPixel(0, 330, 120) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(unit->grab().toImage().pixel(330, 120) & 0xFFFFFF, 0x5A5A5Au);
}

TEST_F(NgImageTest, TableIsWrittenUnderItsMutex)
{
    std::atomic<bool> locked{false};
    std::thread writer([this, &locked] {
        failMutex.lock();
        locked = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        gpFailImage[0][0][0]->store(std::vector<QRgb>(size_t(kWidth) * kHeight, 0).data(), kWidth, kHeight);
        failMutex.unlock();
    });
    while (!locked)
        std::this_thread::yield();
    QElapsedTimer clock;
    clock.start();
    unit->SaveFailImage(0, 0);
    const qint64 waited = clock.elapsed();
    writer.join();
    EXPECT_GE(waited, 250);
    // Written after the writer let go: its zeros were overwritten.
    EXPECT_NE(storedPixel(0, 0, 0), 0u);
}

TEST_F(NgImageTest, AlarmClearStampMovesTheState)
{
    unit->SaveFailImage(0, 0);
    const std::vector<QRgb> before = stored(0);
    window->alarmClearState[0][0] = 0;
    unit->UpdateFailImage(0, 0);
    EXPECT_EQ(stored(0), before);
    window->alarmClearState[0][0] = 7;
    unit->UpdateFailImage(0, 0);
    EXPECT_EQ(window->alarmClearState[0][0], 8);
    EXPECT_NE(stored(0), before);
    unit->UpdateFailImage(0, 0);
    EXPECT_EQ(window->alarmClearState[0][0], 10);
}

TEST_F(NgImageTest, ViewTintsNgPixelsWhileTheResultShows)
{
    QTimer result;
    result.setSingleShot(true);
    window->resultTimer = &result;
    gSource = -1;
    window->pageState = 2;
    // ROI 3 (image box from x 275) has defect pixels; ROI 1 is OK and its pixels stay.
    unit->pSensMask[150 * kWidth + 300] = 255;
    unit->pSensMask[150 * kWidth + 60] = 255;
    // An old box reaching past the frame is clipped, not run off the buffer.
    unit->pSingleton->rectRoi[0][4].imageRect = QRect(QPoint(kWidth - 20, kHeight - 20), QPoint(kWidth + 40, kHeight + 40));
    unit->pSensMask[(kHeight - 1) * kWidth + kWidth - 1] = 255;
    unit->resize(kWidth, kHeight);  // one view pixel per image pixel
    result.start(2000);
    const QImage shown = unit->grab().toImage();
    EXPECT_EQ(shown.pixel(300, 150) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(shown.pixel(60, 150) & 0xFFFFFF, 0x5A5A5Au);
    EXPECT_EQ(shown.pixel(kWidth - 1, kHeight - 1) & 0xFFFFFF, 0xFF0000u);
    if (!qEnvironmentVariableIsEmpty("MM_SAVE_VIEW"))
        shown.save(qEnvironmentVariable("MM_SAVE_VIEW"));

    result.stop();
    const QImage plain = unit->grab().toImage();
    EXPECT_EQ(plain.pixel(300, 150) & 0xFFFFFF, 0x5A5A5Au);
}

TEST_F(NgImageTest, EditorViewDrawsRoisOfTheEditedStore)
{
    CammerSingleton& s = *unit->pSingletonEdit;
    s = *unit->pSingleton;
    s.circleRoi[0][1].rect = QRect(600, 500, 300, 300);
    s.circleRoi[0][1].innerRadius = 60;
    s.circleRoi[0][1].UpdateAll();
    s.circleRoi[0][1].setShowA(unit->screenSW, unit->screenSH);
    s.circleRoi[0][1].setImageRect();
    s.roiShape[0][1] = CammerSingleton::kShapeCircle;
    QPoint nodes[5] = {{1000, 600}, {1300, 560}, {1400, 800}, {1150, 900}, {1020, 780}};
    s.polygonRoi[0][3] = RePolygon(5, nodes);
    s.polygonRoi[0][3].setShowA(unit->screenSW, unit->screenSH);
    s.polygonRoi[0][3].setImageRect();
    s.roiShape[0][3] = CammerSingleton::kShapePolygon;
    s.roiFunction[0][5] = 2;
    for (int y = 118; y <= 122; ++y)
        std::memset(unit->pIgnoreMask[0] + y * kWidth + 60, 255, 40);
    gSource = -1;
    QTest::qWait(2);
    unit->UpdateImage();  // a live checker frame from the plug-in
    gSource = 0;
    window->pageState = 0;
    const QImage shown = unit->grab().toImage();
    ASSERT_EQ(shown.size(), QSize(gShowW, gShowH));
    // The rectangle of ROI 1 is outlined in dark blue; the ignore points are cyan.
    EXPECT_EQ(shown.pixel(100, 300) & 0xFFFFFF, QColor(Qt::darkBlue).rgb() & 0xFFFFFF);
    EXPECT_EQ(shown.pixel(2 * 80, 2 * 120) & 0xFFFFFF, 0x00FFFFu);
    // The scaled frame is opaque: the checker's dark and light greys, not the widget background.
    const QColor dark = shown.pixelColor(2 * 20, 2 * 30);
    const QColor light = shown.pixelColor(2 * 80, 2 * 30);
    EXPECT_EQ(dark.red(), 40);
    EXPECT_EQ(light.red(), 220);
    if (!qEnvironmentVariableIsEmpty("MM_SAVE_VIEW"))
        shown.save(qEnvironmentVariable("MM_SAVE_VIEW"));
}

TEST_F(NgImageTest, AreaRoisShowTheirAreaAloneOnTheNgImage)
{
    CammerSingleton& s = *unit->pSingleton;
    unit->roiValue[0][1] = 12;
    s.roiArea[0][1] = 300;
    s.roiMinWH[0][1] = 7;
    s.roiSensitivity[0][1] = 40;
    using Place = CammerWidget::LabelPlace;
    for (int function : {4, 5}) {
        s.roiFunction[0][1] = function;
        EXPECT_EQ(unit->roiLabel(0, 1, 6, Place::NgImage), "2: 300 / 12 ");
        EXPECT_EQ(unit->roiLabel(0, 1, 6, Place::View), "2: 300--7 / 12 ");
    }
    s.roiFunction[0][1] = 1;
    EXPECT_EQ(unit->roiLabel(0, 1, 6, Place::NgImage), "2: 40--300 / 12 ");
    EXPECT_EQ(unit->roiLabel(0, 1, 37, Place::NgImage), "2: 12");
}

// The editor's size marks sit on the ROI as the view shows it: display
// coordinates (image x screen scale) mapped to the view like the outlines.
TEST_F(NgImageTest, EditorSizeMarksFollowTheShownRoi)
{
    CammerSingleton& s = *unit->pSingletonEdit;
    s = *unit->pSingleton;
    s.roiCount[0] = 1;
    live->filterSize = 20;
    live->area = 0;
    live->showAllParams = 0;
    gSource = 0;
    window->pageState = 0;
    const QSize full = unit->size();
    unit->resize(gShowW / 2, gShowH / 2);
    QResizeEvent resized(unit->size(), full);  // a hidden view gets it only when shown
    QCoreApplication::sendEvent(unit, &resized);
    ASSERT_FLOAT_EQ(unit->winSW, 0.5f);
    const QImage shown = unit->grab().toImage();
    // ROI 1's image box is (50, 100)-(150, 200): the filter mark is centred a
    // quarter box width left of its centre, at image (75, 150).
    const QPointF mark(75 * unit->screenSW, 150 * unit->screenSH);
    EXPECT_EQ(shown.pixel((mark * 0.5).toPoint()) & 0xFFFFFF, 0x0000FFu);
    EXPECT_NE(shown.pixel(mark.toPoint()) & 0xFFFFFF, 0x0000FFu) << "not left at full-screen place";
}
