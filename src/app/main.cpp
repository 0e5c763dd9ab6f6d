#include "controlport.h"
#include "counttypes.h"
#include "daridoziri.h"
#include "devicefile.h"
#include "globals.h"
#include "hostpaths.h"
#include "languagetable.h"
#include "leddevice.h"
#include "logmanager.h"
#include "mapplication.h"
#include "paragroupstore.h"
#include "publictools.h"
#include "savefialimagethread.h"
#include "shellrunner.h"
#include "splashframe.h"
#include "startupservices.h"
#include "terminationsignals.h"
#include "upaninfo.h"
#include "versionjson.h"
#include "warnbox.h"
#include "wizardpara.h"

#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QPair>
#include <QPixmap>
#include <QScopeGuard>
#include <QTextCodec>
#include <QTimer>

#include <malloc.h>

namespace {

constexpr int kIoPrivilegeLevel = 3;
constexpr int kTrimAfterStartMs = 2000;
constexpr int kRowLoaded = 651;
constexpr int kRowStarted = 652;
constexpr int kRowRestoreFinished = 941;
constexpr int kRowRestoreRolledBack = 942;
constexpr const char* kNetCardScript = "./cnt_net/orulx40_upnetcard.py";
constexpr const char* kPlatformPluginPathVariable = "QT_QPA_PLATFORM_PLUGIN_PATH";
constexpr const char* kDesktopNotice = "监视器已开启";
// Splash steps while the cameras power up, one a second.
constexpr int kCameraWaitSteps[] = {18, 21, 23, 26, 29, 31, 34, 37, 39, 42};

struct PixmapFile
{
    QPixmap** target;
    const char* path;
};

const PixmapFile kPixmaps[] = {
    {&gpPixmapBG, "./images/background.png"},
    {&gpPixmapEdit, "./images/edit.png"},
    {&gpPixmapSlideru, "./images/slideru.png"},
    {&gpPixmapSliderd, "./images/sliderd.png"},
    {&gpPixmapSlidert, "./images/slidert.png"},
    {&gpPixmapTitle, "./images/title.png"},
    {&gpPixmapLine, "./images/line.png"},
};

// Waits without blocking the splash screen's painting.
void waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void logKernelVersion()
{
    QFile file(HostPaths::path("/proc/version"));
    if (file.open(QIODevice::ReadOnly))
        qInfo().noquote() << "kernel:" << QString::fromLocal8Bit(file.readAll()).trimmed();
}

void registerMetaTypes()
{
    qRegisterMetaType<CountGroup>("CountGroup");
    qRegisterMetaType<QPair<QString, QString>>("QPair<QString,QString>");
    qRegisterMetaType<UPanInfo>("UPanInfo");
    qRegisterMetaType<QVector<UPanInfo>>("QVector<UPanInfo>");
}

void loadPixmaps()
{
    for (const PixmapFile& file : kPixmaps) {
        auto* pixmap = new QPixmap(QString::fromLatin1(file.path));
        if (pixmap->isNull())
            qWarning() << "picture missing:" << file.path;
        *file.target = pixmap;
    }
}

void waitForHardware(SplashFrame& splash)
{
    ShellRunner::instance().startDetached("python3", {QString::fromLatin1(kNetCardScript)}, QDir::currentPath());
    for (int step = 6; step <= 10; ++step) {
        splash.flushstep(step, QStringLiteral("配置网卡中..."));
        waitMs(1000);
    }
    splash.flushstep(15, QStringLiteral("等待相机开启..."));
    for (int step : kCameraWaitSteps) {
        waitMs(1000);
        splash.flushstep(step, QStringLiteral("等待相机开启..."));
    }
    splash.flushstep(50, QStringLiteral("相机等待完毕..."));
}

// A group restore that a stop cut short has been finished or undone before the
// parameters were read: the operator is told which set is in force.
void reportRestoreRecovery(ParaGroupStore::Recovery recovery, const QString& group)
{
    if (recovery == ParaGroupStore::Recovery::None || !gpWarnBox)
        return;
    const int row = recovery == ParaGroupStore::Recovery::Finished ? kRowRestoreFinished : kRowRestoreRolledBack;
    gpWarnBox->setText(lanText(row).arg(group));
    gpWarnBox->show();
}

// A platform plug-in path that does not exist makes Qt scan the application folder
// as a plug-in folder, opening every file there (a terminal link there hangs the start).
// The development value only marks the development machine; it is read, then dropped.
bool takeDevelopmentEnvironment()
{
    const bool development = isOpen_Env();
    const QString path = qEnvironmentVariable(kPlatformPluginPathVariable);
    if (!path.isEmpty() && !QFileInfo(path).isDir())
        qunsetenv(kPlatformPluginPathVariable);
    return development;
}

} // namespace

