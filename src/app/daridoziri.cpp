#include "daridoziri.h"

#include "diskandstatswiring.h"

#include "cameramanager.h"
#include "alarmclearbox.h"
#include "alarmclearmethod.h"
#include "cammerwidget.h"
#include "cammerwidgetunit.h"
#include "choosebox.h"
#include "clock.h"
#include "colorbutton.h"
#include "controlport.h"
#include "countfile.h"
#include "detectioncycle.h"
#include "drawroiwidget.h"
#include "edit.h"
#include "floatslider.h"
#include "globals.h"
#include "hookwiring.h"
#include "indexbutton.h"
#include "iolinkwatch.h"
#include "iostatus.h"
#include "iowidget.h"
#include "leddevice.h"
#include "lostcamerawarnbox.h"
#include "mapplication.h"
#include "numberinput.h"
#include "numcharinput.h"
#include "panelkeeper.h"
#include "paramdatabase.h"
#include "paramdefaults.h"
#include "passwordbox.h"
#include "productalarmwarnbox.h"
#include "recordstore.h"
#include "standingalarm.h"
#include "resstatisticsparam.h"
#include "savefialimagethread.h"
#include "shellrunner.h"
#include "splashframe.h"
#include "startupservices.h"
#include "statecodes.h"
#include "statisticswidget.h"
#include "storedfile.h"
#include "vek_netmn.h"
#include "viewwatch2zel.h"
#include "warnbox.h"
#include "wizardpara.h"
#include "wizardparawidget.h"

#include <QApplication>
#include <QDialog>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QMutexLocker>
#include <QPainter>
#include <QScreen>
#include <QSlider>
#include <QSqlDatabase>
#include <QSqlError>
#include <QThread>
#include <QTimer>
#include <algorithm>

namespace {
constexpr int kRowCameraUnavailable = 39;
constexpr int kRowStoredFileFailed = 900;
constexpr int kRowStoredFileSaved = 901;
constexpr int kRowSaveFailed = 844;
constexpr int kRowExportTitle = 326;
constexpr int kStoredFileRetryMs = 30000;
// Room for the counts, records, templates and masks a stop on a full disk must still write.
constexpr const char* kStoredFileReserve = ".storedfile.reserve";
constexpr qint64 kStoredFileReserveBytes = 8LL * 1024 * 1024;
constexpr int kRowStopDetection = 127;
constexpr int kRowStartDetection = 136;
constexpr int kRowAdvanced = 154;
constexpr int kRowPrimary = 155;
constexpr int kRowUnlogged = 156;
constexpr int kChooseBoxWidth = 750;
constexpr int kChooseBoxHeight = 370;
constexpr int kScaleSliderWidth = 1000;
constexpr int kScaleSliderHeight = 35;
constexpr int kScaleFactor = 100;
constexpr int kScaleMin = 100;
constexpr int kScaleMax = 500;

void splashStep(int percent, const QString& text = QString())
{
    if (g_splashframe)
        g_splashframe->flushstep(percent, text);
}
} // namespace

