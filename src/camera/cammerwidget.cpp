#include "cammerwidget.h"

#include "cameramanager.h"
#include "cameraunithooks.h"
#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "statecodes.h"
#include "wizardpara.h"

#include <QDebug>
#include <QDir>
#include <QJsonObject>
#include <QMutexLocker>
#include <QResizeEvent>
#include <QTimer>

#include <cstring>

// The active ROI store as handed to thermal cameras (setParam id 0).
Q_DECLARE_METATYPE(CammerSingleton*)

namespace {

constexpr int kRowCameraLost = 655;  // "Camera %1 lost for the %2 time!"
constexpr int kSettingSaturation = 10;
constexpr int kSetting3DNoise = 8;
constexpr int kSetting2DNoise = 9;

}  // namespace

CammerWidget::CammerWidget(MainWindowBase* parent, int index, _cameraInfo info)
    : QWidget(parent)
    , m_win(parent)
{
    qRegisterMetaType<CammerSingleton*>("CammerSingleton*");
    camIndex = index;
    pluginName = info.pluginName;
    // The unit keeps at most 99 bytes of the serial and always a terminator.
    const QByteArray serial = info.serial().left(kSerialBytes - 1);
    std::memcpy(cameraSN, serial.constData(), static_cast<size_t>(serial.size()));
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);  // paintEvent paints every pixel
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    hide();

    isColor = gpWPara && camIndex >= 0 && camIndex < kMaxCameras && gpWPara->isColors[camIndex] != 0;
    pCamera = CameraManager::getInstance()->createCamera(info);
    if (pCamera)
        CameraOpen();
    if (!isOpen)
        return;

    connect(pCamera, &CameraInterface::sigCameraLost, this, &CammerWidget::SlotLoss);
    isSimulated = pCamera->cameraType() == 0;

    // Templates are allocated per group in use below, not for all eight.
    allocateBuffers(imageW, imageH, isColor, 0);
    pShowBuf = newFrameBuffer(static_cast<size_t>(frameBytes));

    buildPanel();
    blinkPhase = 0;
    camOK = true;

    const int groups = groupCount();
    historyIndex = 0;
    if (groups >= 1) {
        std::fill(std::begin(reTrainPending), std::begin(reTrainPending) + groups, false);
        loadTemplates(groups);
        for (int g = 0; g < groups; ++g) {
            historyCount[g] = 0;
            groupPassed[g] = false;
            pHistory[g].reset(static_cast<size_t>(frameBytes));
        }
    }
    LoadIgnorePoint();

    m_singleton = std::make_unique<CammerSingleton>(camIndex, this);
    m_singleton->LoadDatafromFile();
    m_singletonEdit = std::make_unique<CammerSingleton>(camIndex, this);
    pSingleton = m_singleton.get();
    pSingletonEdit = m_singletonEdit.get();
    m_recong = std::make_unique<CammerRecong>(pSingleton, this);
    pRecong = m_recong.get();
    requestRepaint = [this] { update(); };

    HotCameraUpdateROI();
    CameraStart();
    initSetting();

    pTimerShowAlarm = new QTimer(this);
    connect(pTimerShowAlarm, &QTimer::timeout, this, &CammerWidget::TimerShowAlarm);
    pTimerFPS = new QTimer(this);
    connect(pTimerFPS, &QTimer::timeout, this, &CammerWidget::TimerFPS);
    pTimerFPS->start(kFpsPollMs);
    m_retryTimer = new QTimer(this);
    m_retryTimer->setSingleShot(true);
    m_retryTimer->setInterval(kRetryMs);
    connect(m_retryTimer, &QTimer::timeout, this, &CammerWidget::retryReconnect);

    isParaShow = false;
    moveMode = 0;
    setCurRoi(-1);
    connect(this, &CammerWidget::clicked, this, &CammerWidget::SlotCheckDoubleClicked);
}

CammerWidget::~CammerWidget() = default;

unsigned char* CammerWidget::newFrameBuffer(size_t bytes)
{
    return m_frames.add(bytes);
}

int CammerWidget::groupCount() const
{
    if (gpWPara && gpWPara->trigMode == kAllGroupsTrigMode)
        return kGroups;
    return qMin(gDNum, static_cast<int>(kGroups));
}

// ---------------------------------------------------------------- camera control

void CammerWidget::CameraOpen()
{
    pCamera->setColorMode(isColor);
    isOpen = pCamera->open();
    if (!isOpen) {
        qInfo() << "camera open fail" << "camera NO " << camIndex << "camera SN" << cameraSN;
        return;
    }
    isColor = pCamera->isColor();
    pCamera->getImageSize(imageW, imageH);
    imageW = qMax(1, imageW);
    imageH = qMax(1, imageH);
    imagePixels = imageW * imageH;
    showSW = screenSW = float(gShowW) / float(imageW);
    showSH = screenSH = float(gShowH) / float(imageH);
    frameBytes = isColor ? 4 * imagePixels : imagePixels;
    initSetting();
}

