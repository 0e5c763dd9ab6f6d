// Subscriptions and the push of cycle records and pictures to subscribers.
#include "httpapiserver.h"

#include "globals.h"
#include "publictools.h"
#include "storedfile.h"
#include "pushdispatcher.h"
#include "vek_netmn.h"

#include <QDebug>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <cmath>

namespace {
const char kTopicInfo[] = "detected_info";
const char kTopicPicture[] = "detected_picture";
constexpr int kKeyParts = 3;
constexpr char kKeySeparator = ';';
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
            if (!validSubscription(entry.value("subscriber_ip").toString(), entry.value("subscriber_port"), topic)) {
                qWarning() << "[Subscriber]" << "invalid subscription refused";
                continue;
            }
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

bool HttpApiServer::validSubscription(const QString& address, const QJsonValue& port, const QString& topic)
{
    static const QRegularExpression dottedQuad(QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    const QRegularExpressionMatch quad = dottedQuad.match(address);
    if (!quad.hasMatch())
        return false;
    for (int i = 1; i <= 4; ++i) {
        if (quad.captured(i).toInt() > 255)
            return false;
    }
    const double number = port.toDouble(-1);
    if (!port.isDouble() || number != std::floor(number) || number < 1 || number > 65535)
        return false;
    for (const QChar c : topic) {
        if (c == QLatin1Char(kKeySeparator) || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
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
    for (const Skt_Session& subscriber : getSubscriber_FromTopic(topic)) {
        if (subscriber.port < 1 || subscriber.port > 65535) {
            // Never a port other than the one subscribed; the failed push is still reported.
            qWarning() << "[POST_2_APP]" << "ERROR NO CONNECTED" << task.url << "->" << subscriber.address;
            continue;
        }
        pushDispatcher()->push(subscriber.address, subscriber.port,
                               topic == QLatin1String(kTopicInfo) ? PushDispatcher::Record : PushDispatcher::Picture, task);
    }
    retireUnsubscribedPushTargets();
    return 1;
}

PushDispatcher* HttpApiServer::pushDispatcher()
{
    if (m_pushDispatcher)
        return m_pushDispatcher;
    m_pushThread = new QThread(this);
    m_pushThread->setObjectName(QStringLiteral("push"));
    m_pushDispatcher = new PushDispatcher;
    m_pushDispatcher->moveToThread(m_pushThread);
    // Its connections go with it when the thread ends.
    connect(m_pushThread, &QThread::finished, m_pushDispatcher, &QObject::deleteLater);
    m_pushThread->start();
    return m_pushDispatcher;
}

void HttpApiServer::endPushes()
{
    if (!m_pushThread)
        return;
    m_pushThread->quit();
    m_pushThread->wait();
    delete m_pushThread;
    m_pushThread = nullptr;
    m_pushDispatcher = nullptr;
}

void HttpApiServer::retireUnsubscribedPushTargets()
{
    if (!m_pushDispatcher)
        return;
    QSet<QString> wanted;
    for (const QString& key : m_subscribers.keys())
        wanted.insert(key.section(QLatin1Char(kKeySeparator), 0, 1));
    m_pushDispatcher->retain(wanted.values());
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
    publishSnapshot();
    if (m_hub->isApiWorking() && !m_publishDelay.isActive())
        slot_delay_publish_detectinfo();
}
