#include "vek_netmn.h"

#include "clock.h"
#include "globals.h"
#include "httpapiserver.h"
#include "publictools.h"
#include "systemclock.h"
#include "viewwatch2zel.h"
#include "wizardpara.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

namespace {

constexpr int kNtpWaitMs = 1000;
constexpr int kByteMask = 255;

QJsonObject readConfig(bool* opened = nullptr)
{
    QFile file(QStringLiteral("./") + QString::fromLatin1(VEK_NETMN::kConfigPath));
    const bool isOpen = file.open(QIODevice::ReadOnly);
    if (opened)
        *opened = isOpen;
    if (!isOpen)
        return QJsonObject();
    return QJsonDocument::fromJson(file.readAll()).object();
}

QString nowText()
{
    return Clock::now().toString(QString::fromLatin1(VEK_NETMN::kTimeFormat));
}

QJsonObject roiObject(const param_roi& roi)
{
    QJsonArray algorithm{roi.value,
                         roi.param1 & kByteMask, roi.param2 & kByteMask, roi.param3 & kByteMask,
                         (roi.param1 >> 8) & kByteMask, (roi.param2 >> 8) & kByteMask, (roi.param3 >> 8) & kByteMask};
    return QJsonObject{{"roi_index", roi.roi},
                       {"roi_result", roi.result != 0},
                       {"roi_func", roi.function},
                       {"roi_algorithm", algorithm}};
}

} // namespace

VEK_NETMN* VEK_NETMN::__instance = nullptr;

VEK_NETMN* VEK_NETMN::getInstance()
{
    if (!__instance)
        __instance = new VEK_NETMN();
    return __instance;
}

void VEK_NETMN::endInstance()
{
    delete __instance;
    __instance = nullptr;
}

VEK_NETMN::VEK_NETMN() : HttpManager(VEKT_CLIENT)
{
    m_apiServer = std::make_unique<HttpApiServer>(this);
    m_link = std::make_unique<ViewWatch2ZEL>(this);
    // The switches were just cleared, so this never runs here; kept where the settings dialog expects it.
    if (m_worknetfunc)
        getNTP_Timing_sync();
}

VEK_NETMN::~VEK_NETMN() = default;

QString VEK_NETMN::roiKey(int camera, int group, int roi)
{
    return QStringLiteral("%1;%2;%3").arg(camera).arg(group).arg(roi);
}

void VEK_NETMN::insertRoiResult(const param_roi& result)
{
    // The cameras of a detection are checked at once, each publishing from its own thread.
    QMutexLocker lock(&m_recordLock);
    roiResultCache.insert(roiKey(result.camera, result.group, result.roi), result);
}

QVariant VEK_NETMN::getConfigValue(const QString& key)
{
    bool opened = false;
    const QJsonObject config = readConfig(&opened);
    if (!opened || !config.contains(key))
        return QVariant();
    return config.value(key).toVariant();
}

void VEK_NETMN::setWorkTask(bool net, bool video, bool api)
{
    m_worknetfunc = net;
    m_workvideo = video;
    m_workapifunc = api;
}

void VEK_NETMN::initStart()
{
    bool opened = false;
    const QJsonObject config = readConfig(&opened);
    if (!opened) {
        qWarning() << "network hub: cannot open" << kConfigPath;
        return;
    }
    m_devicename = config.value("devicename").toString();
    m_worknetfunc = config.value("device_worknetfunc").toBool();
    m_workvideo = config.value("device_workvideo").toBool();
    m_workapifunc = config.value("device_workapifunc").toBool();
    const QJsonValue workspace = config.value("workspace");
    m_workspace = workspace.isString() ? workspace.toString() : QString::fromLatin1(kDefaultWorkspace);
    // File names are appended to it directly.
    if (m_workspace.isEmpty())
        m_workspace = QStringLiteral("./");
    else if (!m_workspace.endsWith('/'))
        m_workspace += '/';
    if (!QDir(m_workspace).exists() && !QDir().mkpath(m_workspace))
        qWarning() << "network hub: cannot create workspace" << m_workspace;

    clear_PeriodRecord();
    m_link->init();
    m_apiServer->init();
}

int VEK_NETMN::isAllowSnd_2_VW()
{
    return m_link->isAllowSnd_2_VW();
}

QMap<QString, param_roi> VEK_NETMN::roiResultsCopy()
{
    QMutexLocker lock(&m_recordLock);
    return roiResultCache;
}

QString VEK_NETMN::currentCycleId() const
{
    return lastDetectInfo.getValue().id;
}

