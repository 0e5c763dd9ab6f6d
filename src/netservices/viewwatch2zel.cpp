#include "viewwatch2zel.h"

#include "childprocess.h"
#include "clock.h"
#include "cnt_semaphore.h"
#include "globals.h"
#include "hostpaths.h"
#include "mainwindowbase.h"
#include "publictools.h"
#include "recordedprocess.h"
#include "shellrunner.h"
#include "tcpclireactor.h"
#include "vek_netmn.h"
#include "videothread.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QThread>
#include <QTimer>
#include <sys/ipc.h>
#include <sys/shm.h>

namespace {

constexpr const char* kHeartbeatUrl = "/inline/bymain/heartbeat";
constexpr const char* kUuidFile = "/proc/sys/kernel/random/uuid";
constexpr const char* kShareDir = "/tmp";
constexpr int kShmMode = 0666;
constexpr int kStoppedRunState = 3;
constexpr int kPageNum = 1;
constexpr int kPageSize = 10;
constexpr double kTenthsPerSecond = 10.0;
constexpr int kMsPerTenth = 100;

struct StateText
{
    bool byResult;   // the result state, else the run state
    int state;
    const char* text;
};
// First match wins.
const StateText kDeviceStates[] = {
    {true, 2, "检测完毕NG"}, {true, 3, "设置区域中"}, {true, 1, "检测完毕OK"},
    {false, 2, "模板训练中"}, {false, 1, "运行中"}, {false, 3, "停止检测"},
};

struct ClearMethod
{
    int method;
    const char* text;
};
const ClearMethod kClearMethods[] = {
    {4, "不检测此模解除"}, {5, "添加为模板解除"}, {6, "重新检测切换到模腔检测"},
    {7, "进行重检检测"}, {8, "重检检测OK"},
};

// The System V key of a share: "/tmp" and the project id "<prefix><camera>".
int shareKey(const char* prefix, int camera)
{
    return ftok(kShareDir, QStringLiteral("%1%2").arg(QLatin1String(prefix)).arg(camera).toInt());
}

} // namespace

qint64 ViewWatch2ZEL::s_ticks = 0;
QString ViewWatch2ZEL::s_lastReportHour;
int ViewWatch2ZEL::s_reportRepeats = 0;

ViewWatch2ZEL::ViewWatch2ZEL(VEK_NETMN* hub)
    : HttpManager(VEKT_CLIENT), m_hub(hub), m_heartbeatTimer(new QTimer(this)), m_workTimer(new QTimer(this))
{
    workStartMs = gettimeofday_ms();
    routes_.insert(QString::fromLatin1(kHeartbeatUrl), [this](CTask_FormData task) { handle_HeartBeat(task); });
    m_heartbeatTimer->setInterval(kHeartbeatTickMs);
    connect(m_heartbeatTimer, &QTimer::timeout, this, &ViewWatch2ZEL::SlotTimerHB);
    m_workTimer->setInterval(kWorkTickMs);
    connect(m_workTimer, &QTimer::timeout, this, &ViewWatch2ZEL::update_running_time);
    // The companion reports this program's state: it ends with it (the hub itself is never destroyed).
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
            startVideo(false);
            endCompanion();
        });
}

ViewWatch2ZEL::~ViewWatch2ZEL()
{
    startVideo(false);
    // The segments stay for the companion; only this process lets go of them.
    detachShares();
}

void ViewWatch2ZEL::setCompanion(const QString& program, quint16 port)
{
    m_program = program;
    m_port = port;
}

qint64 ViewWatch2ZEL::companionPid() const
{
    return companionRunning() ? m_companion->processId() : -1;
}

void ViewWatch2ZEL::init()
{
    if (!m_hub->isNetWorking()) {
        endCompanion();
        RecordedProcess::endLeftover(QString::fromLatin1(kPidFile));
        startVideo(false);
        destoryVideoShare();
        m_heartbeatTimer->stop();
        m_workTimer->stop();
        isAllowSnd_2_VW();
        return;
    }
    startCompanion();
    connectReactor();
    if (m_hub->isVideoWorking()) {
        createVideoShare(0, kShareWidth, kShareHeight);
        startVideo(true);
        sndVideoMeminfo();
    }
    if (!m_heartbeatTimer->isActive())
        m_heartbeatTimer->start();
    if (!m_workTimer->isActive())
        m_workTimer->start();
    isAllowSnd_2_VW();
}

