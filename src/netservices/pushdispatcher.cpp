#include "pushdispatcher.h"

#include "descriptorreserve.h"
#include "httpframer.h"
#include "loglimiter.h"
#include "netaddress.h"
#include "publictools.h"
#include "sci_execobj_recv.h"
#include "sci_execobj_send.h"

#include <QDebug>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTimer>

namespace {
constexpr int kKinds = 2;

int inFlightBound(PushDispatcher::Kind kind)
{
    return kind == PushDispatcher::Record ? PushDispatcher::kRecordsInFlight : PushDispatcher::kPicturesInFlight;
}

// Ends a push's connection; its objects go once control has left their own signals.
void closeConnection(QObject* receiver, std::unique_ptr<QTcpSocket>& socket, std::unique_ptr<QTimer>& timer)
{
    timer->stop();
    socket->disconnect(receiver);
    // A push ended unanswered leaves nothing queued for its subscriber.
    dropUnsentOnClose(int(socket->socketDescriptor()));
    socket->abort();
    socket.release()->deleteLater();
    timer.release()->deleteLater();
}
} // namespace

struct PushDispatcher::Push
{
    quint64 id = 0;
    QString subscriberKey;
    QString address;
    Kind kind = Record;
    QString uuid;
    QString url;
    qint64 startMs = 0;
    bool connected = false;   // reached the subscriber
    bool answered = false;    // a whole answer came (set by the framer during one read)
    std::unique_ptr<QTcpSocket> socket;
    std::unique_ptr<SCI_ExecObj_Send> send;
    std::unique_ptr<HttpFramer> framer;
    std::unique_ptr<QTimer> timer;
};

struct PushDispatcher::Subscriber
{
    QString key;
    QString address;
    int port = 0;
    std::deque<CTask_FormData> waiting[kKinds];
    int inFlight[kKinds] = {0, 0};
    // Not told yet: pushes dropped from a full queue, and pushes that reached the subscriber
    // but got no answer (of which some were not even written in full).
    int dropped[kKinds] = {0, 0};
    int unanswered[kKinds] = {0, 0};
    int unwritten = 0;
    int unsent[kKinds] = {0, 0};   // still waiting when the dispatcher ends
};

PushDispatcher::PushDispatcher() : m_dropReport(new QTimer(this)), m_descriptorRetry(new QTimer(this))
{
    m_dropReport->setInterval(kDropReportMs);
    connect(m_dropReport, &QTimer::timeout, this, [this] {
        if (!reportTrouble())
            m_dropReport->stop();   // a quiet spell: the next drop is told at once
    });
    // A push held back for descriptors may have no later push to start it (the last record
    // before production stops), so it is tried again on its own.
    m_descriptorRetry->setSingleShot(true);
    m_descriptorRetry->setInterval(kDescriptorRetryMs);
    connect(m_descriptorRetry, &QTimer::timeout, this, [this] {
        for (const auto& entry : m_subscribers)
            startWaiting(*entry.second);
    });
}

PushDispatcher::~PushDispatcher()
{
    // A push still open at the end got no answer (its timer cannot tell it from here).
    for (const auto& entry : m_pushes) {
        auto subscriber = m_subscribers.find(entry.second->subscriberKey);
        if (subscriber != m_subscribers.end())
            countUnanswered(*subscriber->second, *entry.second);
    }
    for (const auto& entry : m_subscribers) {
        for (const Kind kind : {Record, Picture})
            entry.second->unsent[kind] = int(entry.second->waiting[kind].size());
    }
    reportTrouble();
    for (const auto& entry : m_pushes)
        entry.second->socket->abort();
}

void PushDispatcher::push(const QString& address, int port, Kind kind, const CTask_FormData& task)
{
    const QString key = QStringLiteral("%1;%2").arg(address).arg(port);
    QMetaObject::invokeMethod(this, [this, key, address, port, kind, task] { enqueue(key, address, port, kind, task); },
                              Qt::QueuedConnection);
}

void PushDispatcher::retain(const QStringList& addressPortKeys)
{
    QMetaObject::invokeMethod(this, [this, addressPortKeys] {
        for (auto it = m_subscribers.begin(); it != m_subscribers.end();) {
            if (addressPortKeys.contains(it->first)) {
                ++it;
                continue;
            }
            reportTrouble(*it->second);
            it = m_subscribers.erase(it);
        }
        for (auto it = m_pushes.begin(); it != m_pushes.end();) {
            Push& push = *it->second;
            if (m_subscribers.count(push.subscriberKey)) {
                ++it;
                continue;
            }
            closeConnection(this, push.socket, push.timer);
            it = m_pushes.erase(it);
        }
    }, Qt::QueuedConnection);
}