void VEK_NETMN::clear_PeriodRecord()
{
    QMutexLocker lock(&m_recordLock);
    roiResultCache.clear();
    lastDetectInfo.clear();
    // No cycle goes on: what one held waits no longer, and what was sent is forgotten.
    m_heldPictures.clear();
    m_sentPictures.clear();
}

void VEK_NETMN::start_PeriodRecord()
{
    QString undecidedId;
    QList<SavedPicture> undecided;
    {
        // Under the record lock, so that a picture of the previous cycle being added
        // from the writer's thread cannot store that cycle back over this one.
        QMutexLocker lock(&m_recordLock);
        roiResultCache.clear();
        if (!m_worknetfunc && !m_workapifunc) {
            lastDetectInfo.clear();
            m_heldPictures.clear();
            return;
        }
        // Held pictures mean the last cycle was never decided: they still go out under its id.
        if (!m_heldPictures.isEmpty()) {
            undecidedId = currentCycleId();
            undecided = takeHeldPictures(undecidedId);
        }
        sAPI_LastDetect_Info info;
        const qint64 startMs = gettimeofday_ms();
        info.starttime = QDateTime::fromMSecsSinceEpoch(startMs).toString(QString::fromLatin1(kTimeFormat));
        info.id = QStringLiteral("V18#%1@%2").arg(m_devicename, QString::number(startMs, 16));
        // Replaces the last cycle in one step: an API reader never finds no cycle in between.
        lastDetectInfo.setValue(info);
        m_link->workStartMs = startMs;
    }
    for (const SavedPicture& picture : undecided)
        sendPicture(picture, undecidedId);
}

void VEK_NETMN::finish_PeriodRecord(bool ng)
{
    if (!m_worknetfunc && !m_workapifunc) {
        clear_PeriodRecord();
        return;
    }
    if (lastDetectInfo.isEmpty())
        return;

    QJsonObject record{{"device_id", m_devicename},
                       {"device_sn", gDeviceID},
                       {"curProjectName", gpWPara ? gpWPara->getCurGroupName() : QStringLiteral("default")}};
    QMap<QString, param_roi> cache;
    {
        QMutexLocker lock(&m_recordLock);
        cache = roiResultCache;
    }
    bool allOk = !ng;
    for (const param_roi& roi : cache)
        allOk = allOk && roi.result != 0;
    record.insert("detail", Parse_CacheDetectedRoiInfos_2_QJsonArray(cache));
    record.insert("detect_result", allOk);

    QString cycleId;
    QList<SavedPicture> held;
    {
        QMutexLocker lock(&m_recordLock);
        const bool stored = lastDetectInfo.update([&](sAPI_LastDetect_Info& info) {
            record.insert("starttime", info.starttime);
            record.insert("finishtime", nowText());
            record.insert("uuid", info.id);
            info.record = record;
            cycleId = info.id;
            for (auto picture = m_heldPictures.cbegin(); picture != m_heldPictures.cend(); ++picture)
                info.pictures.insert(picture.key(), picture->path);
        });
        if (!stored)
            return;
        held = takeHeldPictures(cycleId);
    }

    if (m_workapifunc)
        m_apiServer->finish_PeriodRecord();
    if (m_worknetfunc)
        m_link->sndDetectOnceInfo();
    // Pictures saved before the decision follow their record.
    for (const SavedPicture& picture : held)
        sendPicture(picture, cycleId);

    bool first = false;
    if (!firstCycleResult.tryGetValue(first)) {
        firstCycleResult.setValue(allOk);
        alarmTime.setValue(0);
    } else if (!first) {
        alarmTime.setValue(0);
    } else {
        alarmTime.clear();
    }
}

void VEK_NETMN::add_PeriodRecord_Picture(int camera, int detect, bool ok, QString path, QString cycleId)
{
    if (!m_worknetfunc && !m_workapifunc)
        return;
    // Taken while no cycle was recorded: it belongs to none.
    if (cycleId.isEmpty())
        return;
    const SavedPicture picture{camera, detect, ok, path};
    const QString key = pictureKey(camera, detect, ok);
    {
        QMutexLocker lock(&m_recordLock);
        bool undecided = false;
        lastDetectInfo.update([&](sAPI_LastDetect_Info& info) {
            // An earlier cycle's picture is sent under that cycle's id; its record is gone.
            if (info.id != cycleId)
                return;
            undecided = info.record.isEmpty();
            if (!undecided)
                info.pictures.insert(key, path);
        });
        if (undecided) {
            m_heldPictures.insert(key, picture);
            return;
        }
        if (!firstSending(cycleId, key))
            return;
    }
    sendPicture(picture, cycleId);
}