void ViewWatch2ZEL::startCompanion()
{
    endCompanion();
    const QString pidFile = QString::fromLatin1(kPidFile);
    const qint64 leftover = RecordedProcess::endLeftover(pidFile);
    if (leftover > 0)
        qWarning() << "companion left over from an earlier run ended:" << leftover;
    const QString config = QDir::currentPath() + QLatin1Char('/') + QLatin1String(kConfigFile);
    m_companion = ShellRunner::instance().startChild(m_program, {config});
    m_companionStartMs = MonotonicClock::ms();
    m_lastAnswerMs = 0;
    if (!m_companion)
        return;
    QString error;
    if (!RecordedProcess::record(pidFile, m_companion->processId(), &error))
        qWarning().noquote() << "companion not recorded:" << error;
    connect(m_companion.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError) {
        if (m_companion)
            qWarning().noquote() << "companion:" << m_program << m_companion->errorString();
    });
    qInfo().noquote() << "companion started:" << m_program << config;
}

void ViewWatch2ZEL::endCompanion()
{
    if (!m_companion)
        return;
    m_companion.reset();
    RecordedProcess::forget(QString::fromLatin1(kPidFile));
}

bool ViewWatch2ZEL::companionRunning() const
{
    return m_companion && m_companion->isRunning();
}

void ViewWatch2ZEL::connectReactor()
{
    // A companion that accepts nothing holds a connect for its whole wait: never in this thread.
    auto* client = qobject_cast<VEKC::TcpCliReactor*>(reactor_.data());
    if ((client && client->connecting()) || !makeReactor(1))
        return;
    client = qobject_cast<VEKC::TcpCliReactor*>(reactor_.data());
    connect(client, &VEKC::TcpCliReactor::connectFinished, this, [this, client](bool ok) {
        if (reactor_.data() == client)
            onConnected(ok);
    }, Qt::QueuedConnection);
    client->connectInBackground(QHostAddress(QHostAddress::LocalHost), m_port);
}

void ViewWatch2ZEL::onConnected(bool ok)
{
    if (ok) {
        sndHeartBeat();
        sndVideoMeminfo();
    }
    isAllowSnd_2_VW();
}

int ViewWatch2ZEL::isAllowSnd_2_VW()
{
    int state = SendAllowed;
    if (!m_hub->isNetWorking() || !reactor_)
        state = NoNetworking;
    else if (!getSoftCnted())
        state = NoLink;
    else if (!cntserver)
        state = NoServer;
    else if (!m_register)
        state = NotRegistered;
    m_allowState = state;
    return state;
}

bool ViewWatch2ZEL::getSoftCnted()
{
    auto* client = qobject_cast<VEKC::TcpCliReactor*>(reactor_.data());
    return client && client->hasSession() && gettimeofday_ms() - client->softCntedTime_ < kReceiveWindowMs;
}

void ViewWatch2ZEL::SlotTimerHB()
{
    ++s_ticks;
    if (s_ticks % kRestartTicks == 0) {
        qInfo() << "restart time up by 15min";
        init();
        return;
    }
    const qint64 silentMs = MonotonicClock::ms() - qMax(m_companionStartMs, m_lastAnswerMs);
    if (silentMs >= kAnswerGraceMs) {
        // Gone, or alive but hung (it may still take connections): ended and started again.
        qWarning() << "companion answered no heartbeat for" << silentMs << "ms: started again";
        init();
        return;
    }
    if (getSoftCnted()) {
        if (s_ticks % kHeartbeatEveryTicks == 0)
            sndHeartBeat();
        isAllowSnd_2_VW();
        return;
    }
    cntserver = false;
    connectReactor();
    isAllowSnd_2_VW();
}

void ViewWatch2ZEL::handle_HeartBeat(const CTask_FormData& answer)
{
    m_lastAnswerMs = MonotonicClock::ms();
    cntserver = m_register = needokimg = needvideo = false;
    const QJsonValue result = answer.json.value("result");
    if (result.isObject()) {
        const QJsonObject flags = result.toObject();
        auto take = [&flags](const char* key, bool& flag) {
            const QJsonValue value = flags.value(QLatin1String(key));
            flag = value.isBool() && value.toBool();
        };
        take("cntserver", cntserver);
        take("register", m_register);
        take("needokimg", needokimg);
        take("needvideo", needvideo);
    }
    isAllowSnd_2_VW();
}

QString ViewWatch2ZEL::deviceState() const
{
    if (gpWin) {
        for (const StateText& row : kDeviceStates)
            if ((row.byResult ? gpWin->resultState : gpWin->runState) == row.state)
                return QString::fromUtf8(row.text);
    }
    return QStringLiteral("UNKNOW");
}