void PushDispatcher::enqueue(const QString& key, const QString& address, int port, Kind kind,
                             const CTask_FormData& task)
{
    std::unique_ptr<Subscriber>& slot = m_subscribers[key];
    if (!slot) {
        slot = std::make_unique<Subscriber>();
        slot->key = key;
        slot->address = address;
        slot->port = port;
    }
    std::deque<CTask_FormData>& waiting = slot->waiting[kind];
    if (int(waiting.size()) >= kMaxQueued) {
        waiting.pop_front();
        ++slot->dropped[kind];
        troubleCounted();
    }
    waiting.push_back(task);
    startWaiting(*slot);
}

void PushDispatcher::startWaiting(Subscriber& subscriber)
{
    // Records first: a picture never takes a record's turn.
    for (const Kind kind : {Record, Picture}) {
        std::deque<CTask_FormData>& waiting = subscriber.waiting[kind];
        while (!waiting.empty() && subscriber.inFlight[kind] < inFlightBound(kind)) {
            // Sockets never eat into the descriptors kept for files: the push waits for a freed one.
            if (!DescriptorReserve::enoughFree()) {
                if (!m_descriptorRetry->isActive())
                    m_descriptorRetry->start();
                return;
            }
            const CTask_FormData task = waiting.front();
            waiting.pop_front();
            start(subscriber, kind, task);
        }
    }
}

void PushDispatcher::start(Subscriber& subscriber, Kind kind, const CTask_FormData& task)
{
    auto owned = std::make_unique<Push>();
    Push& push = *owned;
    push.id = ++m_lastId;
    push.subscriberKey = subscriber.key;
    push.address = subscriber.address;
    push.kind = kind;
    push.uuid = task.uuid;
    push.url = task.url;
    push.startMs = monotonic_ms();
    push.socket = std::make_unique<QTcpSocket>();
    push.send = std::make_unique<SCI_ExecObj_Send>(task);
    push.framer = std::make_unique<HttpFramer>(0, NetLimits());
    push.timer = std::make_unique<QTimer>();
    push.timer->setSingleShot(true);
    m_pushes[push.id] = std::move(owned);
    ++subscriber.inFlight[kind];

    // Every callback finds its push by id: one ended meanwhile is left alone.
    const quint64 id = push.id;
    auto withPush = [this, id](auto action) {
        return [this, id, action] {
            auto it = m_pushes.find(id);
            if (it != m_pushes.end())
                action(*it->second);
        };
    };
    HttpFramer::Hooks hooks;
    hooks.finish = [&push](const QSharedPointer<SCI_ExecObj_Recv>& msg) {
        // Any whole answer ends the push; only the subscriber's echo of the uuid is logged.
        push.answered = true;
        msg->analysisIntegrality();
        const CTask_FormData reply = msg->getFormData();
        if (reply.uuid != push.uuid)
            return;
        const QJsonObject times = reply.json.value("result").toObject();
        const auto reported = [&times](const char* name) {
            return times.contains(name) ? times.value(name).toVariant().toLongLong() : -1;
        };
        qInfo() << "[POST_2_APP] -" << push.url << ": all-time(ms):" << monotonic_ms() - push.startMs
                << "app-recv(ms):" << reported("recv_time") << "app-parse(ms):" << reported("analysis_time");
    };
    push.framer->setHooks(hooks);

    QTcpSocket* socket = push.socket.get();
    connect(socket, &QTcpSocket::connected, this, withPush([this](Push& p) {
        p.connected = true;
        p.send->SerializeWrite(p.socket.get());
        if (p.send->isBroken()) {
            end(p.id);
            return;
        }
        p.timer->start(kAnswerTimeoutMs);
    }));
    connect(socket, &QTcpSocket::bytesWritten, this, withPush([this](Push& p) {
        if (!p.send->isPending())
            return;
        p.send->pump(p.socket.get());
        if (p.send->isBroken())
            end(p.id);
    }));
    connect(socket, &QTcpSocket::readyRead, this, withPush([this](Push& p) {
        // An answer the framer refuses (another HTTP version, a chunked body) is an answer too.
        if (!p.framer->feed(p.socket->readAll()))
            p.answered = true;
        if (p.answered)
            end(p.id);
    }));
    connect(socket, &QTcpSocket::errorOccurred, this, withPush([this](Push& p) { end(p.id); }));
    connect(push.timer.get(), &QTimer::timeout, this, withPush([this](Push& p) { onTimeout(p); }));
    push.timer->start(kConnectTimeoutMs);
    socket->connectToHost(subscriber.address, quint16(subscriber.port));
}

