#include "httpapiserver.h"

#include "globals.h"
#include "mainwindowbase.h"
#include "resstatisticsdatabase.h"
#include "systemclock.h"
#include "tcpservreactor.h"
#include "sci_execobj_send.h"
#include "vek_netmn.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QJsonArray>
#include <QThreadPool>
#include <QSettings>
#include <algorithm>

namespace {

const char kApiOffText[] = "未启用API服务";
const char kNoCycleText[] = "获取列表为空，需要先检测后获取信息。";
const char kBadParamText[] = "参数错误";
const char kNoPictureText[] = "未查询到图片";
const char kClockFormatText[] = "时间格式错误";
const char kClockFailedText[] = "修改系统时间失败";
constexpr int kStatusForbidden = 403;
constexpr int kStatusBusy = 503;
const char kBusyText[] = "服务器忙碌中";

// The result of get_last_detectinfo: the cycle record and its pictures.
QJsonObject lastDetectResult(const VEK_NETMN::sAPI_LastDetect_Info& info)
{
    QJsonArray pictures;
    for (auto it = info.pictures.cbegin(); it != info.pictures.cend(); ++it) {
        const QStringList key = it.key().split(';');
        pictures.append(QJsonObject{{"camera_index", key.value(0).toInt()},
                                    {"detect_index", key.value(1).toInt()},
                                    {"detect_result", key.value(2).toInt() == 1},
                                    {"picture_name", QFileInfo(it.value()).fileName()}});
    }
    QJsonObject json = info.record;
    json.insert("pictures", pictures);
    return json;
}

} // namespace

QJsonObject HttpApiServer::errorString(const char* text)
{
    return QJsonObject{{"errorstring", QString::fromUtf8(text)}};
}

const HttpApiServer::Route HttpApiServer::kRoutes[] = {
    {"/v18/http/get_product_infos", &HttpApiServer::httpapi__get_product_infos, true},
    {"/v18/http/production_count_bytime", &HttpApiServer::httpapi__get_production_count_bytime, true},
    {"/v18/http/get_last_detectinfo", &HttpApiServer::httpapi__get_last_detailinfo, true},
    {"/v18/http/get_detected_picture", &HttpApiServer::httpapi__get_detected_picture, true},
    {"/v18/http/get_records", &HttpApiServer::httpapi__get_records, true},
    {"/v18/http/set_clear_curcount", &HttpApiServer::httpapi__set_clear_curcount, false},
    {"/v18/http/set_localclock", &HttpApiServer::httpapi__set_localclock, false},
    {"/v18/http/subscriber_baseinfo", &HttpApiServer::httpapi__subscriber_baseinfo, false},
};

HttpApiServer::HttpApiServer(VEK_NETMN* hub) : HttpManager(VEKT_SERVER), m_hub(hub)
{
    NetLimits limits;
    limits.maxBodyBytes = kMaxRequestBodyBytes;
    limits.bodyBudgetBytes = kRequestBodyBudgetBytes;
    setNetLimits(limits);
    setReactorThreads(kReactorThreads);
    m_publishDelay.setSingleShot(true);
    m_publishDelay.setInterval(kPublishDelayMs);
    connect(&m_publishDelay, &QTimer::timeout, this, &HttpApiServer::slot_delay_publish_detectinfo);
    m_snapshotRefresh.setInterval(kSnapshotRefreshMs);
    connect(&m_snapshotRefresh, &QTimer::timeout, this, &HttpApiServer::publishSnapshot);
    std::atomic_store(&m_snapshot, ApiSnapshotPtr(std::make_shared<ApiSnapshot>()));
    std::atomic_store(&m_lastDetectReply, std::make_shared<const LastDetectReply>());
    m_queryPool = std::make_unique<QThreadPool>();
    m_queryPool->setMaxThreadCount(1);   // one query at a time: they share the disk anyway

    // Every route answers 403 while the API switch is off.
    for (const Route& route : kRoutes) {
        const Handler handler = route.handler;
        routes_.insert(QString::fromLatin1(route.url), [this, handler](CTask_FormData task) {
            if (!m_hub->isApiWorking()) {
                callback_immediately(task, kStatusForbidden, QString::fromUtf8(kApiOffText));
                return;
            }
            (this->*handler)(task);
        });
        if (route.readOnly)
            arrivalRoutes_.insert(QString::fromLatin1(route.url));
    }
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &HttpApiServer::endPushes);
}

HttpApiServer::~HttpApiServer()
{
    // The reactor threads must end before the routes they call into go away; a query
    // still running then answers nobody.
    {
        QMutexLocker lock(&m_reactorLock);
        stopReactor();
    }
    m_queryPool->waitForDone();
    endPushes();
}

