// The ROI editor worked by touch on a real camera unit: draw, tune, learn,
// save and return, then the unit's own checks use what was drawn.
#include "settingsfixture.h"

#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "colorbutton.h"
#include "combobox.h"
#include "drawroiwidget.h"
#include "globals.h"
#include "modalanswerer.h"
#include "paramdatabase.h"
#include "roishapevisit.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSqlDatabase>
#include <QTest>

#include <cstring>

class RoiEditorTest : public SettingsTest
{
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        live->motionCorrect = -1;  // no positioning: the checked frame is the captured one
        live->filterSize = 3;
        live->area = 100;
        live->enableIgnoreArea = 1;
        ASSERT_NE(makeUnit(unitCamera("SERIAL-ROI01")), nullptr);
        ASSERT_TRUE(unit->isOpen);
        window->curDetect = 0;
    }

    void drag(QPoint from, QPoint to)
    {
        press(from);
        moveTo(to);
        release(to);
    }

    void tap(QPoint p)
    {
        press(p);
        release(p);
        QTest::qWait(5);
    }

    // The unit's check of group 0 on the template with a bright block at an image rectangle.
    bool checkWithPartAt(const QRect& imageBox)
    {
        std::memcpy(unit->pCaptureBuf, unit->pTemplate[0][0], size_t(unit->frameBytes));
        for (int y = imageBox.top(); y <= imageBox.bottom(); ++y)
            std::memset(unit->pCaptureBuf + y * unit->imageW + imageBox.left(), 200, size_t(imageBox.width()));
        unit->pRecong->HomoTransShape(0);
        unit->pRecong->ShapeMatch(0);
        unit->pRecong->Run(0);
        return unit->camOK;
    }
};