DaRiDoziri::DaRiDoziri(QWidget* parent)
    : MainWindowBase(parent)
{
    setObjectName("mainWindow");
    // The parameter load and the camera units reach the window through gpWin while it is built.
    gpWin = this;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        gShowW = screen->geometry().width();
        gShowH = screen->geometry().height();
    }
    resize(gShowW, gShowH);
    setStyleSheet("DaRiDoziri { background-color: black; }");
    // A language change restarts the program, so the text is taken once.
    exportTitle = lanText(kRowExportTitle);

    createSharedDialogs();
    openDatabases();
    loadParameters();
    // The shared boxes come first so that a failing load can be shown; their
    // buttons follow the stored language once it is known.
    gpWarnBox->retranslate();
    gpChooseBox->retranslate();
    createKeypads();
    gpPasswordBox = new PasswordBox(nullptr);
    pIndexButton = new IndexButton(this);
    m_panelKeeper = new PanelKeeper(pIndexButton, this);

    m_scaleSlider = new FloatSlider(this);
    m_scaleSlider->setFixedSize(kScaleSliderWidth, kScaleSliderHeight);
    m_scaleSlider->scaleFactor = kScaleFactor;
    m_scaleSlider->slider->setRange(kScaleMin, kScaleMax);
    connect(m_scaleSlider, &FloatSlider::updateValue, this, [this](float value) { MScale(value); });
    m_scaleSlider->setVisible(gpWPara->imageZoom != 0);

    splashStep(71, QStringLiteral("加载界面中..."));
    m_imageWriter = std::make_unique<SaveFialImageThread>();
    buildCameras();
    splashStep(75);
    allocateFailImages();
    splashStep(75);
    createIoLink();
    m_ioStatus = new IOStatus(m_io.get(), this);
    connect(m_ioStatus, &IOStatus::clicked, this, &DaRiDoziri::SlotOpenIoPage);
    splashStep(80);

    ResStatisticsParam* statistics = ResStatisticsParam::getInstance();
    statistics->init(gpWPara->getCurGroupName(), gDNum);
    connect(this, &MainWindowBase::sendRecord, statistics, &ResStatisticsParam::addRecord);
    DiskAndStatsWiring::wire(this, m_ioStatus);
    m_panelKeeper->watch(StatisticsWidget::instance);

    StartupServices::startModbusServer(this);
    m_imageWriter->start();
    createTimers();
    splashStep(85);

    m_cycle = new DetectionCycle(this, m_io.get(), this);
    m_cycle->setUnits(unitPointers());
    connect(m_cycle, &DetectionCycle::sigCameraLostChanged, this, &DaRiDoziri::SlotCameraLostChanged);
    // The network hub keeps one record per machine cycle with its pictures.
    VEK_NETMN* hub = VEK_NETMN::getInstance();
    connect(m_cycle, &DetectionCycle::sigCycleStarted, this, [hub] { hub->start_PeriodRecord(); });
    connect(m_cycle, &DetectionCycle::sigCycleFinished, this, [hub](bool ng) { hub->finish_PeriodRecord(ng); });
    connect(m_imageWriter.get(), &SaveFialImageThread::sigImageSaved, hub,
            [hub](int camera, int detection, bool ok, QString path, QString cycleId) {
                hub->add_PeriodRecord_Picture(camera, detection, ok, path, cycleId);
            },
            Qt::DirectConnection);
    // The companion process hears of alarms, their release and every operation record.
    ViewWatch2ZEL* link = hub->companionLink();
    connect(m_cycle, &DetectionCycle::sigAlarmStarted, link, &ViewWatch2ZEL::sndAlarmStartTiming);
    connect(m_cycle, &DetectionCycle::sigAlarmReleased, link, [link](QList<int> cameras, int method) {
        for (int camera : cameras)
            link->addClearMethod(camera, method);
        link->alarmState = ViewWatch2ZEL::AlarmReleased;
        link->sndAlarmFinishTiming();
    });
    connect(this, &DaRiDoziri::sigRecordInserted, link, [link](QString time, QString level, QString text, QString type) {
        link->sndRecordOperate(
            QJsonObject{{"recordtime", time}, {"recordpassword", level}, {"remarks", text}, {"recordtype", type}});
    });
    createEditingScreens();
    selCamera = numCamera;
    runState = kRunRunning;
    updateStartStopText();
    // The main screen starts with its button panel; it hides itself after a while.
    pIndexButton->show();
    ChangeCammer();
    // The alarm that stood when the program last ended is raised again before the IO
    // thread sends its first output word.
    m_standingAlarm = std::make_unique<StandingAlarm>();
    m_cycle->raiseStandingAlarm(m_standingAlarm->load());
    m_cycle->setStandingAlarm(m_standingAlarm.get());
    m_cycle->start();
    splashStep(90);

    installEventFilter(this);
    if (MApplication* app = MApplication::instance())
        connect(app, &MApplication::sigUserActivity, this, &DaRiDoziri::SlotUserActivity);
    adoptSharedDialogs();
    restartUserTimers();
    if (!m_cycle->alarmStands()) {
        LEDOnOff(LedDevice::LampOK, 1);
        LEDOnOff(LedDevice::LampNG, 0);
    }
}

DaRiDoziri::~DaRiDoziri()
{
    // The keypads die with this window; they must not come back at shut-down.
    disconnect(m_numPadRecreate);
    disconnect(m_charPadRecreate);
    if (m_cycle) {
        m_cycle->stop();
        m_cycle->setStandingAlarm(nullptr);
    }
    DiskAndStatsWiring::unwire();
    DrawROIWidget::setDetectionPause({});
    if (m_imageWriter)
        m_imageWriter->stop();
    releaseFailImages();
    if (gpControlIO == m_io.get())
        gpControlIO = nullptr;
    m_io.reset();
    m_units.clear();
    delete gpLostCameraWarnBox;
    gpLostCameraWarnBox = nullptr;
    gpProductAlarmWarnBox = nullptr;
    HookWiring::unwire();
    StoredFile::setFailureHandler({});
    StoredFile::setSavedHandler({});
    gpWarnBox = nullptr;
    gpChooseBox = nullptr;
    gpPasswordBox = nullptr;
    FLushAll();
    if (gpWin == this)
        gpWin = nullptr;
}

void DaRiDoziri::createEditingScreens()
{
    pWizardParaWidget = new WizardParaWidget(this, this);
    pWizardParaWidget->hide();
    pWizardParaWidget->setCameraUnits(m_cameraWidgets);
    pDrawROIWidget = new DrawROIWidget(this, this);
    pDrawROIWidget->setCameraUnits(m_cameraWidgets);
    connect(this, &DaRiDoziri::sigOpenSettings, pWizardParaWidget, &WizardParaWidget::open);
    connect(this, &DaRiDoziri::sigOpenRoiEditor, pDrawROIWidget, &DrawROIWidget::Restart);
    m_panelKeeper->watch(pWizardParaWidget);
    m_panelKeeper->watch(pDrawROIWidget);
    DrawROIWidget::setDetectionPause([this](bool paused) { m_cycle->setPaused(paused); });
}