bool HttpApiServer::startReactor(QHostAddress const& address, quint16 port, int mode)
{
    QMutexLocker lock(&m_reactorLock);
    return HttpManager::startReactor(address, port, mode);
}

void HttpApiServer::setListenAddress(const QHostAddress& address, quint16 port)
{
    m_listenAddress = address;
    m_listenPort = port;
}

quint16 HttpApiServer::serverPort() const
{
    const auto* server = qobject_cast<VEKC::TcpServReactor*>(reactor_.data());
    return server ? server->serverPort() : 0;
}

void HttpApiServer::publishSnapshot()
{
    ApiSnapshot now = ApiSnapshot::capture(*m_hub);
    const ApiSnapshotPtr current = snapshot();
    if (current->sameAs(now) && !current->productInfosReply.isEmpty())
        return;   // the replies made from it stay valid
    CTask_FormData reply;
    reply.json = now.productInfos;
    now.productInfosReply = SCI_ExecObj_Send::replyBody(reply);
    std::atomic_store(&m_snapshot, ApiSnapshotPtr(std::make_shared<const ApiSnapshot>(std::move(now))));
}

void HttpApiServer::init()
{
    publishSnapshot();
    m_snapshotRefresh.start();
    // The listener runs whatever the API switch says; the handlers answer 403 while it is off.
    if (!startReactor(m_listenAddress, m_listenPort, kApiMode))
        qWarning() << "HTTP API: cannot listen on port" << m_listenPort;
    m_subscriberSettings = std::make_unique<QSettings>(m_hub->workspace() + QString::fromLatin1(kSubscriberFile),
                                                       QSettings::IniFormat);
    m_subscribers = m_subscriberSettings->value(QString::fromLatin1(kSubscriberKey)).toMap();
    // Entries stored before subscriptions were checked must not be pushed to at every start.
    bool dropped = false;
    for (auto it = m_subscribers.begin(); it != m_subscribers.end();) {
        const QStringList parts = it.key().split(';');
        const bool valid = parts.size() == 3 && validSubscription(parts.at(0), QJsonValue(parts.at(1).toInt()), parts.at(2))
                           && QString::number(parts.at(1).toInt()) == parts.at(1);
        dropped = dropped || !valid;
        it = valid ? it + 1 : m_subscribers.erase(it);
    }
    if (dropped) {
        qWarning() << "[Subscriber]" << "invalid stored subscriptions dropped";
        saveSubscribers();
    }
    retireUnsubscribedPushTargets();
}

CTask_FormData HttpApiServer::replyTo(const CTask_FormData& request) const
{
    CTask_FormData reply;
    reply.uuid = request.uuid;
    reply.sessionId = request.sessionId;
    reply.deviceId = snapshot()->deviceSn;
    return reply;
}

void HttpApiServer::replyJson(const CTask_FormData& request, const QJsonObject& json)
{
    CTask_FormData reply = replyTo(request);
    reply.json = json;
    sendAsync(reply);
}

void HttpApiServer::httpapi__get_product_infos(const CTask_FormData& request)
{
    const ApiSnapshotPtr now = snapshot();
    CTask_FormData reply = replyTo(request);
    reply.deviceId = now->deviceSn;
    reply.preparedJson = now->productInfosReply;
    reply.headers.insert(QStringLiteral("Access-Control-Allow-Origin"), QStringLiteral("*"));
    sendAsync(reply);
}

void HttpApiServer::httpapi__get_production_count_bytime(const CTask_FormData& request)
{
    const QJsonValue start = request.json.value("starttime");
    const QJsonValue finish = request.json.value("finishtime");
    // A missing time is answered at once; the query validates the texts.
    if (!start.isString() || !finish.isString()) {
        replyJson(request, errorString(kBadTimeText));
        return;
    }
    const ApiSnapshotPtr now = snapshot();
    const QString deviceName = now->deviceName;
    const QString deviceSn = now->deviceSn;
    runQuery(request, [start, finish, deviceName, deviceSn] {
        QJsonObject json;
        if (!ResStatisticsDatabase::loadCount(start.toString(), finish.toString(), json, QString()))
            return errorString(kBadTimeText);
        json.insert("device_sn", deviceSn);
        json.insert("device_id", deviceName);
        return json;
    });
}