void CammerWidget::initSetting()
{
    if (!pCamera || !gpWPara)
        return;
    const WizardPara& p = *gpWPara;
    const int c = qBound(0, camIndex, kMaxCameras - 1);
    QJsonObject settings;
    settings.insert("exposetime", p.exposeTime[c]);
    settings.insert("gain", p.adjustPlus[c]);
    settings.insert("contrast", p.contrast[c]);
    settings.insert("sharp", p.sharp[c]);
    settings.insert("gammma", p.gamma[c]);
    settings.insert("saturation", p.saturation[c]);
    settings.insert("ThreeDNoise", p.noise3D[c]);
    settings.insert("TwoDNoise", p.noise2D[c]);
    settings.insert("WDR", p.autoShading != 0);
    settings.insert("VMirror", p.mirrorV[c] != 0);
    settings.insert("HMirror", p.mirrorH[c] != 0);
    settings.insert("sysUsage", p.externalTrigger != 0);
    settings.insert("speed", p.speed);
    settings.insert("fps", p.fps);
    pCamera->applySettings(settings);
}

void CammerWidget::CameraClose()
{
    if (!isOpen)
        return;
    pCamera->close();
    isOpen = false;
}

bool CammerWidget::CameraStart()
{
    if (!isOpen)
        return false;
    pCamera->start();
    return true;
}

void CammerWidget::CameraStop()
{
    if (isOpen)
        pCamera->stop();
}

bool CammerWidget::settingsScreenShown()
{
    const auto& shown = CameraUnitHooks::instance().settingsScreenShown;
    return shown && shown();
}

const WizardPara* CammerWidget::settingsRecord() const
{
    const bool editing = settingsScreenShown();
    return editing && gpWParaBak ? gpWParaBak : gpWPara;
}

template <typename Send>
void CammerWidget::applySetting(bool stopAround, Send send)
{
    const WizardPara* record = settingsRecord();
    if (!isOpen || !record)
        return;
    if (stopAround)
        CameraStop();
    send(*record, qBound(0, camIndex, kMaxCameras - 1));
    if (stopAround)
        CameraStart();
}

void CammerWidget::SetExposeTime()
{
    applySetting(false, [this](const WizardPara& p, int c) { pCamera->setExposeTime(p.exposeTime[c]); });
}

void CammerWidget::SetAdjustPlus()
{
    applySetting(false, [this](const WizardPara& p, int c) { pCamera->setAdjustPlus(p.adjustPlus[c]); });
}

void CammerWidget::SetSharp()
{
    applySetting(false, [this](const WizardPara& p, int c) { pCamera->setSharp(p.sharp[c]); });
}

void CammerWidget::SetContrast()
{
    applySetting(false, [this](const WizardPara& p, int c) { pCamera->setContrast(p.contrast[c]); });
}

void CammerWidget::SetGamma()
{
    applySetting(false, [this](const WizardPara& p, int c) { pCamera->setGamma(p.gamma[c]); });
}

void CammerWidget::SetSaturation()
{
    applySetting(false, [this](const WizardPara& p, int c) {
        pCamera->setParam(QVariant(double(p.saturation[c])), kSettingSaturation);
    });
}

void CammerWidget::Set3DNoise()
{
    applySetting(false, [this](const WizardPara& p, int c) {
        pCamera->setParam(QVariant(double(p.noise3D[c])), kSetting3DNoise);
    });
}

void CammerWidget::Set2DNoise()
{
    applySetting(false, [this](const WizardPara& p, int c) {
        pCamera->setParam(QVariant(double(p.noise2D[c])), kSetting2DNoise);
    });
}

void CammerWidget::SetWDR()
{
    applySetting(true, [this](const WizardPara& p, int) { pCamera->setWDR(p.autoShading != 0); });
}

void CammerWidget::SetHMirror()
{
    applySetting(true, [this](const WizardPara& p, int c) { pCamera->setHMirror(p.mirrorH[c] != 0); });
}

void CammerWidget::SetVMirror()
{
    applySetting(true, [this](const WizardPara& p, int c) { pCamera->setVMirror(p.mirrorV[c] != 0); });
}

void CammerWidget::SetSpeed()
{
    // The speed always comes from the live record.
    if (!isOpen || !gpWPara)
        return;
    CameraStop();
    pCamera->setSpeed(gpWPara->speed);
    CameraStart();
}