void DaRiDoziri::createSharedDialogs()
{
    gpWarnBox = new WarnBox(nullptr);
    gpChooseBox = new ChooseBox(nullptr, kChooseBoxWidth, kChooseBoxHeight);
    HookWiring::wire(this);
    // A stored file that cannot be written (full disk) is shown without blocking the
    // cycle, and again once it is saved after all; the writer may be another thread, the box
    // belongs to this one.
    const auto show = [this](const QString& path, bool saved) {
        QMetaObject::invokeMethod(this, [this, path, saved] {
            // Templates of every camera share a file name: the folder tells them apart.
            const QString name = QDir::cleanPath(QDir::current().relativeFilePath(path));
            const bool boxOpen = gpWarnBox && !m_storedNotice.isEmpty()
                                 && ((gpWarnBox->isVisible() && gpWarnBox->text() == m_storedNotice)
                                     || gpWarnBox->waitingTexts().contains(m_storedNotice));
            if (!boxOpen)
                m_savedFiles.clear();
            m_unsavedFiles.removeAll(name);
            m_savedFiles.removeAll(name);
            (saved ? m_savedFiles : m_unsavedFiles) << name;
            if (!gpWarnBox)
                return;
            const QString notice = storedFilesNotice(m_unsavedFiles, m_savedFiles);
            gpWarnBox->replaceText(m_storedNotice, notice);
            m_storedNotice = notice;
            gpWarnBox->show();
        }, Qt::QueuedConnection);
    };
    StoredFile::setFailureHandler([show](const QString& path, const QString&) { show(path, false); });
    StoredFile::setSavedHandler([show](const QString& path) { show(path, true); });
}

QString DaRiDoziri::storedFilesNotice(const QStringList& unsaved, const QStringList& saved)
{
    const int most = saved.isEmpty() || unsaved.isEmpty() ? kMaxNamedFiles : 2;
    const auto named = [most](int row, const QStringList& files) {
        QString names = files.mid(0, most).join(QStringLiteral(", "));
        if (files.size() > most)
            names += QStringLiteral(" (+%1)").arg(files.size() - most);
        return lanText(row).arg(names);
    };
    QStringList parts;
    if (!saved.isEmpty())
        parts << named(kRowStoredFileSaved, saved);
    if (!unsaved.isEmpty())
        parts << named(kRowStoredFileFailed, unsaved);
    return parts.join(QStringLiteral("\r\n"));
}

void DaRiDoziri::createKeypads()
{
    gpNumPad = new NumberInput(nullptr);
    gpNumCharPad = new NumCharInput(nullptr);
    // A keypad destroyed with a screen it was moved into is made again (once).
    m_numPadRecreate = connect(gpNumPad, &QObject::destroyed, this, [] { gpNumPad = new NumberInput(nullptr); });
    m_charPadRecreate = connect(gpNumCharPad, &QObject::destroyed, this, [] { gpNumCharPad = new NumCharInput(nullptr); });
    curEdit = nullptr;
}

void DaRiDoziri::openParamDatabase()
{
    QSqlDatabase db = QSqlDatabase::contains(ParamDatabase::kConnectionName)
                          ? QSqlDatabase::database(ParamDatabase::kConnectionName, false)
                          : QSqlDatabase::addDatabase("QSQLITE", ParamDatabase::kConnectionName);
    db.setDatabaseName(ParamDatabase::kFileName);
    if (!db.open() || !ParamDefaults::ensure(db))
        qCritical() << "PARAM.db cannot be used:" << db.lastError().text();
}

void DaRiDoziri::openDatabases()
{
    openParamDatabase();
    m_records = std::make_unique<RecordStore>();
    m_records->open();
}

void DaRiDoziri::loadParameters()
{
    gpWPara = new WizardPara;
    gpWPara->LoadDatafromFile();
    gpWPara->loadCpuInfo();
    gpWPara->loadConfigFromJson();
    gpWParaBak = new WizardPara;
    gTempNum = gpWPara->tempNumber;
    gisGrayHue = gpWPara->grayChannel;
    gPicNumNG = gpWPara->ngRecordNum;
    gPicNumOK = gpWPara->okRecordNum;
    CountFile::read();
}

void DaRiDoziri::buildCameras()
{
    CameraManager* manager = CameraManager::getInstance();
    manager->loadPlugins();
    manager->loadCameraSN();
    manager->findCameras();
    manager->sortCamera();

    auto build = [this, manager] {
        numCamera = 0;
        QVector<_cameraInfo> kept;
        const QVector<_cameraInfo> listed = manager->cameras;
        for (int i = 0; i < listed.size() && i < kMaxUnits; ++i) {
            auto* widget = new CammerWidget(this, numCamera, listed.at(i));
            if (!widget->isOpen) {
                delete widget;
                continue;
            }
            m_cameraWidgets << widget;
            m_units.push_back(std::make_unique<CammerWidgetUnit>(widget));
            kept << listed.at(i);
            ++numCamera;
        }
        manager->cameras = kept;
    };
    build();
    if (numCamera == 0) {
        manager->cameras.clear();
        manager->findSumulateCameras();
        build();
    }
    manager->checkCameraCount();
    qInfo() << "cameras in use:" << numCamera;
}

