// The statistics screen and its dialogs drawn in the four languages on both
// screen sizes. With MM_RENDER_DIR set the drawings are saved there as PNG
// files (the 1920 x 1080 screen cut to what a 1024 x 768 panel shows).
#include "screentest.h"

#include "camerastatisticswidget.h"
#include "camereatabwidget.h"
#include "dateseletdialog.h"
#include "globals.h"
#include "languagetable.h"
#include "layoutcheck.h"
#include "saveimagesettingdailog.h"
#include "statisticswidget.h"

#include <QPixmap>
#include <QTabWidget>
#include <gtest/gtest.h>

TEST_F(ScreenTest, ScreensDrawInEveryLanguageOnBothPanelSizes)
{
    countCycles(5, 3);
    const QString dir = qEnvironmentVariable("MM_RENDER_DIR");
    const QSize panels[] = {{1920, 1080}, {1024, 768}};
    for (int language = 0; language < 4; ++language) {
        gLan = language;
        for (const QSize& panel : panels) {
            gShowW = panel.width();
            gShowH = panel.height();
            StatisticsWidget screen;
            screen.createWidget({lanText(584), lanText(755).arg(1), lanText(755).arg(2)});
            screen.cameraTabAt(0)->setCurrentIndex(0);
            screen.initWidget();
            screen.refreshPage();
            const QPixmap shot = screen.grab().copy(QRect(QPoint(0, 0), panel));
            SCOPED_TRACE(QStringLiteral("language %1 at %2x%3").arg(language).arg(panel.width()).arg(panel.height()).toStdString());
            // Texts whole, nothing off its parent or under another control (the screen's own
            // size against the panel's is the fitting tests' concern).
            QStringList faults = layoutFaults(&screen, screen.geometry());
            ASSERT_FALSE(shot.isNull());
            EXPECT_EQ(screen.cameraTabs()->tabText(0), lanText(585));
            DateSeletDialog dates;
            SaveImageSettingDailog storage;
            storage.init({{"days", 31}, {"useDiskSaveImage", 1}, {"lostUpanAlarm", 1}});
            const QPixmap datesShot = dates.grab();
            const QPixmap storageShot = storage.grab();
            faults << layoutFaults(&dates, dates.geometry()) << layoutFaults(&storage, storage.geometry());
            EXPECT_TRUE(faults.isEmpty()) << faults.join('\n').toStdString();
            EXPECT_FALSE(datesShot.isNull());
            EXPECT_EQ(storageShot.size(), QSize(600, 300));
            if (dir.isEmpty())
                continue;
            const QString suffix = QStringLiteral("%1_%2x%3.png").arg(language).arg(panel.width()).arg(panel.height());
            shot.save(dir + "/statistics_" + suffix);
            if (panel.width() == 1920) {
                datesShot.save(dir + "/dateselect_" + suffix);
                storageShot.save(dir + "/imagestorage_" + suffix);
            }
        }
    }
    gLan = 1;
}