bool CammerWidget::UpdateImage()
{
    // A released camera is not polled until it is connected again.
    if (!pCamera || !isConnected)
        return false;
    const bool fresh = pCamera->grabImage(pCaptureBuf);
    const bool editorLive = gSource == kSourceMain || gSource == kSourceLive;
    const bool external = gpWPara && gpWPara->externalTrigger != 0;
    const bool frozenAlarm = gpWPara && gpWPara->suppressRefreshAfterAlarm != 0 && m_win && m_win->pageState == kPageAlarm;
    // Repainted only when the shown frame changes: a new frame, or the live frame
    // back after a checked or recorded one. A view without new frames costs
    // nothing, and the flag tells it without comparing the frames ten times a second.
    if (editorLive && !external && !frozenAlarm && (fresh || !m_showIsLive)) {
        // A frame with the bytes already shown (a still scene from a simulated
        // camera) is neither copied nor scaled again; real frames differ early.
        const size_t bytes = static_cast<size_t>(frameBytes);
        if (std::memcmp(pShowBuf, pCaptureBuf, bytes) != 0) {
            std::memcpy(pShowBuf, pCaptureBuf, bytes);
            ++m_shownSerial;
        }
        m_showIsLive = true;
        update();
    }
    return fresh;
}

void CammerWidget::showFrame(const unsigned char* frame)
{
    std::memcpy(pShowBuf, frame, static_cast<size_t>(frameBytes));
    ++m_shownSerial;
    m_showIsLive = false;
}

void CammerWidget::ManualUpdateImage()
{
    if (isOpen && isSimulated)
        pCamera->manualUpdate();
}

void CammerWidget::CameraChangeTrig(bool on)
{
    if (isOpen)
        pCamera->setTriggerMode(on);
}

void CammerWidget::RestoreDefaultSettings()
{
    if (!pCamera || !gpWParaBak)
        return;
    WizardPara& p = *gpWParaBak;
    const int c = qBound(0, camIndex, kMaxCameras - 1);
    QJsonObject settings{
        {"exposeTime", p.exposeTime[c]}, {"adjustPlus", p.adjustPlus[c]}, {"sharp", p.sharp[c]},
        {"contrast", p.contrast[c]},     {"gamma", p.gamma[c]},           {"isHMirror", p.mirrorH[c]},
        {"isVMirror", p.mirrorV[c]},     {"speed", p.speed},              {"sysUsage", p.externalTrigger},
        {"isWDR", p.autoShading},
    };
    pCamera->restoreDefaults(settings, camIndex);
    // A key the camera left out keeps the current value instead of becoming 0.
    const struct { const char* key; int* field; } readBack[] = {
        {"exposeTime", &p.exposeTime[c]}, {"adjustPlus", &p.adjustPlus[c]}, {"sharp", &p.sharp[c]},
        {"contrast", &p.contrast[c]},     {"gamma", &p.gamma[c]},           {"speed", &p.speed},
    };
    for (const auto& entry : readBack) {
        const QJsonValue value = settings.value(entry.key);
        if (!value.isUndefined())
            *entry.field = value.toInt(*entry.field);
    }
}

void CammerWidget::HotCameraUpdateROI()
{
    if (pCamera)
        pCamera->setParam(QVariant::fromValue(pSingleton), 0);
}

void CammerWidget::TimerFPS()
{
    if (pCamera)
        pCamera->getFps(fps);
}

// ---------------------------------------------------------------- camera loss

void CammerWidget::SlotLoss()
{
    // A second loss while reconnecting changes nothing: one retry timer per unit.
    if (!isConnected)
        return;
    isConnected = false;
    if (m_win)
        m_win->LostCamera();
    pCamera->release();
    update();
    ++lossCount;
    if (m_win)
        m_win->InsertRecord(lanText(kRowCameraLost).arg(camIndex + 1).arg(lossCount), "info");
    m_retryTimer->start();
}

void CammerWidget::retryReconnect()
{
    // The main window's camera restart may have brought it back already.
    if (isConnected)
        return;
    isConnected = pCamera->reconnect();
    if (!isConnected) {
        m_retryTimer->start();
        return;
    }
    initSetting();
    qInfo() << "camera" << camIndex << "reconnect." << "sn " << cameraSN;
}

// ---------------------------------------------------------------- layout

void CammerWidget::resizeEvent(QResizeEvent* event)
{
    setWinSW();
    setWinSH();
    setShowSW();
    setShowSH();
    if (pBtnSyncROI)
        layBottomRow();
    QWidget::resizeEvent(event);
}

void CammerWidget::setWinSW() { winSW = float(width()) / float(qMax(1, gShowW)); }
void CammerWidget::setWinSH() { winSH = float(height()) / float(qMax(1, gShowH)); }
void CammerWidget::setShowSW() { showSW = float(width()) / float(qMax(1, imageW)); }
void CammerWidget::setShowSH() { showSH = float(height()) / float(qMax(1, imageH)); }