void DaRiDoziri::setDetectionUnits(std::vector<std::unique_ptr<DetectionUnit>> units)
{
    m_units = std::move(units);
    numCamera = int(m_units.size());
    m_cycle->setUnits(unitPointers());
    allocateFailImages();
    selCamera = numCamera;
    ChangeCammer();
}

QVector<DetectionUnit*> DaRiDoziri::unitPointers() const
{
    QVector<DetectionUnit*> list;
    for (const auto& unit : m_units)
        list << unit.get();
    return list;
}

void DaRiDoziri::allocateFailImages()
{
    // The image writer may be reading the table: it changes hands under its lock.
    QMutexLocker lock(pMutexSaveFail);
    releaseFailImages();
    for (auto& unit : m_units) {
        const int camera = unit->cameraIndex();
        if (camera < 0 || camera >= kMaxCameras)
            continue;
        // Empty until a picture is stored: groups never checked cost nothing.
        for (int group = 0; group < kMaxDetections; ++group) {
            for (int slot = 0; slot < 2; ++slot) {
                m_failImageStorage.push_back(std::make_unique<FailPicture>());
                gpFailImage[camera][group][slot] = m_failImageStorage.back().get();
            }
        }
    }
}

void DaRiDoziri::releaseFailImages()
{
    for (int camera = 0; camera < kMaxCameras; ++camera)
        for (int group = 0; group < kMaxDetections; ++group)
            for (int slot = 0; slot < 2; ++slot) {
                gpFailImage[camera][group][slot] = nullptr;
                gisSaveFail[camera][group][slot] = 0;
            }
    m_failImageStorage.clear();
}

void DaRiDoziri::createIoLink()
{
    m_io = std::make_unique<ControlPort>();
    m_io->configure(*gpWPara);
    gpControlIO = m_io.get();
    new IOLinkWatch(m_io.get(), [this](const QString& text, const QString& type) { InsertRecord(text, type); }, this);
}

void DaRiDoziri::createTimers()
{
    lcdTimer = new QTimer(this);
    lcdTimer->setSingleShot(true);
    connect(lcdTimer, &QTimer::timeout, this, &DaRiDoziri::SlotLcdTimeout);
    m_logoutTimer = new QTimer(this);
    m_logoutTimer->setSingleShot(true);
    connect(m_logoutTimer, &QTimer::timeout, this, &DaRiDoziri::SlotLogout);
    hintTimer = new QTimer(this);
    hintTimer->setSingleShot(true);
    hintTimer->setInterval(kHintMs);
    // Stored files a full disk refused are written again once there is room.
    auto* retry = new QTimer(this);
    connect(retry, &QTimer::timeout, this, [this] {
        StoredFile::retryPending();
        m_records->writeHeld();
        if (StoredFile::failingPaths().isEmpty())
            StoredFile::keepReserve(QString::fromLatin1(kStoredFileReserve), kStoredFileReserveBytes);
    });
    StoredFile::keepReserve(QString::fromLatin1(kStoredFileReserve), kStoredFileReserveBytes);
    retry->start(kStoredFileRetryMs);
}

void DaRiDoziri::adoptSharedDialogs()
{
    gpWarnBox->hide();
    for (QWidget* dialog : {static_cast<QWidget*>(gpWarnBox), static_cast<QWidget*>(gpChooseBox),
                            static_cast<QWidget*>(gpPasswordBox)})
        dialog->setParent(this, dialog->windowFlags());
    gpNumPad->setParent(this);
    gpNumCharPad->setParent(this);
    gpNumPad->hide();
    gpNumCharPad->hide();
    gpChooseBox->setWindowFlags(gpChooseBox->windowFlags() | Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint);
    gpLostCameraWarnBox = new LostCameraWarnBox(nullptr);
    gpProductAlarmWarnBox = new ProductAlarmWarnBox(this);
    gpProductAlarmWarnBox->hide();
    // Closing the production alarm switches outputs 0 and 2 off; an NG, the
    // pre-cut or a lost camera that still holds one switches it on again.
    connect(gpProductAlarmWarnBox, &QDialog::accepted, this, &DaRiDoziri::reassertHeldOutputs);
}

void DaRiDoziri::reassertHeldOutputs()
{
    if (!gpControlIO)
        return;
    bool any = false;
    for (int output = 0; output < DetectionCycle::kAlarmOutputCount; ++output) {
        if (isOutputHeld(output)) {
            gpControlIO->IOSetOut(output, 1);
            any = true;
        }
    }
    if (any)
        gpControlIO->IOFlashOut();
}

