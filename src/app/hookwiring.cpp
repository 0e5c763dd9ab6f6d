#include "hookwiring.h"

#include "cameramanager.h"
#include "cameraunithooks.h"
#include "ccomp_diawait.h"
#include "choosebox.h"
#include "clock.h"
#include "configprompts.h"
#include "confineddir.h"
#include "copy2movedisk.h"
#include "editorhooks.h"
#include "findau.h"
#include "globals.h"
#include "mapplication.h"
#include "networkdialogs.h"
#include "networksettingdialog.h"
#include "saveimagesettingdailog.h"
#include "shellrunner.h"
#include "statsfilewarning.h"
#include "statshooks.h"
#include "vek_netmn.h"
#include "viewwatch2zel.h"
#include "warnbox.h"
#include "wizardpara.h"
#include "wizardparawidget.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>

namespace HookWiring {

namespace {

void warn(const QString& text)
{
    if (!gpWarnBox)
        return;
    gpWarnBox->setText(text);
    gpWarnBox->exec();
}

constexpr int kRowNoUsbDisk = 874;
constexpr int kRowExported = 875;
constexpr int kRowExportFailed = 770;
constexpr int kCopyTimeoutMs = 10 * 60 * 1000;

// The image-storage button: days to keep, use of the USB disk, warning on its
// loss, edited in the settings record like every other field.
void editImageStorage(QWidget* parent)
{
    if (!gpWParaBak)
        return;
    SaveImageSettingDailog dialog(parent);
    dialog.init({{"days", gpWParaBak->days},
                 {"useDiskSaveImage", gpWParaBak->useDiskSaveImage},
                 {"lostUpanAlarm", gpWParaBak->lostUpanAlarm}});
    if (dialog.exec() != QDialog::Accepted)
        return;
    QJsonObject values;
    dialog.save(values);
    if (values.value("days").toInt() >= 1)  // unreadable or 0 days keep the old value
        gpWParaBak->days = values.value("days").toInt();
    gpWParaBak->useDiskSaveImage = values.value("useDiskSaveImage").toInt();
    gpWParaBak->lostUpanAlarm = values.value("lostUpanAlarm").toInt();
}

// The settings screen's export: the chosen items of the program's folder are
// copied into a new folder on the USB disk, then synced.
bool exportToUsbDisk(const QStringList& paths, QString* error)
{
    const QString disk = FindAU();
    if (disk.isEmpty()) {
        *error = lanText(kRowNoUsbDisk);
        return false;
    }
    const QString folder = QStringLiteral("export_%1").arg(Clock::now().toString("yyyyMMdd_hhmmss"));
    const QString target = QDir(disk).filePath(folder);
    // A real folder right under the mount point: a link of that name on the stick is not followed.
    if (!ConfinedDir(disk).openDir(folder, true).isOpen()) {
        *error = lanText(kRowExportFailed);
        return false;
    }
    // Copying may take minutes: it runs beside the wait dialog, whose event loop keeps the
    // detection cycle going.
    QString failed;
    CComp_DiaWait wait(
        [&paths, &target, &failed] {
            for (const QString& path : paths) {
                if (!QFileInfo::exists(path))
                    continue;
                const ShellResult copied = runProgram("cp", {"-r", "--", path, target + "/"}, kCopyTimeoutMs);
                if (!copied.ok()) {
                    failed = path + QStringLiteral(": ") + QString::fromLocal8Bit(copied.stdErr);
                    return;
                }
            }
            runProgram("sync", {});
        },
        nullptr);
    wait.exec();
    if (!failed.isEmpty()) {
        qWarning().noquote() << "export to" << target << "failed:" << failed;
        *error = lanText(kRowExportFailed);
        return false;
    }
    if (gpWarnBox) {
        gpWarnBox->setText(lanText(kRowExported));
        gpWarnBox->exec();
    }
    return true;
}

void wireSettingsScreen()
{
    WizardParaWidget::setNetworkHook([](QWidget*) { NetDialogs::openNetworkSettings(); });
    WizardParaWidget::setVersionDownloadHook([](QWidget* parent) { NetDialogs::openVersionDownload(parent); });
    WizardParaWidget::setImageStorageHook(editImageStorage);
    WizardParaWidget::setExportHook(exportToUsbDisk);
    // The USB image copy follows a confirmed change of its settings.
    WizardParaWidget::setAcceptedHook([](const WizardPara& before) {
        Copy2MoveDisk* copy = Copy2MoveDisk::_instance;
        if (!copy || !gpWPara)
            return;
        copy->days = qMax(1, gpWPara->days);
        if (before.useDiskSaveImage != gpWPara->useDiskSaveImage) {
            if (gpWPara->useDiskSaveImage)
                copy->start();
            else
                copy->stop();
        }
    });
    NetDialogs::install();
    // An accepted card edit ends a long touch that began it, as the screens' own buttons do.
    NetDialogs::setTouchHoldStop([] {
        if (MApplication* app = MApplication::instance())
            app->manualStopTscTimeup();
    });
    NetworkSettingDialog::setLinkStateSource([] {
        ViewWatch2ZEL* link = VEK_NETMN::getInstance()->companionLink();
        return link ? link->isAllowSnd_2_VW() : int(ViewWatch2ZEL::NoNetworking);
    });
}

} // namespace

void wire(MainWindowBase* window)
{
    // The parameter stores and the statistics store warn and ask through the shared boxes.
    ConfigPrompts::setWarn(warn);
    ConfigPrompts::setAsk([](const QString& text) {
        if (!gpChooseBox)
            return false;
        gpChooseBox->setText(text);
        return gpChooseBox->exec() == 1;
    });
    StatsFileWarning::setHandler(warn);
    StatsHooks::instance().cameraCount = [] { return int(CameraManager::getInstance()->cameras.size()); };
    CameraUnitHooks::instance().publishRoiResult = [](const param_roi& result) {
        VEK_NETMN::getInstance()->insertRoiResult(result);
    };
    EditorHooks::wire(window);
    wireSettingsScreen();
}

void unwire()
{
    ConfigPrompts::setWarn({});
    ConfigPrompts::setAsk({});
    StatsFileWarning::setHandler({});
    StatsHooks::instance().cameraCount = nullptr;
    CameraUnitHooks::instance().publishRoiResult = nullptr;
    EditorHooks::unwire();
    for (auto setHook : {&WizardParaWidget::setNetworkHook, &WizardParaWidget::setVersionDownloadHook,
                         &WizardParaWidget::setImageStorageHook})
        setHook({});
    WizardParaWidget::setExportHook({});
    WizardParaWidget::setAcceptedHook({});
    NetworkSettingDialog::setLinkStateSource({});
    NetDialogs::setTouchHoldStop({});
}

} // namespace HookWiring