QString VEK_NETMN::pictureKey(int camera, int detect, bool ok)
{
    return QStringLiteral("%1;%2;%3").arg(camera).arg(detect).arg(ok ? 1 : 0);
}

bool VEK_NETMN::firstSending(const QString& cycleId, const QString& key)
{
    for (auto cycle = m_sentPictures.rbegin(); cycle != m_sentPictures.rend(); ++cycle) {
        if (cycle->first != cycleId)
            continue;
        if (cycle->second.contains(key))
            return false;
        cycle->second.insert(key);
        return true;
    }
    if (m_sentPictures.size() >= kSentCyclesKept)
        m_sentPictures.removeFirst();
    m_sentPictures.append(qMakePair(cycleId, QSet<QString>{key}));
    return true;
}

QList<VEK_NETMN::SavedPicture> VEK_NETMN::takeHeldPictures(const QString& cycleId)
{
    QList<SavedPicture> pictures;
    for (auto picture = m_heldPictures.cbegin(); picture != m_heldPictures.cend(); ++picture) {
        if (firstSending(cycleId, picture.key()))
            pictures << picture.value();
    }
    m_heldPictures.clear();
    return pictures;
}

void VEK_NETMN::sendPicture(const SavedPicture& picture, const QString& cycleId)
{
    if (m_workapifunc)
        publishPicture(picture.camera, picture.detect, picture.ok, picture.path, cycleId);
    if (m_worknetfunc)
        m_link->sndAlarmPicture(picture.camera, picture.detect, picture.ok, picture.path, cycleId);
}

void VEK_NETMN::publishPicture(int camera, int detect, bool ok, const QString& path, const QString& cycleId)
{
    CTask_FormData task;
    task.url = QStringLiteral("/v18/http/post_detected_picture");
    task.uuid = cycleId;
    task.query.insert("camera_index", QString::number(camera));
    task.query.insert("detect_index", QString::number(detect));
    task.query.insert("camera_result", ok ? QStringLiteral("true") : QStringLiteral("false"));
    task.query.insert("picture_name", QFileInfo(path).fileName());
    task.deviceId = gDeviceID;
    task.contentType = QStringLiteral("image/jpeg");
    task.files.insert(path, QByteArray());
    m_apiServer->publish_message(QStringLiteral("detected_picture"), task);
}

QJsonArray VEK_NETMN::Parse_CacheDetectedRoiInfos_2_QJsonArray(QMap<QString, param_roi> cache)
{
    QMap<QString, QList<param_roi>> groups;
    for (const param_roi& roi : cache)
        groups[QStringLiteral("%1;%2").arg(roi.camera).arg(roi.group)].append(roi);

    QJsonArray detail;
    for (auto group = groups.cbegin(); group != groups.cend(); ++group) {
        const QStringList parts = group.key().split(';');
        QMap<int, QJsonObject> rois;
        bool groupOk = true;
        for (const param_roi& roi : group.value()) {
            rois.insert(roi.roi, roiObject(roi));
            groupOk = groupOk && roi.result != 0;
        }
        QJsonArray roiArray;
        for (const QJsonObject& roi : rois)
            roiArray.append(roi);
        detail.append(QJsonObject{{"camera_index", parts.first().toInt()},
                                  {"detect_index", parts.last().toInt()},
                                  {"rois", roiArray},
                                  {"detect_result", groupOk}});
    }
    return detail;
}

void VEK_NETMN::getNTP_Timing_sync()
{
    // One read of the file for both keys.
    const QJsonObject config = readConfig();
    const QJsonValue address = config.value("serveraddr");
    const QJsonValue port = config.value("serverport");
    if (!address.isString() || !port.isString())
        return;
    QNetworkAccessManager manager;
    const QUrl url(QStringLiteral("http://%1:%2/monitor17/api/time").arg(address.toString(), port.toString()));
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(url)));
    QEventLoop loop;
    QTimer::singleShot(kNtpWaitMs, &loop, &QEventLoop::quit);
    connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    if (!reply->isFinished() || reply->error() != QNetworkReply::NoError)
        return;
    const QJsonValue result = QJsonDocument::fromJson(reply->readAll()).object().value("result");
    const QJsonValue time = result.toObject().value("time");
    if (!result.isObject() || !time.isDouble())
        return;
    const QDateTime serverTime = QDateTime::fromMSecsSinceEpoch(qint64(time.toDouble()));
    SystemClock::set(serverTime.toString(QStringLiteral("yyyyMMdd hh:mm:ss")));
}