QString DaRiDoziri::levelText(int level)
{
    switch (level) {
    case 2: return lanText(kRowAdvanced);
    case 1: return lanText(kRowPrimary);
    default: return lanText(kRowUnlogged);
    }
}

QSqlDatabase DaRiDoziri::recordDatabase() const
{
    return m_records->today();
}

void DaRiDoziri::InsertRecord(QString text, QString type)
{
    // The engine records a failed check from the thread that checked the camera;
    // the record database belongs to this thread.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, text, type] { InsertRecord(text, type); }, Qt::QueuedConnection);
        return;
    }
    const QString level = levelText(loginLevel);
    // A record a full disk refused is held and written later: it is passed on all the same.
    m_records->insert(level, text, type);
    emit sigRecordInserted(Clock::now().time().toString(RecordStore::kTimeFormat), level, text, type);
}

void DaRiDoziri::CountWrite()
{
    if (!CountFile::write())
        qWarning() << "count.ini not written";
}

void DaRiDoziri::LCDOnOff(int on)
{
    LedDevice::switchBacklight(on, gpWPara && gpWPara->isSupportLCD());
    lcdOff = on ? 0 : 1;
}

void DaRiDoziri::StopWTD()
{
    if (m_io)
        m_io->setWatchdogFlag(false);
    QThread::sleep(1);
}

void DaRiDoziri::FLushAll()
{
    // The counts since the last minute's save are kept over a stop or a restart.
    ResStatisticsParam::getInstance()->saveNow();
    // What a full disk refused goes down now, into the room the reserve held for it.
    if (!StoredFile::failingPaths().isEmpty()) {
        StoredFile::spendReserve();
        StoredFile::retryPending();
    }
    if (m_records) {
        m_records->writeHeld();
        m_records->close();
    }
    for (const QString& path : StoredFile::failingPaths())
        qWarning().noquote() << "Stored file still not written, its old content stays:" << path;
    if (QSqlDatabase::contains(ParamDatabase::kConnectionName))
        QSqlDatabase::database(ParamDatabase::kConnectionName, false).close();
    QThread::msleep(kFlushWaitMs);
}

bool DaRiDoziri::shutDown(const QString& record, const QString& program, const QStringList& args)
{
    InsertRecord(record, QStringLiteral("operate"));
    StopWTD();
    FLushAll();
    runProgram("sync", {});
    const ShellResult done = runProgram(program, args);
    // Until the box is down (or when it does not go down) the monitor works on: the board
    // is driven again and the parameters can be saved (the records reopen themselves).
    if (m_io)
        m_io->setWatchdogFlag(true);
    openParamDatabase();
    if (!done.ok())
        qWarning().noquote() << program << args.join(' ') << "failed, exit code" << done.exitCode;
    return done.ok();
}

void DaRiDoziri::rebootSystem()
{
    // What waits for the restart (a restored group, a camera order) must not meet the values in
    // memory: without the reboot the program restarts instead.
    if (!shutDown(QStringLiteral("reboot"), "reboot", {}))
        restartProgram();
}

void DaRiDoziri::restartProgram()
{
    FLushAll();
    ShellRunner::instance().startDetached(QCoreApplication::applicationFilePath(),
                                          QCoreApplication::arguments().mid(1), QDir::currentPath());
    // Queued: a quit before the event loop runs (a reboot at start-up) would be lost.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void DaRiDoziri::powerOff()
{
    shutDown(QStringLiteral("power off"), "init", {"0"});
}

void DaRiDoziri::changeLanguage(int language)
{
    if (language < 0 || language >= kLanguageCount || !gpWPara)
        return;
    const int before = gLan;
    gLan = language;
    if (!gpWPara->SaveDatatoFile()) {
        // A restart would come back in the old language, as if it had been changed.
        gLan = before;
        if (gpWarnBox) {
            gpWarnBox->setText(lanText(kRowSaveFailed));
            gpWarnBox->show();
        }
        return;
    }
    restartProgram();
}

int DaRiDoziri::CheckPassword()
{
    if (!gpWPara || gpWPara->isPswUsed == 0)
        return 1;
    if (loginLevel == 0 && gpPasswordBox)
        gpPasswordBox->exec();
    if (loginLevel > 0)
        restartUserTimers();
    return loginLevel;
}

bool DaRiDoziri::CheckRoot()
{
    if (loginLevel == 2)
        return true;
    if (gpPasswordBox)
        gpPasswordBox->exec();
    if (loginLevel > 0)
        restartUserTimers();
    return loginLevel == 2;
}

void DaRiDoziri::restartUserTimers()
{
    if (!gpWPara)
        return;
    if (gpWPara->autoLogout > 0 && loginLevel > 0)
        m_logoutTimer->start(gpWPara->autoLogout * kLogoutMinuteMs);
    if (gpWPara->screenOffTime > 0 && lcdTimer)
        lcdTimer->start(gpWPara->screenOffTime * 1000);
}

void DaRiDoziri::SlotUserActivity()
{
    if (lcdOff)
        LCDOnOff(1);
    restartUserTimers();
}

void DaRiDoziri::SlotLogout()
{
    loginLevel = 0;
}

void DaRiDoziri::SlotLcdTimeout()
{
    LCDOnOff(0);
}

bool DaRiDoziri::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress && watched == this) {
        for (QWidget* pad : {static_cast<QWidget*>(gpNumPad), static_cast<QWidget*>(gpNumCharPad)})
            if (pad && pad->isVisible() && pad != watched)
                pad->hide();
    }
    return MainWindowBase::eventFilter(watched, event);
}