void PushDispatcher::onTimeout(Push& push)
{
    // Bytes the system still holds for the subscriber are part of the transfer too: the push's
    // end would otherwise cut them off.
    const bool transferring = push.socket->state() == QAbstractSocket::ConnectedState
                              && (push.send->isPending() || push.socket->bytesToWrite() > 0
                                  || unsentBytes(int(push.socket->socketDescriptor())) > 0);
    // A large picture still being taken by a slow subscriber is not cut off at the answer time.
    if (transferring && monotonic_ms() - push.startMs < kTransferLimitMs) {
        push.timer->start(kTransferPollMs);
        return;
    }
    end(push.id);
}

void PushDispatcher::end(quint64 id)
{
    auto it = m_pushes.find(id);
    if (it == m_pushes.end())
        return;
    const std::unique_ptr<Push> push = std::move(it->second);
    m_pushes.erase(it);
    auto subscriber = m_subscribers.find(push->subscriberKey);
    if (push->connected && subscriber != m_subscribers.end() && countUnanswered(*subscriber->second, *push))
        troubleCounted();
    push->send->cancel();
    closeConnection(this, push->socket, push->timer);
    // Each push to a subscriber that cannot be reached is worth a warning; the subscription
    // stays, so the next push tries again.
    if (!push->connected)
        qWarning() << "[POST_2_APP]" << "ERROR NO CONNECTED" << push->url << "->" << push->address;
    else if (push->answered)
        qInfo() << "[Subscriber]"
                << QStringLiteral("++++++++++++++++++++++++ %1 send success! -> %2").arg(push->url, push->address);
    if (subscriber == m_subscribers.end())
        return;
    --subscriber->second->inFlight[push->kind];
    startWaiting(*subscriber->second);
}

bool PushDispatcher::countUnanswered(Subscriber& subscriber, const Push& push)
{
    if (push.answered)
        return false;
    ++subscriber.unanswered[push.kind];
    // Handed to the system whole: nothing of the message waits in this process.
    const bool written = push.connected && !push.send->isPending() && !push.send->isBroken()
                         && push.socket->bytesToWrite() == 0;
    subscriber.unwritten += written ? 0 : 1;
    return true;
}

void PushDispatcher::troubleCounted()
{
    if (m_dropReport->isActive())
        return;
    reportTrouble();
    m_dropReport->start();
}

bool PushDispatcher::reportTrouble()
{
    bool told = false;
    for (const auto& entry : m_subscribers)
        told = reportTrouble(*entry.second) || told;
    return told;
}

bool PushDispatcher::reportTrouble(Subscriber& subscriber)
{
    bool told = false;
    // Folded here per subscriber already: the log's limiter would merge the lines of all subscribers.
    const auto tell = [&](const char* text, const int counts[kKinds], const QString& tail) {
        if (!counts[Record] && !counts[Picture])
            return;
        qCWarning(LogLimiter::folded).noquote()
            << "[POST_2_APP]"
            << QString::fromLatin1(text).arg(counts[Record]).arg(counts[Picture]).arg(subscriber.address)
                       .arg(subscriber.port)
                   + tail;
        told = true;
    };
    tell("dropped %1 records and %2 pictures for %3:%4: more than ", subscriber.dropped,
         QStringLiteral("%1 waiting").arg(kMaxQueued));
    tell("no answer to %1 records and %2 pictures from %3:%4", subscriber.unanswered,
         QStringLiteral(" (%1 not written in full)").arg(subscriber.unwritten));
    tell("%1 records and %2 pictures for %3:%4 never sent: still waiting at the end", subscriber.unsent, QString());
    for (const Kind kind : {Record, Picture})
        subscriber.dropped[kind] = subscriber.unanswered[kind] = subscriber.unsent[kind] = 0;
    subscriber.unwritten = 0;
    return told;
}
