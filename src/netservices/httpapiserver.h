#pragma once

#include "apisnapshot.h"
#include "httpmanager.h"

#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QTimer>
#include <QVariant>
#include <atomic>
#include <functional>
#include <memory>

class PushDispatcher;
class QJsonValue;
class QSettings;
class QThread;
class QThreadPool;
class VEK_NETMN;

// One live subscriber of a push topic.
struct Skt_Session
{
    QString address;
    int port = 0;
};

// The box's HTTP JSON API: eight routes under "/v18/http/" and the push of cycle
// records and pictures to subscribers. The routes that change something are handled
// one at a time in the GUI thread (mode 4); the read routes answer in the network
// threads from a snapshot the GUI thread publishes, so a detection never holds them up.
class HttpApiServer : public HttpManager
{
    Q_OBJECT
public:
    static constexpr quint16 kApiPort = 10100;
    static constexpr int kApiMode = 4;
    static constexpr int kPublishDelayMs = 1000;
    // A subscription older than this (ms since its last renewal) is removed.
    static constexpr qint64 kSubscriptionLifeMs = 3600000;
    // Subscriptions kept; new ones beyond this are refused. Pushes share one thread, and each
    // subscriber (address and port) holds a bounded number of connections (PushDispatcher).
    static constexpr int kMaxSubscribers = 64;
    // The API's requests are small JSON: larger bodies are refused (413) before they arrive.
    static constexpr qint64 kMaxRequestBodyBytes = 64 * 1024;
    static constexpr qint64 kRequestBodyBudgetBytes = 4 * 1024 * 1024;
    static constexpr const char* kSubscriberFile = "subscriber.ini";
    static constexpr const char* kSubscriberKey = "subscriber_groups";
    static constexpr const char* kAlarmImageDir = "./alarmimage";
    // Request times ("datetime", "datetime_start", ...) and the answer to one that does not parse.
    static constexpr const char* kApiTimeFormat = "yyyy-MM-dd hh:mm:ss";
    static constexpr const char* kBadTimeText = "错误的时间格式";
    // A record query answers at most this many rows ("too many records, narrow the range").
    static constexpr int kMaxRecordRows = 100000;
    static constexpr const char* kTooManyRecordsText = "查询结果过多，请缩小时间范围";
    // Record and count queries waiting for or running in the query thread.
    static constexpr int kMaxPendingQueries = 8;
    // State changed outside a cycle (run state, a counter reset on the screen) reaches
    // the read routes within this time.
    static constexpr int kSnapshotRefreshMs = 100;
    // Network threads of the API's listener: one saturates under many clients.
    static constexpr int kReactorThreads = 3;

    explicit HttpApiServer(VEK_NETMN* hub);
    ~HttpApiServer() override;

    // (Re)starts the listener and reloads the subscribers from the hub's workspace.
    void init();
    bool startReactor(QHostAddress const& address, quint16 port, int mode) override;
    // Where init() listens (any address, port 10100 unless changed; tests use 127.0.0.1:0).
    void setListenAddress(const QHostAddress& address, quint16 port);
    // The port actually listened on; 0 when not listening.
    quint16 serverPort() const;

    void finish_PeriodRecord();
    // Takes the state the read routes answer from (GUI thread); done after each cycle,
    // after the write routes and every kSnapshotRefreshMs.
    void publishSnapshot();
    QList<Skt_Session> getSubscriber_FromTopic(QString topic);
    // Ends every push thread and waits for it (pushes not yet made are dropped); run
    // when the application quits, so that no push runs on while Qt is torn down.
    void endPushes();
    QMap<QString, QVariant> subscribers() const { return m_subscribers; }

public slots:
    int publish_message(QString topic, CTask_FormData task);
    void slot_delay_publish_detectinfo();

private:
    using Handler = void (HttpApiServer::*)(const CTask_FormData&);
    struct Route
    {
        const char* url;
        Handler handler;
        bool readOnly;   // answered in the network thread from the snapshot
    };
    // The reply body of get_last_detectinfo for one cycle record.
    struct LastDetectReply
    {
        QString id;
        QJsonObject record;
        QMap<QString, QString> pictures;
        QByteArray body;
    };
    static const Route kRoutes[];

    void httpapi__get_product_infos(const CTask_FormData& request);
    void httpapi__get_production_count_bytime(const CTask_FormData& request);
    void httpapi__get_last_detailinfo(const CTask_FormData& request);
    void httpapi__get_detected_picture(const CTask_FormData& request);
    void httpapi__get_records(const CTask_FormData& request);
    void httpapi__set_clear_curcount(const CTask_FormData& request);
    void httpapi__set_localclock(const CTask_FormData& request);
    void httpapi__subscriber_baseinfo(const CTask_FormData& request);

    // Runs a query that may take longer than a detection cycle in the query thread, which
    // answers with its JSON; refused (503) while too many wait.
    void runQuery(const CTask_FormData& request, std::function<QJsonObject()> work);
    ApiSnapshotPtr snapshot() const { return std::atomic_load(&m_snapshot); }
    // A response on the request's connection: uuid, session and Device-ID set.
    CTask_FormData replyTo(const CTask_FormData& request) const;
    void replyJson(const CTask_FormData& request, const QJsonObject& json);
    // The answer to a request the route cannot serve: {"errorstring": text}.
    static QJsonObject errorString(const char* text);
    // The picture's path under the alarm image folder; empty when the name is no plain
    // file name, the file is missing or it resolves outside that folder.
    static QString alarmPicturePath(int camera, int detect, bool ok, const QString& name);
    void saveSubscribers();
    // Drops the subscriptions not renewed within their life.
    void expireSubscribers();

    // The push thread and its dispatcher, made on the first push.
    PushDispatcher* pushDispatcher();
    // Lets the dispatcher drop the subscribers no subscription names any more.
    void retireUnsubscribedPushTargets();
    // A subscription the list may hold: an IPv4 address, a port 1-65535, a topic without ';'.
    static bool validSubscription(const QString& address, const QJsonValue& port, const QString& topic);

    VEK_NETMN* m_hub;
    std::unique_ptr<QSettings> m_subscriberSettings;
    QMap<QString, QVariant> m_subscribers;
    QTimer m_publishDelay;
    QHostAddress m_listenAddress = QHostAddress(QHostAddress::Any);
    quint16 m_listenPort = kApiPort;
    // All pushes leave from one thread, never the GUI thread: an unreachable subscriber
    // holds up neither the detection cycle nor the pushes to the others, and the pushes to
    // one subscriber leave in order. The thread is a child of this server.
    std::unique_ptr<QThreadPool> m_queryPool;
    std::atomic<int> m_pendingQueries{0};
    // The query thread answers through reactor_, which the GUI thread replaces on a restart.
    QMutex m_reactorLock;
    QTimer m_snapshotRefresh;
    // Swapped whole by the GUI thread, read by the network threads (std::atomic_load/store).
    ApiSnapshotPtr m_snapshot;
    std::shared_ptr<const LastDetectReply> m_lastDetectReply;
    QThread* m_pushThread = nullptr;
    PushDispatcher* m_pushDispatcher = nullptr;
};