void DaRiDoziri::LostCamera()
{
    qInfo() << "lsotCamera";
    if (runState != kRunStopped && gpControlIO) {
        gpControlIO->IOSetOut(kClampOutput, 1);
        gpControlIO->IOFlashOut();
    }
    if (gpWPara && gpWPara->cameraDisconnect == 0) {
        if (gpWarnBox) {
            gpWarnBox->setText(lanText(kRowCameraUnavailable));
            gpWarnBox->show();
        }
    } else if (gpLostCameraWarnBox) {
        gpLostCameraWarnBox->show();
    }
    update();
    QCoreApplication::processEvents();
}

void DaRiDoziri::SlotCameraLostChanged(bool lost)
{
    if (lost)
        return;
    if (gpLostCameraWarnBox)
        gpLostCameraWarnBox->hide();
    const bool productionAlarm = gpProductAlarmWarnBox && gpProductAlarmWarnBox->isVisible();
    if (gpControlIO && !isOutputHeld(kClampOutput) && !productionAlarm) {
        gpControlIO->IOSetOut(kClampOutput, 0);
        gpControlIO->IOFlashOut();
    }
}

bool DaRiDoziri::isOutputHeld(int output) const
{
    if (output < 0)
        return false;
    if (m_cycle && (m_cycle->heldOutputs() & (1u << output)))
        return true;
    if (output == kClampOutput && m_cycle && m_cycle->isPreCut())
        return true;
    // Stopped detection keeps the clamp interlocked when so configured.
    if (output == kClampOutput && runState == kRunStopped && gpWPara && gpWPara->stopClampOnStop)
        return true;
    if (output == kClampOutput && runState != kRunStopped && m_cycle && m_cycle->anyCameraLost())
        return true;
    // An NG pulse still running ends on its own time, not when another alarm is cleared.
    if (m_io && m_io->isPulsing(output))
        return true;
    return false;
}

int DaRiDoziri::CameraCheck()
{
    for (auto& unit : m_units)
        if (!unit->isConnected())
            return 0;
    return 1;
}

void DaRiDoziri::CameraRestart()
{
    for (auto& unit : m_units)
        if (!unit->isConnected())
            unit->reconnect();
}

void DaRiDoziri::CameraSetSpeed()
{
    for (auto& unit : m_units)
        unit->setSpeed();
}

void DaRiDoziri::Run()
{
    m_cycle->Run();
}

void DaRiDoziri::TimerUp(int detection)
{
    if (detection >= 0 && detection < kMaxDetections && m_cycle->isCounting(detection))
        m_cycle->TimerUp(detection);
}

void DaRiDoziri::CheckNG(bool ng)
{
    m_cycle->CheckNG(ng);
}

void DaRiDoziri::RunAlgorithm(int camera, int detection)
{
    if (detection < 0 || detection >= kMaxDetections)
        return;
    checkDetect = detection;
    for (auto& unit : m_units) {
        if (unit->cameraIndex() == camera) {
            unit->runAlgorithm(detection);
            unit->showCheck(detection);
        }
    }
}

void DaRiDoziri::syncTemplates(int camera, int detection)
{
    VEK_NETMN::getInstance()->companionLink()->syncTempList(QJsonObject{{"camera", camera}, {"detect", detection}});
}

QStringList DaRiDoziri::getPathContext() const
{
    return {QStringLiteral("PARAM.db"), QStringLiteral("RECORD"), QStringLiteral("alarmimage"),
            QStringLiteral("ResStatistics"), QStringLiteral("cnt_net/workspace/log")};
}

QRect DaRiDoziri::cameraArea() const
{
    const bool panelShown = (pIndexButton && !pIndexButton->isHidden()) || (pDrawROIWidget && !pDrawROIWidget->isHidden());
    const int panel = panelShown ? IndexButton::kWidth : 0;
    return QRect(0, 0, qMax(1, width() - panel), qMax(1, height() - kStatusBarHeight));
}