TEST_F(RoiEditorTest, DrawnAreasAreLearntSavedAndCheckedAfterReturn)
{
    // An old area that the operator removes.
    CammerSingleton& active = *unit->pSingleton;
    active.rectRoi[0][0].rect = QRect(QPoint(1400, 700), QPoint(1600, 900));
    active.rectRoi[0][0].setShowA(unit->screenSW, unit->screenSH);
    active.rectRoi[0][0].setImageRect();
    active.roiShape[0][0] = CammerSingleton::kShapeRect;
    active.roiCount[0] = 1;
    ASSERT_TRUE(active.SaveDatatoFile());
    unit->UpdateImage();

    editor->Restart();
    EXPECT_EQ(gSource, 0);
    EXPECT_EQ(unit->pSingletonEdit->roiCount[0], 1);
    tap({1500, 800});
    ASSERT_EQ(unit->curRoi, 0);
    touch(editor->button("delete"));
    EXPECT_EQ(unit->pSingletonEdit->roiCount[0], 0);

    touch(editor->button("drawRect"));
    EXPECT_EQ(window->drawMode, 1);
    drag({200, 200}, {600, 400});
    ASSERT_EQ(unit->pSingletonEdit->roiCount[0], 1);
    unit->SlotSensitivity(30);
    EXPECT_EQ(unit->pSingletonEdit->roiSensitivity[0][0], 30);

    touch(editor->button("drawPolygon"));
    for (QPoint p : {QPoint(1000, 200), QPoint(1300, 200), QPoint(1300, 500), QPoint(1000, 500)})
        tap(p);
    touch(editor->button("drawPolygon"));  // the lit tool again: the outline is finished, the tool put down
    EXPECT_EQ(window->drawMode, 0);
    EXPECT_FALSE(editor->button("drawPolygon")->isChecked());
    ASSERT_EQ(unit->pSingletonEdit->roiCount[0], 2);
    EXPECT_EQ(unit->pSingletonEdit->roiShape[0][1], CammerSingleton::kShapePolygon);
    tap({1150, 350});
    ASSERT_EQ(unit->curRoi, 1);
    unit->pBtnFunc->click();  // the next enabled function: the polygon becomes an ignore area
    EXPECT_EQ(unit->pSingletonEdit->roiFunction[0][1], CammerRecong::kIgnoreArea);
    EXPECT_EQ(active.roiCount[0], 1);  // nothing is in force before the save

    QList<bool> pauses;
    DrawROIWidget::setDetectionPause([&pauses](bool paused) { pauses << paused; });
    answer({1});
    touch(editor->button("resample"));
    DrawROIWidget::setDetectionPause({});
    EXPECT_EQ(seen, QStringList({lanText(865)}));
    EXPECT_EQ(pauses, QList<bool>({true, false}));  // no check runs on half-learnt models
    EXPECT_TRUE(QFile::exists("cammer11/template0.bmp"));

    EXPECT_EQ(window->templateSyncs, (QList<QPair<int, int>>{{unit->camIndex, 0}}));

    window->records.clear();
    answer({1});
    touch(editor->button("save"));
    // One "set" record that lists each changed row of the save: the group's count and both areas.
    ASSERT_EQ(window->records.size(), 1);
    EXPECT_EQ(window->records.first().type, QString("set"));
    const QString saved = window->records.first().text;
    const QString camera = lanText(586).arg(unit->camIndex + 1);
    EXPECT_TRUE(saved.startsWith(lanText(855) + ": ")) << saved.toStdString();
    const QStringList items = saved.mid(lanText(855).size() + 2).split("; ");
    ASSERT_EQ(items.size(), 3) << saved.toStdString();
    EXPECT_TRUE(items[0].startsWith(camera + " ROI0-0: ")) << items[0].toStdString();
    EXPECT_TRUE(items[0].endsWith("200 200 600 400")) << items[0].toStdString();
    EXPECT_TRUE(items[1].startsWith(camera + " ROI0-1: - -> ")) << items[1].toStdString();
    EXPECT_TRUE(items[2].startsWith(camera + " detect0: 1 ")) << items[2].toStdString();
    EXPECT_EQ(active.roiCount[0], 2);
    EXPECT_EQ(active.roiSensitivity[0][0], 30);
    EXPECT_TRUE(storedRow("ROI0-0").endsWith("200 200 600 400")) << storedRow("ROI0-0").toStdString();
    EXPECT_EQ(storedRow("ROI0-0").split(' ').at(1), QString("30"));  // minimum size, then sensitivity
    EXPECT_EQ(storedRow("ROI0-1").split(' ').at(3), QString("2"));   // then area, then function

    QFile::remove(appDir.filePath("calls.log"));
    touch(editor->button("return"));
    EXPECT_EQ(gSource, -1);
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(callsOf("SERIAL-ROI01").filter("setParam").size(), 1);

    // A part inside the new area is NG; where the old area was, nothing is checked any more.
    EXPECT_FALSE(checkWithPartAt(QRect(120, 120, 40, 40)));
    EXPECT_FALSE(unit->roiResult[0][0]);
    EXPECT_TRUE(checkWithPartAt(QRect(720, 370, 60, 60)));
}

TEST_F(RoiEditorTest, RefusedSaveAndResetKeepTheAreasInForce)
{
    editor->Restart();
    touch(editor->button("drawRect"));
    drag({200, 200}, {600, 400});
    ASSERT_EQ(unit->pSingletonEdit->roiCount[0], 1);
    const QString stored = storedRow("ROI0-0");

    answer({0});
    touch(editor->button("save"));
    EXPECT_EQ(unit->pSingleton->roiCount[0], 0);
    EXPECT_EQ(storedRow("ROI0-0"), stored);

    touch(editor->button("reset"));
    EXPECT_EQ(unit->pSingletonEdit->roiCount[0], 0);
    EXPECT_EQ(window->drawMode, 0);

    // A save the database refuses is reported.
    QSqlDatabase::database(ParamDatabase::kConnectionName, false).close();
    seen.clear();
    answer({1, 1});
    touch(editor->button("save"));
    EXPECT_EQ(seen, QStringList({lanText(856), lanText(867)}));
}

