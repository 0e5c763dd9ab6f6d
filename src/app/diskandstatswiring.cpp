#include "diskandstatswiring.h"

#include "copy2movedisk.h"
#include "daridoziri.h"
#include "diskmanager.h"
#include "globals.h"
#include "iostatus.h"
#include "resstatisticsparam.h"
#include "statisticsscreen.h"
#include "statisticswidget.h"
#include "warnbox.h"
#include "wizardpara.h"

#include <QPointer>

namespace {
constexpr int kRowAllDetect = 584;
constexpr int kRowDetectN = 755;
constexpr int kRowExportProgress = 723;
constexpr int kRowDiskIn = 724;
constexpr int kRowDiskLost = 725;
constexpr int kRowDiskOut = 726;
constexpr const char* kInfoType = "info";
constexpr int kPercent = 100;

QStringList detectNames()
{
    QStringList names{lanText(kRowAllDetect)};
    for (int i = 0; i < gDNum; ++i)
        names.append(lanText(kRowDetectN).arg(i + 1));
    return names;
}

StatisticsWidget* screen()
{
    if (!StatisticsWidget::instance) {
        StatisticsWidget::instance = new StatisticsWidget(nullptr);
        StatisticsWidget::instance->createWidget(detectNames());
        ResStatisticsParam* model = ResStatisticsParam::getInstance();
        QObject::connect(StatisticsWidget::instance, &StatisticsWidget::sigUpdateRecord, model,
                         &ResStatisticsParam::slotUpdateRecord);
        QObject::connect(model, &ResStatisticsParam::sigLoadFinish, StatisticsWidget::instance,
                         &StatisticsWidget::slotUpdateRecord);
    }
    return StatisticsWidget::instance;
}
} // namespace

namespace DiskAndStatsWiring {

void wire(DaRiDoziri* window, IOStatus* status)
{
    Copy2MoveDisk* copy = Copy2MoveDisk::getInstance();
    // Emitted from the watcher's thread, handled in the GUI thread.
    QObject::connect(DiskManager::getInstance(), &DiskManager::diskInfoChange, copy, &Copy2MoveDisk::diskInfoChange,
                     Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));
    QObject::connect(copy, &Copy2MoveDisk::diskStateChange, window, [window, status](bool hasDisk) {
        if (status)
            status->update();
        if (hasDisk) {
            window->InsertRecord(lanText(kRowDiskIn), QLatin1String(kInfoType));
            return;
        }
        if (gpWPara && gpWPara->lostUpanAlarm != 0 && gpWarnBox) {
            gpWarnBox->setText(lanText(kRowDiskLost));
            gpWarnBox->show();
        }
        window->InsertRecord(lanText(kRowDiskOut), QLatin1String(kInfoType));
    });

    StatisticsWidget* statistics = screen();
    QPointer<IOStatus> bar(status);
    QObject::connect(statistics, &StatisticsWidget::sigExportProgress, window, [bar](int total, int done) {
        if (bar)
            bar->setExportText(lanText(kRowExportProgress).arg(total > 0 ? done * kPercent / total : 0));
    });
    QObject::connect(statistics, &StatisticsWidget::sigExportDataFinish, window, [bar] {
        if (bar)
            bar->setExportText(QString());
    });
    ResStatisticsParam::setScreenHooks({[] {
                                            if (StatisticsWidget::instance)
                                                StatisticsWidget::instance->checkUpdate();
                                        },
                                        [] {
                                            if (StatisticsWidget::instance)
                                                StatisticsWidget::instance->updateList();
                                        }});
    StatisticsScreen::setOpener([] { screen()->showFullScreen(); });
}

void unwire()
{
    StatisticsScreen::setOpener({});
    ResStatisticsParam::setScreenHooks({});
    delete StatisticsWidget::instance;
    StatisticsWidget::instance = nullptr;
}

} // namespace DiskAndStatsWiring