void DaRiDoziri::ChangeCammer()
{
    const QRect area = cameraArea();
    const int count = int(m_units.size());
    if (pIndexButton) {
        pIndexButton->setGeometry(width() - IndexButton::kWidth, 0, IndexButton::kWidth, height() - kStatusBarHeight);
        pIndexButton->raise();
    }
    if (m_ioStatus)
        m_ioStatus->setGeometry(0, height() - kStatusBarHeight, width(), kStatusBarHeight);
    if (pDrawROIWidget && !pDrawROIWidget->isHidden()) {
        pDrawROIWidget->setGeometry(width() - IndexButton::kWidth, 0, IndexButton::kWidth, height() - kStatusBarHeight);
        pDrawROIWidget->raise();
    }
    if (pWizardParaWidget && !pWizardParaWidget->isHidden())
        pWizardParaWidget->setGeometry(rect());
    if (m_scaleSlider)
        m_scaleSlider->move(area.left() + (area.width() - m_scaleSlider->width()) / 2, area.bottom() - m_scaleSlider->height());

    const int columns = count <= 1 ? 1 : count <= 4 ? 2 : count <= 6 ? 3 : 4;
    const int rows = count <= 2 ? 1 : 2;
    const int cellW = area.width() / columns;
    const int cellH = count == 2 ? area.height() : area.height() / rows;
    for (int i = 0; i < count; ++i) {
        QWidget* view = m_units[size_t(i)]->view();
        if (!view)
            continue;
        if (selCamera < count) {
            view->setVisible(i == selCamera);
            if (i == selCamera)
                view->setGeometry(area);
        } else {
            view->setGeometry(area.left() + (i % columns) * cellW, area.top() + (i / columns) * cellH, cellW, cellH);
            view->show();
        }
    }
    for (CammerWidget* widget : m_cameraWidgets) {
        widget->setWinSW();
        widget->setWinSH();
        widget->setShowSW();
        widget->setShowSH();
    }
    MScaleSetToMin();
    update();
}

void DaRiDoziri::updateViews()
{
    for (auto& unit : m_units)
        if (QWidget* view = unit->view())
            view->update();
}

void DaRiDoziri::MScale(float scale)
{
    zoomScale = scale;
    if (qFuzzyCompare(scale, 1.0f)) {
        zoomX = 0;
        zoomY = 0;
    }
    updateViews();
    update();
}

void DaRiDoziri::MScaleSetToMin()
{
    if (m_scaleSlider)
        m_scaleSlider->setToMinValue();
}

void DaRiDoziri::updateMScale(int x, int y)
{
    if (zoomScale <= 1.0)
        return;
    zoomX += x;
    zoomY += y;
    updateViews();
    if (m_scaleSlider)
        m_scaleSlider->startTimer();
}

void DaRiDoziri::resizeEvent(QResizeEvent* event)
{
    MainWindowBase::resizeEvent(event);
    ChangeCammer();
}

void DaRiDoziri::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
}

void DaRiDoziri::updateStartStopText()
{
    if (pIndexButton && pIndexButton->startStopButton())
        pIndexButton->startStopButton()->setText(lanText(runState == kRunStopped ? kRowStartDetection : kRowStopDetection));
}

void DaRiDoziri::StopDetect()
{
    runState = kRunStopped;
    if (m_cycle)
        m_cycle->stopDetection();
    VEK_NETMN::getInstance()->clear_PeriodRecord();
    if (gpControlIO && gpWPara) {
        if (gpWPara->stopClampOnStop)
            gpControlIO->IOSetOut(kClampOutput, 1);
        // The stop's own settings never open an interlock that a standing NG holds.
        if (gpWPara->noEjectorOnStop && !isOutputHeld(kEjectorOutput))
            gpControlIO->IOSetOut(kEjectorOutput, 0);
        if (gpWPara->stopCutOutput4 && !isOutputHeld(kOutput4))
            gpControlIO->IOSetOut(kOutput4, 0);
        gpControlIO->IOFlashOut();
    }
    LEDOnOff(LedDevice::LampRunning, 0);
}

void DaRiDoziri::SlotStartStop()
{
    if (runState == kRunStopped) {
        runState = kRunRunning;
        // A production alarm still on screen keeps the clamp interlocked until it is closed.
        const bool productionAlarmShown = gpProductAlarmWarnBox && gpProductAlarmWarnBox->isVisible();
        if (gpControlIO && gpWPara && gpWPara->stopClampOnStop && !isOutputHeld(kClampOutput)
            && !productionAlarmShown) {
            gpControlIO->IOSetOut(kClampOutput, 0);
            gpControlIO->IOFlashOut();
        }
        InsertRecord(lanText(kRowStartDetection), QStringLiteral("operate"));
    } else {
        if (gpWPara && gpWPara->pswStopDetect && CheckPassword() == 0)
            return;
        StopDetect();
        InsertRecord(lanText(kRowStopDetection), QStringLiteral("operate"));
    }
    updateStartStopText();
    update();
}