// The picture source changes while areas are drawn and not saved: rows and masks stay together,
// and a save never stores an area without the mask of its shape.
TEST_F(RoiEditorTest, SourceChangesKeepUnsavedAreasWholeAndSavedAreasChecked)
{
    editor->Restart();
    touch(editor->button("drawRect"));
    drag({200, 200}, {600, 400});
    touch(editor->button("drawCircle"));
    drag({1100, 200}, {1400, 500});
    ASSERT_EQ(unit->pSingletonEdit->roiCount[0], 2);
    auto editMaskFits = [this](int r) {
        const QRect box = roiImageRect(*unit->pSingletonEdit, 0, r);
        const cv::Mat& mask = unit->roiMaskEdit[0][r];
        return !mask.empty() && mask.cols == box.width() && mask.rows == box.height() && cv::countNonZero(mask) > 0;
    };
    for (int source : {DrawROIWidget::SourceTemplate, DrawROIWidget::SourceLive, DrawROIWidget::SourceTemplate}) {
        emit editor->sourceChoice()->activated(source);
        EXPECT_EQ(gSource, source);
        EXPECT_EQ(unit->pSingletonEdit->roiCount[0], 2);
        EXPECT_TRUE(editMaskFits(0)) << "source " << source;
        EXPECT_TRUE(editMaskFits(1)) << "source " << source;
    }

    // An edit mask lost or left from another shape is rebuilt from the shape the editor shows.
    unit->roiMaskEdit[0][0] = cv::Mat();
    unit->roiMaskEdit[0][1] = cv::Mat(3, 3, CV_8UC1, cv::Scalar(255));
    answer({1});
    touch(editor->button("resample"));
    answer({1});
    touch(editor->button("save"));
    EXPECT_EQ(unit->pSingleton->roiCount[0], 2);
    EXPECT_TRUE(editMaskFits(0));
    EXPECT_TRUE(editMaskFits(1));
    touch(editor->button("return"));

    // Each saved area finds a part inside it, and the frame without one is OK.
    EXPECT_TRUE(checkWithPartAt(QRect(10, 10, 20, 20)));
    EXPECT_FALSE(checkWithPartAt(QRect(120, 120, 40, 40)));
    EXPECT_TRUE(unit->roiResult[0][1]);
    EXPECT_FALSE(checkWithPartAt(roiImageRect(*unit->pSingleton, 0, 1).adjusted(20, 20, -20, -20)));
    EXPECT_TRUE(unit->roiResult[0][0]);
}

TEST_F(RoiEditorTest, DetectionChoiceFollowsTheDetectionCountOnReset)
{
    editor->Restart();
    EXPECT_EQ(editor->detectChoice()->count(), 2);
    gDNum = 4;
    window->curDetect = 3;
    editor->Reset();
    EXPECT_EQ(editor->detectChoice()->count(), 4);
    EXPECT_EQ(editor->detectChoice()->currentIndex(), 3);
    gDNum = 2;
    editor->Reset();
    EXPECT_EQ(editor->detectChoice()->count(), 2);
    EXPECT_EQ(window->curDetect, 0);  // a group that no longer exists is not kept
}

// NG pictures carry their first NG ROI number before the time: the time orders them.
TEST(RecordOrderTest, NewestFirstByTheTimeInTheName)
{
    const QStringList names = {"1_2026-01-01_08.00.00.jpg", "2_2026-01-01_07.00.00.jpg", "2026-01-01_09.30.00.jpg",
                               "12_2026-01-02_00.00.01.jpg", "3_2025-12-31_23.59.59.jpg", "1_2026-01-01_08.00.00_2.jpg"};
    EXPECT_EQ(DrawROIWidget::newestFirst(names),
              QStringList({"12_2026-01-02_00.00.01.jpg", "2026-01-01_09.30.00.jpg", "1_2026-01-01_08.00.00_2.jpg",
                           "1_2026-01-01_08.00.00.jpg",
                           "2_2026-01-01_07.00.00.jpg", "3_2025-12-31_23.59.59.jpg"}));
    EXPECT_TRUE(DrawROIWidget::newestFirst({}).isEmpty());
}