void ViewWatch2ZEL::post(const char* url, const QJsonObject& body, const QString& uuid)
{
    if (!reactor_)
        return;
    CTask_FormData task;
    task.method = QStringLiteral("POST");
    task.url = QString::fromLatin1(url);
    task.uuid = uuid;
    task.json = body;
    sendAsync(task);
}

void ViewWatch2ZEL::sndHeartBeat()
{
    post(kHeartbeatUrl, {{"deviceBaseinfo", QString::fromUtf8("cpu：10%，memory：10%，disk：10%")},
                         {"deviceState", deviceState()},
                         {"isPutVideo", m_hub->isVideoWorking()},
                         {"cameracount", numCamera}});
}

void ViewWatch2ZEL::sndVideoMeminfo()
{
    QJsonArray shares;
    for (const VideoShareInfo& share : m_shares)
        shares.append(QJsonObject{{"shmid", share.shmid}, {"semid", share.semid}, {"cameraid", share.cameraId},
                                  {"size", share.size}, {"width", share.width}, {"height", share.height},
                                  {"fps", share.fps}});
    post("/inline/bymain/offervideomem", {{"memoryinfo", shares}});
}

void ViewWatch2ZEL::updataAlarmInfo()
{
    if (!allowed())
        return;
    QFile file(HostPaths::path(QString::fromLatin1(kUuidFile)));
    if (file.open(QIODevice::ReadOnly))
        m_alarmUuid = QString::fromLatin1(file.readAll()).remove('\n');
    else
        m_alarmUuid = QString::number(gettimeofday_ms());
    m_clearMethod.clear();
    alarmState = AlarmRunning;
}

void ViewWatch2ZEL::sndAlarmStartTiming(int detect)
{
    if (!allowed())
        return;
    updataAlarmInfo();
    const QJsonObject body{{"alarm_detect", detect}, {"uuid", m_alarmUuid}};
    m_alarmStartMs = gettimeofday_ms();
    post("/inline/bymain/alarm_starttiming", body);
}

void ViewWatch2ZEL::addClearMethod(int camera, int method)
{
    if (!allowed()) {
        m_clearMethod.clear();
        return;
    }
    QString text = QStringLiteral("unknow");
    for (const ClearMethod& row : kClearMethods)
        if (row.method == method)
            text = QString::fromUtf8(row.text);
    m_clearMethod += QString::fromUtf8(" 相机%1:").arg(camera + 1) + text;
}

void ViewWatch2ZEL::sndAlarmFinishTiming()
{
    if (!allowed() || alarmState != AlarmReleased)
        return;
    alarmState = NoAlarm;
    const QJsonObject body{{"clear_method", m_clearMethod}, {"uuid", m_alarmUuid}};
    const qint64 elapsed = gettimeofday_ms() - m_alarmStartMs;
    m_hub->alarmTime.update([elapsed](int& value) { value = int(elapsed); });
    post("/inline/bymain/alarm_finishtiming", body);
}

void ViewWatch2ZEL::sndAlarmPicture(int camera, int detect, bool ok, QString path, QString cycleId)
{
    auto send = [this, camera, detect, ok, path, cycleId] {
        if (!allowed() || (ok && !needokimg))
            return;
        post("/inline/bymain/alarmpicture",
             {{"camera", camera}, {"detect", detect}, {"result", ok ? 1 : 0}, {"alarmpic_path", path},
              {"uuid", m_alarmUuid}},
             cycleId);
    };
    // The reactor and the flags belong to the GUI thread.
    if (QThread::currentThread() == thread())
        send();
    else
        QMetaObject::invokeMethod(this, send, Qt::QueuedConnection);
}

void ViewWatch2ZEL::sndRecordOperate(QJsonObject record)
{
    if (allowed())
        post("/inline/bymain/recordoperate", record);
}

void ViewWatch2ZEL::syncTempList(QJsonObject list)
{
    if (allowed())
        post("/inline/bymain/synctemplist", {{"cameraId", list.value("camera")}, {"detectId", list.value("detect")},
                                             {"pagenum", kPageNum}, {"pagesize", kPageSize}});
}