void DaRiDoziri::SlotReturn()
{
    // The operator's return lifts a standing NG alarm, the way chosen, and brings back all cameras.
    // It lifts what stood at the tap: an NG decided while the box was open stands. Every NG
    // this thread decided before the tap stood at it, also one of the tap's own millisecond.
    const qint64 tapMs = MonotonicClock::ms() + 1;
    if (pageState == kPageAlarm || (m_cycle && m_cycle->isAlarmed())) {
        const int group = qBound(0, checkDetect, kMaxDetections - 1);
        const int mould = m_cycle ? m_cycle->mouldDetection() : -1;
        // The switch is offered over an NG of another detection than the mould's, whichever
        // was checked last (the mould's own check may follow the product's on one input).
        const QList<int> standing = m_cycle ? m_cycle->liftable(tapMs).keys() : QList<int>();
        const bool withMould = mould >= 0
                               && (standing.isEmpty() ? group != mould
                                                      : std::any_of(standing.cbegin(), standing.cend(),
                                                                    [mould](int d) { return d != mould; }));
        const int method = AlarmClearBox::choose(this, withMould);
        // Teaching may need the password, as the settings ask.
        const bool guarded = gpWPara
                             && ((method == AlarmClearMethod::DontDetect && gpWPara->pswNoDetect)
                                 || (method == AlarmClearMethod::AddAsTemplate && gpWPara->pswAddTemplate));
        if (method == 0 || (guarded && CheckPassword() == 0))
            return;  // cancelled or refused: the alarm stands
        clearAlarmBy(method, group, tapMs);
        InsertRecord(QStringLiteral("alarm cleared"), QStringLiteral("operate"));
    }
    if (!m_cycle || !m_cycle->alarmStands())
        pageState = kPageLive;
    selCamera = numCamera;
    ChangeCammer();
}

void DaRiDoziri::clearAlarmBy(int method, int group, qint64 tapMs)
{
    // What the release lifts is what it teaches, and the camera unit stamps the method on
    // their next pictures: the cameras and detections of the NGs that stood at the tap,
    // not the cameras' state when the box closes nor the detection checked last.
    const DetectionCycle::Lifted lifted = m_cycle->liftable(tapMs);
    for (auto it = lifted.cbegin(); it != lifted.cend(); ++it) {
        for (CammerWidget* widget : qAsConst(m_cameraWidgets)) {
            if (!it.value().contains(widget->camIndex) || widget->camIndex < 0 || widget->camIndex >= kMaxCameras)
                continue;
            alarmClearState[widget->camIndex][it.key()] = method;
            if (method == AlarmClearMethod::DontDetect)
                widget->IgnoreNgPixels(it.key());
            else if (method == AlarmClearMethod::AddAsTemplate)
                reTrain(widget, it.key());
        }
    }
    // A re-detect checks the alarmed detections again, as their trigger input does (with its
    // delay); what they held stays on until that check decides.
    if (method == AlarmClearMethod::Redetect) {
        if (m_cycle->releaseAndRecheck(method, tapMs).isEmpty())
            m_cycle->redetect(group);
    } else if (method == AlarmClearMethod::SwitchToMould) {
        m_cycle->releaseAndRecheck(method, tapMs, m_cycle->mouldDetection());
    } else {
        m_cycle->clearAlarm(method, tapMs);
    }
}

void DaRiDoziri::SlotSystemPara()
{
    if (CheckPassword() == 0)
        return;
    *gpWParaBak = *gpWPara;
    m_panelKeeper->remember();
    if (pIndexButton)
        pIndexButton->SlotShowHideTimeout();
    emit sigOpenSettings();
}

void DaRiDoziri::SlotReTrain()
{
    if (gpWPara && gpWPara->pswAddTemplate && CheckPassword() == 0)
        return;
    const int groups = gpWPara && gpWPara->trigMode == kAllGroupsTrigMode ? kMaxDetections : gDNum;
    // "Camera sampling separately": a camera shown alone is resampled alone; the others keep their templates.
    const bool separately = gpWPara && gpWPara->separateSampling && selCamera >= 0 && selCamera < numCamera;
    for (CammerWidget* widget : m_cameraWidgets) {
        if (separately && widget->camIndex != selCamera)
            continue;
        for (int group = 0; group < groups && group < kMaxDetections; ++group)
            reTrain(widget, group);
    }
    CameraManager* manager = CameraManager::getInstance();
    manager->resetCameraSN();
    manager->saveCameraSN();
    InsertRecord(QStringLiteral("resample"), QStringLiteral("operate"));
    update();
}

void DaRiDoziri::reTrain(CammerWidget* widget, int group)
{
    // The next frame of the group becomes its template 0 and is learnt.
    widget->reTrainPending[group] = true;
    widget->SaveIgnorePoint(group);
    syncTemplates(widget->camIndex, group);
}

void DaRiDoziri::SlotAdjustArea()
{
    if (CheckPassword() == 0)
        return;
    m_panelKeeper->remember();
    emit sigOpenRoiEditor();
}

void DaRiDoziri::SlotManualTrig(int detect)
{
    if (detect < 0)
        return;
    checkDetect = detect;
    for (auto& unit : m_units)
        unit->manualUpdate();
}

void DaRiDoziri::SlotMuliManualTrig()
{
    if (pIndexButton)
        SlotManualTrig(pIndexButton->CurChooseTrig());
}

void DaRiDoziri::SlotOpenIoPage()
{
    IOWidget page(this, m_io.get(), this);
    m_panelKeeper->watch(&page);
    page.move((width() - page.width()) / 2, (height() - page.height()) / 2);
    page.exec();
    update();
}