TEST_F(RoiEditorTest, RecordBrowserAndIgnorePointsView)
{
    QImage picture(32, 16, QImage::Format_RGB32);
    picture.fill(Qt::gray);
    ASSERT_TRUE(QDir().mkpath("alarmimage/camera1/detect1/NG"));
    for (const char* name : {"9_2026-01-01_08.00.00", "1_2026-01-02_08.00.00"})
        ASSERT_TRUE(picture.save(QString("alarmimage/camera1/detect1/NG/%1.jpg").arg(name)));
    editor->Restart();
    editor->SlotChangeSource(DrawROIWidget::SourceNgRecords);
    EXPECT_EQ(gSource, 4);
    EXPECT_EQ(editor->recordCount, 2);
    EXPECT_EQ(editor->recordText, QString("1_2026-01-02_08.00.00"));
    EXPECT_EQ(editor->recordImage.size(), QSize(32, 16));
    touch(editor->button("next"));
    EXPECT_EQ(editor->recordIndex, 1);
    EXPECT_EQ(editor->recordText, QString("9_2026-01-01_08.00.00"));
    touch(editor->button("next"));
    EXPECT_EQ(editor->recordIndex, 1);

    unit->camOK = true;
    answer({1});
    touch(editor->button("alarmPoint"));
    EXPECT_EQ(seen, QStringList({lanText(863)}));
    unit->camOK = false;
    touch(editor->button("alarmPoint"));
    EXPECT_EQ(unit->blinkPhase, 2);
    touch(editor->button("alarmPoint"));
    EXPECT_EQ(unit->blinkPhase, 0);
}

TEST_F(RoiEditorTest, AddedTemplatesFillFreeSlotsAndIgnorePointsCanBeCleared)
{
    editor->Restart();
    ASSERT_EQ(unit->pTemplate[0].size(), 2u);  // gTempNum slots
    const int before = unit->templateCount[0];
    std::memset(unit->pShowBuf, 77, size_t(unit->frameBytes));
    touch(editor->button("addTemplate"));
    EXPECT_EQ(unit->templateCount[0], before + 1);
    EXPECT_EQ(unit->pTemplateValid[0][1], 1);
    const QList<QPair<int, int>> added{{unit->camIndex, 0}};
    EXPECT_EQ(window->templateSyncs, added) << "the companion hears of the added template";
    EXPECT_EQ(unit->pTemplate[0][1][123], 77);
    const QImage stored("cammer11/template1.bmp");
    ASSERT_FALSE(stored.isNull());
    EXPECT_EQ(qGray(stored.pixel(5, 5)), 77);

    answer({1});
    touch(editor->button("addTemplate"));  // no free slot is left; slot 0 is never replaced
    EXPECT_EQ(seen, QStringList({lanText(872)}));
    EXPECT_EQ(unit->templateCount[0], before + 1);
    EXPECT_EQ(window->templateSyncs, added) << "nothing was added, nothing is reported";

    std::memset(unit->pIgnoreMask[0], 255, 100);
    answer({1});
    touch(editor->button("deleteIgnore"));
    EXPECT_EQ(unit->pIgnoreMask[0][50], 0);
    EXPECT_EQ(window->templateSyncs.size(), 2);
    EXPECT_EQ(window->templateSyncs.last(), added.first());
    const QImage mask("cammer11/ignorepoint.bmp");
    ASSERT_FALSE(mask.isNull());
    EXPECT_EQ(qGray(mask.pixel(50, 0)), 0);
}