void ViewWatch2ZEL::update_running_time()
{
    const qint64 now = Clock::nowMSecsSinceEpoch();
    if (gpWin && gpWin->runState != kStoppedRunState && now - workStartMs <= kWorkingWindowMs)
        ++workingMinutes;
    else
        ++stoppedMinutes;
    const QDateTime moment = Clock::now();
    const QString hour = moment.toString(QStringLiteral("yyyyMMdd_hh"));
    if (hour == s_lastReportHour && s_reportRepeats++ < kReportEveryTicks - 1)
        return;
    s_reportRepeats = 0;
    s_lastReportHour = hour;
    post("/inline/bymain/working_time_record",
         {{"working_time", workingMinutes}, {"stop_time", stoppedMinutes},
          {"record_timepart", moment.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))}});
    workingMinutes = stoppedMinutes = 0;
}

void ViewWatch2ZEL::sndDetectOnceInfo()
{
    if (!allowed())
        return;
    const QMap<QString, param_roi> cache = m_hub->roiResultsCopy();
    bool allOk = true;
    // Keys "camera;group" in text order; the ROIs of a group in the text order of their keys.
    QMap<QString, QJsonArray> groups;
    for (const param_roi& roi : cache) {
        allOk = allOk && roi.result == 1;
        groups[QStringLiteral("%1;%2").arg(roi.camera).arg(roi.group)].append(
            QJsonObject{{"roi_id", roi.roi}, {"algorithm_type", roi.function}, {"algorithm_result", roi.value},
                        {"algorithm_sensitivity", roi.param1}, {"algorithm_areaMin", roi.param2},
                        {"is_alarm", roi.result}});
    }
    QJsonArray detail;
    for (auto group = groups.cbegin(); group != groups.cend(); ++group) {
        const QStringList parts = group.key().split(';');
        detail.append(QJsonObject{{"camera", parts.first().toInt()}, {"detect", parts.last().toInt()},
                                  {"roi_detail", group.value()}});
    }
    int alarmMs = 0;
    const int alarmTenths = m_hub->alarmTime.tryGetValue(alarmMs) ? alarmMs / kMsPerTenth : 0;
    const int cycleTenths = gpWin ? gpWin->lastCycleTime : 0;
    post("/inline/bymain/detectonceinfo",
         {{"result", allOk}, {"dtime", (cycleTenths - alarmTenths) / kTenthsPerSecond}, {"detect_detail", detail}},
         m_hub->currentCycleId());
}

void ViewWatch2ZEL::createVideoShare(int camera, int width, int height)
{
    // The share made by an earlier pass is kept: attaching again would map the segment anew each time.
    const auto kept = m_shares.constFind(camera);
    if (kept != m_shares.cend() && kept->usable() && kept->width == width && kept->height == height) {
        const VideoShareInfo share = kept.value();
        if (m_shares.size() > 1) {
            startVideo(false);
            m_shares.remove(camera);
            detachShares();
        }
        m_shares = {{camera, share}};
        return;
    }
    // No writer may be left on a segment about to be let go.
    startVideo(false);
    detachShares();
    m_shares.clear();

    VideoShareInfo share;
    share.cameraId = camera;
    share.width = width;
    share.height = height;
    share.size = width * height * 3 / 2;
    share.shmid = shmget(shareKey("100", camera), size_t(share.size), IPC_CREAT | kShmMode);
    if (share.shmid != -1) {
        void* address = shmat(share.shmid, nullptr, 0);
        share.address = address == reinterpret_cast<void*>(-1) ? nullptr : address;
    }
    share.semaphore = QSharedPointer<CNT_Semaphore>::create(shareKey("200", camera));
    share.semid = share.semaphore->create_sem(1);
    if (!share.usable())
        qWarning() << "video share not made for camera" << camera << "shmid" << share.shmid << "semid" << share.semid;
    m_shares.insert(camera, share);
}

void ViewWatch2ZEL::detachShares()
{
    for (VideoShareInfo& share : m_shares) {
        if (share.address)
            shmdt(share.address);
        share.address = nullptr;
    }
}

void ViewWatch2ZEL::destoryVideoShare()
{
    qInfo() << "destoryVideoShare";
    startVideo(false);
    detachShares();
    for (VideoShareInfo& share : m_shares) {
        if (share.shmid != -1)
            shmctl(share.shmid, IPC_RMID, nullptr);
        if (share.semaphore)
            share.semaphore->remove();
    }
    qInfo() << "end" << "destoryVideoShare";
}

void ViewWatch2ZEL::startVideo(bool on)
{
    if (m_video) {
        m_video->idestory();
        m_video.reset();
    }
    if (on)
        m_video = std::make_unique<VideoThread>(m_shares, &m_allowState);
}