int main(int argc, char* argv[])
{
    const bool development = takeDevelopmentEnvironment();
    registerMetaTypes();

    MApplication app(argc, argv);
    gAppDirPath = QDir::currentPath();

    auto* splash = new SplashFrame;
    g_splashframe = splash;
    splash->show();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    if (!LogManager::__instance)
        LogManager::__instance = new LogManager(nullptr);
    // Last of all, after the main window and the network hub went with their last lines.
    const auto logEnd = qScopeGuard(LogManager::finish);
    // After the logging set-up, which installs its own crash handlers.
    TerminationSignals::install();
    // A library's exit() skips the owners' destructors: the picture writers stop first, then the
    // USB copy they feed and the disk watch, then the log's held lines (theirs too) reach the files.
    TerminationSignals::atExitBegin(SaveFialImageThread::stopAllAtExit);
    TerminationSignals::atExitBegin(StartupServices::stopDiskServices);
    TerminationSignals::atExitBegin(LogManager::finish);
    // Also after it, so that their warnings on a PC reach the log files.
    DeviceFile::requestIoPrivilege(kIoPrivilegeLevel);
    LedDevice::open();
    logKernelVersion();

    splash->flushstep(0, QStringLiteral("启动..."));
    if (!development)
        waitForHardware(*splash);

    qInfo() << "version" << kProgramVersion;
    pMutexIO = new QMutex;
    pMutexSaveFail = new QMutex;
    if (LanguageTable::load() < 0)
        qWarning() << "starting with empty texts";
    loadPixmaps();

    StartupServices::removeDownloadLeftovers();
    ParaGroupStore::recoverGroups();
    QString restoredGroup;
    const ParaGroupStore::Recovery recovery = ParaGroupStore::recoverRestore(&restoredGroup);
    splash->flushstep(60, QStringLiteral("加载应用程序..."));
    // Ends the hub after the main window, whose cycle publishes to it up to its
    // own end, and before the application.
    const auto networkHubEnd = qScopeGuard(StartupServices::stopNetworkHub);
    DaRiDoziri window;
    splash->flushstep(90, lanText(kRowLoaded));

    gDeviceID = getlocal_deviceid();
    writeVersionToJson();
    StartupServices::startNetworkHub();
    StartupServices::startUsbImageCopy(gpWPara->days, gpWPara->useDiskSaveImage != 0);
    StartupServices::startDiskManager();
    window.controlPort()->InitIOThread();
    window.showFullScreen();
    reportRestoreRecovery(recovery, restoredGroup);

    splash->flushstep(100, lanText(kRowStarted));
    splash->finish(&window);
    splash->deleteLater();
    // Learning, the template pictures and the splash leave tens of megabytes
    // freed but resident in the heaps; the checks never reuse most of them.
    QTimer::singleShot(kTrimAfterStartMs, [] { malloc_trim(0); });
    g_splashframe = nullptr;
    ShellRunner::instance().startDetached("notify-send", {QString::fromUtf8(kDesktopNotice)});
    qInfo().noquote() << "main window shown" << gShowW << "x" << gShowH;

    // After the start-up's statics: another thread's exit() then stops the writers before their destructors.
    TerminationSignals::watchExit();
    const int rc = app.exec();
    // The window's destructor waits for the writers: a hung disk must not keep the process.
    TerminationSignals::armExitWatch(rc);
    qInfo() << "exit" << rc;
    StartupServices::stopDiskServices();
    gpWin = nullptr;
    return rc;
}
