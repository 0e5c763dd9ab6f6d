#include "screentest.h"

#include "camerastatisticswidget.h"
#include "clock.h"
#include "camereatabwidget.h"
#include "combobox.h"
#include "dateseletdialog.h"
#include "globals.h"
#include "histogram.h"
#include "modalanswerer.h"
#include "resstatisticsparam.h"
#include "statisticswidget.h"

#include <QDateEdit>
#include <QLabel>
#include <QListWidget>
#include <QTabWidget>
#include <gtest/gtest.h>

namespace {
// The nine value labels of a page: morning, night, day, each total, OK, pass rate.
QStringList values(const QWidget* page)
{
    QStringList texts;
    for (const QLabel* label : page->findChildren<QLabel*>()) {
        if (label->styleSheet() == QLatin1String("color:green;"))
            texts << label->text();
    }
    return texts;
}

QStringList detectNames()
{
    return {lanText(584), lanText(755).arg(1), lanText(755).arg(2)};
}
} // namespace

TEST_F(ScreenTest, PagesShowTotalsPassRatesAndChartsOfTheCounts)
{
    countCycles(5, 3);
    StatisticsWidget screen;
    screen.createWidget(detectNames());

    ASSERT_EQ(screen.cameraTabs()->count(), 5) << "all cameras and cameras 1 to 4";
    EXPECT_EQ(screen.cameraTabs()->tabText(0), "All Camera");
    EXPECT_EQ(screen.cameraTabs()->tabText(4), "Camera 4");
    CamereaTabWidget* all = screen.cameraTabAt(0);
    ASSERT_EQ(all->count(), 3) << "the whole cycle and two detections";
    EXPECT_EQ(all->page(0)->camera(), kAllCamerasIndex);
    EXPECT_EQ(all->page(0)->detect(), kWholeCycleIndex);
    EXPECT_EQ(all->page(2)->detect(), 1);
    EXPECT_EQ(screen.cameraTabAt(1)->page(0)->camera(), 0);

    CameraStatisticsWidget* page = all->page(0);
    page->updateData();
    EXPECT_EQ(values(page), (QStringList{"8", "5", "62.5%", "0", "0", "0%", "8", "5", "62.5%"}))
        << "an empty night shows 0%, never nan%";
    EXPECT_EQ(CameraStatisticsWidget::passRateText(2, 1), "66.67%");

    // The morning chart has 12 hours (08..19) with the counts at 10 o'clock.
    const QList<Histogram*> charts = page->findChildren<Histogram*>();
    ASSERT_EQ(charts.size(), 2);
    EXPECT_EQ(charts[0]->barCount(), 12);
    EXPECT_EQ(charts[0]->maxValue(), 5);
    EXPECT_EQ(charts[1]->maxValue(), 0);
    Histogram empty(nullptr);
    EXPECT_EQ(empty.barCount(), 0);
    EXPECT_FALSE(empty.grab().isNull()) << "axes and legend only";
}

TEST_F(ScreenTest, DayListHasTheLiveDayFirstThenArchivesNewestFirst)
{
    ASSERT_TRUE(appDir.writeFile("ResStatistics/2026-03-01.db", ""));
    ASSERT_TRUE(appDir.writeFile("ResStatistics/2026-03-02.db", ""));
    StatisticsWidget screen;
    screen.createWidget(detectNames());
    QList<int> rows;
    QObject::connect(&screen, &StatisticsWidget::sigUpdateRecord, [&](int row, QString) { rows << row; });
    screen.updateList();
    QStringList days;
    for (int i = 0; i < screen.dayList()->count(); ++i)
        days << screen.dayList()->item(i)->text();
    EXPECT_EQ(days, (QStringList{"2026-03-05", "2026-03-02", "2026-03-01"}));
    EXPECT_EQ(rows, QList<int>{0});
}

TEST_F(ScreenTest, ConfirmedShiftHoursSurviveARestartAndDeclinedOnesAreNotApplied)
{
    {
        StatisticsWidget screen;
        screen.createWidget(detectNames());
        screen.show();
        screen.shiftChooser(0)->setCurrentIndex(6);
        screen.shiftChooser(1)->setCurrentIndex(18);
        ModalAnswerer::finishDialog(1);
        screen.SlotConfirm();
        EXPECT_FALSE(screen.isVisible());
        EXPECT_EQ(model->morningsStart, 6);

        screen.show();
        screen.shiftChooser(0)->setCurrentIndex(7);
        ModalAnswerer::finishDialog(0);
        screen.SlotConfirm();
        EXPECT_FALSE(screen.isVisible()) << "hidden on No as well";
        EXPECT_EQ(model->morningsStart, 6);
    }
    delete model;
    model = ResStatisticsParam::getInstance();
    model->init(QStringLiteral("default"), gDNum);
    EXPECT_EQ(model->morningsStart, 6);
    EXPECT_EQ(model->morningsEnd, 18);
}

TEST_F(ScreenTest, DatePresetsCountBackFromToday)
{
    Clock::setFixed(QDateTime(QDate(2026, 3, 10), QTime(9, 0)));
    DateSeletDialog dialog;
    EXPECT_EQ(dialog.getDays(), qMakePair(QString("2026-03-10"), QString("2026-03-10")));
    dialog.choosePreset(2);
    EXPECT_EQ(dialog.getDays(), qMakePair(QString("2026-03-04"), QString("2026-03-10")));
    Clock::setFixed(QDateTime(QDate(2026, 3, 31), QTime(9, 0)));
    dialog.choosePreset(3);
    EXPECT_EQ(dialog.getDays().first, "2026-03-01");
    dialog.startEdit()->setDate(QDate(2026, 2, 1));
    EXPECT_EQ(dialog.mode(), 0) << "an edited date makes the range custom";
    EXPECT_EQ(dialog.getDays().first, "2026-02-01");

    // On a small panel the choices take two rows and the dialog fits the screen.
    const int w = gShowW;
    gShowW = 1024;
    DateSeletDialog small;
    small.show();
    EXPECT_LE(small.width(), 1024);
    small.choosePreset(2);
    EXPECT_EQ(small.getDays(), qMakePair(QString("2026-03-25"), QString("2026-03-31")));
    gShowW = w;
}
