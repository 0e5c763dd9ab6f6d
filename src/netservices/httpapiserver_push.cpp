// Subscriptions and the push of cycle records and pictures to subscribers.
#include "httpapiserver.h"

#include "globals.h"
#include "publictools.h"
#include "storedfile.h"
#include "tcp_push2app.h"
#include "vek_netmn.h"

#include <QDebug>
#include <QFile>
#include <QJsonArray>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

namespace {
const char kTopicInfo[] = "detected_info";
const char kTopicPicture[] = "detected_picture";
constexpr int kKeyParts = 3;
}

void HttpApiServer::saveSubscribers()
{
    if (!m_subscriberSettings)
        return;
    // QSettings' own sync can leave a short file on a full disk: its text is made in a
    // scratch file and the stored one replaced only when that text is written whole.
    QTemporaryDir scratch;
    QByteArray text;
    if (scratch.isValid()) {
        const QString scratchPath = scratch.filePath(QString::fromLatin1(kSubscriberFile));
        bool made = false;
        {
            QSettings settings(scratchPath, QSettings::IniFormat);
            settings.setValue(QString::fromLatin1(kSubscriberKey), m_subscribers);
            settings.sync();
            made = settings.status() == QSettings::NoError;
        }
        QFile file(scratchPath);
        if (made && file.open(QIODevice::ReadOnly))
            text = file.readAll();
    }
    if (text.isEmpty()) {
        qWarning() << "[Subscriber]" << "subscriber list not written: no scratch space";
        return;
    }
    StoredFile::write(m_subscriberSettings->fileName(), text);
}

void HttpApiServer::httpapi__subscriber_baseinfo(const CTask_FormData& request)
{
    // Without "subscriber" the request is a look at the current list.
    if (request.json.contains("subscriber")) {
        const qint64 now = gettimeofday_ms();
        for (const QJsonValue& value : request.json.value("subscriber").toArray()) {
            const QJsonObject entry = value.toObject();
            if (!entry.contains("subscriber_ip") || !entry.contains("subscriber_port"))
                continue;
            const QString topic = entry.value("subscriber_topic").toString();
            if (!topic.contains(QLatin1String(kTopicInfo)) && !topic.contains(QLatin1String(kTopicPicture)))
                continue;
            const QString key = QStringLiteral("%1;%2;%3")
                                    .arg(entry.value("subscriber_ip").toString())
                                    .arg(entry.value("subscriber_port").toInt(0))
                                    .arg(topic);
            if (!m_subscribers.contains(key) && m_subscribers.size() >= kMaxSubscribers)
                expireSubscribers();   // expired ones make room first
            if (!m_subscribers.contains(key) && m_subscribers.size() >= kMaxSubscribers) {
                qWarning() << "[Subscriber]" << "list full, not stored:" << key;
                continue;
            }
            m_subscribers.insert(key, now);
        }
        saveSubscribers();
        expireSubscribers();
    }
    replyJson(request, QJsonObject{{"subscribe_result", QJsonArray::fromStringList(m_subscribers.keys())}});
}

void HttpApiServer::expireSubscribers()
{
    const qint64 now = gettimeofday_ms();
    bool expired = false;
    for (auto it = m_subscribers.begin(); it != m_subscribers.end();) {
        if (now - it.value().toLongLong() > kSubscriptionLifeMs) {
            it = m_subscribers.erase(it);
            expired = true;
        } else {
            ++it;
        }
    }
    // Written only when something expired: this runs at every push, in the GUI thread.
    if (expired)
        saveSubscribers();
}

QList<Skt_Session> HttpApiServer::getSubscriber_FromTopic(QString topic)
{
    QList<Skt_Session> live;
    if (!m_hub->isApiWorking())
        return live;
    expireSubscribers();
    for (const QString& key : m_subscribers.keys()) {
        const QStringList parts = key.split(';');
        if (parts.size() == kKeyParts && parts.at(2) == topic)
            live.append(Skt_Session{parts.at(0), parts.at(1).toInt()});
    }
    return live;
}

int HttpApiServer::publish_message(QString topic, CTask_FormData task)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, "publish_message", Qt::QueuedConnection, Q_ARG(QString, topic),
                                  Q_ARG(CTask_FormData, task));
        return 0;
    }
    const qint64 created = gettimeofday_ms();
    for (const Skt_Session& subscriber : getSubscriber_FromTopic(topic)) {
        if (subscriber.port < 1 || subscriber.port > 65535)
            continue;   // never a port other than the one subscribed
        QObject* root = pushLane(subscriber);
        // Made in its lane: a push whose turn never comes (its lane ended) leaves nothing behind.
        QMetaObject::invokeMethod(root, [root, subscriber, task, created] {
            auto* push = new Tcp_Push2APP;
            push->setParent(root);
            push->setProperty("create-time", created);
            push->setProperty("uuid", task.uuid);
            push->setProperty("type", task.url);
            push->push(subscriber.address, subscriber.port, task);
        }, Qt::QueuedConnection);
    }
    retirePushLanes();
    return 1;
}

QObject* HttpApiServer::pushLane(const Skt_Session& subscriber)
{
    const QString key = QStringLiteral("%1;%2").arg(subscriber.address).arg(subscriber.port);
    QObject* root = m_pushLanes.value(key);
    if (root)
        return root;
    auto* lane = new QThread(this);
    lane->setObjectName(QStringLiteral("push ") + key);
    root = new QObject;
    root->moveToThread(lane);
    // The lane's pushes go with its root when the lane ends.
    connect(lane, &QThread::finished, root, &QObject::deleteLater);
    connect(lane, &QThread::finished, lane, &QObject::deleteLater);
    lane->start();
    m_pushLanes.insert(key, root);
    return root;
}

void HttpApiServer::endPushes()
{
    // Retired push threads too: they are deleted only once they have finished.
    m_pushLanes.clear();
    for (QThread* lane : findChildren<QThread*>(QString(), Qt::FindDirectChildrenOnly)) {
        lane->quit();
        lane->wait();
    }
}

void HttpApiServer::retirePushLanes()
{
    QSet<QString> wanted;
    for (const QString& key : m_subscribers.keys())
        wanted.insert(key.section(';', 0, 1));
    for (auto it = m_pushLanes.begin(); it != m_pushLanes.end();) {
        if (wanted.contains(it.key())) {
            ++it;
            continue;
        }
        it.value()->thread()->quit();   // not waited for: it ends on its own
        it = m_pushLanes.erase(it);
    }
}

void HttpApiServer::slot_delay_publish_detectinfo()
{
    VEK_NETMN::sAPI_LastDetect_Info info;
    if (!m_hub->isApiWorking() || !m_hub->lastDetectInfo.tryGetValue(info))
        return;
    CTask_FormData task;
    task.url = QStringLiteral("/v18/http/post_detected_info");
    task.deviceId = gDeviceID;
    task.json = info.record;
    task.uuid = info.id;
    publish_message(QString::fromLatin1(kTopicInfo), task);
}

void HttpApiServer::finish_PeriodRecord()
{
    if (m_hub->isApiWorking() && !m_publishDelay.isActive())
        slot_delay_publish_detectinfo();
}