// Called from the network threads: the answer leaves from the query thread (the
// destructor waits for that thread before the server goes).
void HttpApiServer::runQuery(const CTask_FormData& request, std::function<QJsonObject()> work)
{
    if (m_pendingQueries.fetch_add(1) >= kMaxPendingQueries) {
        --m_pendingQueries;
        callback_immediately(request, kStatusBusy, QString::fromUtf8(kBusyText));
        return;
    }
    m_queryPool->start([this, request, work] {
        const QJsonObject json = work();
        {
            QMutexLocker lock(&m_reactorLock);
            replyJson(request, json);
        }
        --m_pendingQueries;
    });
}

void HttpApiServer::httpapi__get_last_detailinfo(const CTask_FormData& request)
{
    // The hub's cycle record has a lock of its own: read here, never through the GUI thread.
    VEK_NETMN::sAPI_LastDetect_Info info;
    if (!m_hub->lastDetectInfo.tryGetValue(info)) {
        callback_immediately(request, kStatusForbidden, QString::fromUtf8(kNoCycleText));
        return;
    }
    std::shared_ptr<const LastDetectReply> made = std::atomic_load(&m_lastDetectReply);
    if (made->body.isEmpty() || made->id != info.id || made->record != info.record || made->pictures != info.pictures) {
        CTask_FormData reply;
        reply.json = lastDetectResult(info);
        made = std::make_shared<const LastDetectReply>(
            LastDetectReply{info.id, info.record, info.pictures, SCI_ExecObj_Send::replyBody(reply)});
        std::atomic_store(&m_lastDetectReply, made);
    }
    CTask_FormData reply = replyTo(request);
    reply.preparedJson = made->body;
    sendAsync(reply);
}

QString HttpApiServer::alarmPicturePath(int camera, int detect, bool ok, const QString& name)
{
    if (name.isEmpty() || name == "." || name == ".." || name.contains('/') || name.contains('\\'))
        return QString();
    const QString path = QStringLiteral("%1/camera%2/detect%3/%4/%5")
                             .arg(QString::fromLatin1(kAlarmImageDir))
                             .arg(camera + 1)
                             .arg(detect + 1)
                             .arg(ok ? "OK" : "NG", name);
    const QFileInfo file(path);
    if (!file.isFile())
        return QString();
    // A link inside the folder must not lead out of it.
    const QString root = QFileInfo(QString::fromLatin1(kAlarmImageDir)).canonicalFilePath();
    const QString resolved = file.canonicalFilePath();
    if (root.isEmpty() || !resolved.startsWith(root + '/'))
        return QString();
    return path;
}

void HttpApiServer::httpapi__get_detected_picture(const CTask_FormData& request)
{
    const int camera = request.json.value("camera_index").toInt(-1);
    const int detect = request.json.value("detect_index").toInt(-1);
    const bool ok = request.json.value("detect_result").toBool(false);
    const ApiSnapshotPtr now = snapshot();
    if (camera < 0 || detect < 0 || camera >= now->cameraCount || detect >= now->detectCount) {
        replyJson(request, errorString(kBadParamText));
        return;
    }
    const QString path = alarmPicturePath(camera, detect, ok, request.json.value("picture_name").toString());
    if (path.isEmpty()) {
        replyJson(request, errorString(kNoPictureText));
        return;
    }
    CTask_FormData reply = replyTo(request);
    reply.contentType = QStringLiteral("image/jpeg");
    reply.files.insert(path, QByteArray());
    sendAsync(reply);
}

void HttpApiServer::httpapi__set_clear_curcount(const CTask_FormData& request)
{
    for (int* counters : {gFailNum, gAllNum, gAllCycleNum, gFailCycleNum})
        std::fill(counters, counters + kMaxCameras, 0);
    gSyncNGNum = 0;
    gSyncNGCycleNum = 0;
    if (gpWin) {
        gpWin->CountWrite();
        gpWin->InsertRecord(QStringLiteral("API: 清除计数"), QStringLiteral("API"));
    }
    publishSnapshot();
    callback_immediately(request, 200, QString());
}

void HttpApiServer::httpapi__set_localclock(const CTask_FormData& request)
{
    const QString text = request.json.value("datetime").toString();
    const QString format = QString::fromLatin1(kApiTimeFormat);
    const QString formatted = QDateTime::fromString(text, format).toString(format);
    if (text.isEmpty() || formatted != text) {
        replyJson(request, QJsonObject{{"result", QString::fromUtf8(kClockFormatText)}});
        return;
    }
    if (!SystemClock::set(formatted)) {
        replyJson(request, QJsonObject{{"result", QString::fromUtf8(kClockFailedText)}});
        return;
    }
    if (gpWin)
        gpWin->InsertRecord(QStringLiteral("API: 修改系统时间,") + formatted, QStringLiteral("API"));
    replyJson(request, QJsonObject{{"result", QStringLiteral("success")}});
}
