#include "pushdispatcher.h"

#include "httpframer.h"
#include "publictools.h"
#include "sci_execobj_recv.h"
#include "sci_execobj_send.h"

#include <QDebug>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTimer>

struct PushDispatcher::Lane
{
    QString key;
    QString address;
    int port = 0;
    std::deque<CTask_FormData> queued;
    std::unique_ptr<QTcpSocket> socket;
    std::unique_ptr<SCI_ExecObj_Send> send;
    std::unique_ptr<HttpFramer> framer;
    std::unique_ptr<QTimer> timer;
    QString uuid;
    QString url;
    qint64 startMs = 0;
    bool connected = false;   // the push in flight reached the subscriber
};

PushDispatcher::PushDispatcher() = default;

PushDispatcher::~PushDispatcher()
{
    for (const auto& lane : qAsConst(m_lanes)) {
        if (lane->socket)
            lane->socket->abort();
    }
}

void PushDispatcher::push(const QString& address, int port, const CTask_FormData& task)
{
    const QString key = QStringLiteral("%1;%2").arg(address).arg(port);
    QMetaObject::invokeMethod(this, [this, key, address, port, task] { enqueue(key, address, port, task); },
                              Qt::QueuedConnection);
}

void PushDispatcher::retain(const QStringList& addressPortKeys)
{
    QMetaObject::invokeMethod(this, [this, addressPortKeys] {
        for (auto it = m_lanes.begin(); it != m_lanes.end();) {
            if (addressPortKeys.contains(it.key())) {
                ++it;
                continue;
            }
            if (it.value()->socket)
                it.value()->socket->abort();
            it = m_lanes.erase(it);
        }
    }, Qt::QueuedConnection);
}

void PushDispatcher::enqueue(const QString& key, const QString& address, int port, const CTask_FormData& task)
{
    std::shared_ptr<Lane>& slot = m_lanes[key];
    if (!slot) {
        slot = std::make_shared<Lane>();
        slot->key = key;
        slot->address = address;
        slot->port = port;
    }
    Lane& lane = *slot;
    if (int(lane.queued.size()) >= kMaxQueued)
        lane.queued.pop_front();
    lane.queued.push_back(task);
    if (!lane.socket)
        startNext(lane);
}

void PushDispatcher::startNext(Lane& lane)
{
    if (lane.queued.empty())
        return;
    const CTask_FormData task = lane.queued.front();
    lane.queued.pop_front();
    lane.uuid = task.uuid;
    lane.url = task.url;
    lane.startMs = monotonic_ms();
    lane.connected = false;
    lane.socket = std::make_unique<QTcpSocket>();
    lane.send = std::make_unique<SCI_ExecObj_Send>(task);
    lane.framer = std::make_unique<HttpFramer>(0, NetLimits());
    lane.timer = std::make_unique<QTimer>();
    lane.timer->setSingleShot(true);

    // Every callback finds the lane by its key: a lane dropped meanwhile is left alone.
    const QString key = lane.key;
    auto withLane = [this, key](auto action) {
        return [this, key, action] {
            auto it = m_lanes.find(key);
            if (it != m_lanes.end())
                action(*it.value());
        };
    };
    HttpFramer::Hooks hooks;
    hooks.finish = [this, key](const QSharedPointer<SCI_ExecObj_Recv>& msg) {
        auto it = m_lanes.find(key);
        if (it == m_lanes.end() || !msg->analysisIntegrality())
            return;
        const CTask_FormData reply = msg->getFormData();
        if (reply.uuid != it.value()->uuid)
            return;
        const QJsonObject times = reply.json.value("result").toObject();
        const auto reported = [&times](const char* name) {
            return times.contains(name) ? times.value(name).toVariant().toLongLong() : -1;
        };
        qInfo() << "[POST_2_APP] -" << it.value()->url << ": all-time(ms):" << monotonic_ms() - it.value()->startMs
                << "app-recv(ms):" << reported("recv_time") << "app-parse(ms):" << reported("analysis_time");
        m_answered = true;
    };
    lane.framer->setHooks(hooks);

    QTcpSocket* socket = lane.socket.get();
    connect(socket, &QTcpSocket::connected, this, withLane([this](Lane& l) {
        l.connected = true;
        l.send->SerializeWrite(l.socket.get());
        if (l.send->isBroken()) {
            finish(l);
            return;
        }
        l.timer->start(kAnswerTimeoutMs);
    }));
    connect(socket, &QTcpSocket::bytesWritten, this, withLane([this](Lane& l) {
        if (!l.send->isPending())
            return;
        l.send->pump(l.socket.get());
        if (l.send->isBroken())
            finish(l);
    }));
    connect(socket, &QTcpSocket::readyRead, this, withLane([this](Lane& l) {
        m_answered = false;
        if (!l.framer->feed(l.socket->readAll()) || m_answered)
            finish(l);
    }));
    connect(socket, &QTcpSocket::errorOccurred, this, withLane([this](Lane& l) {
        finish(l);
    }));
    connect(lane.timer.get(), &QTimer::timeout, this, withLane([this](Lane& l) { onTimeout(l); }));
    lane.timer->start(kConnectTimeoutMs);
    socket->connectToHost(lane.address, quint16(lane.port));
}

void PushDispatcher::onTimeout(Lane& lane)
{
    const bool transferring = lane.socket && lane.socket->state() == QAbstractSocket::ConnectedState
                              && (lane.send->isPending() || lane.socket->bytesToWrite() > 0);
    // A large picture still being taken by a slow subscriber is not cut off at the answer time.
    if (transferring && monotonic_ms() - lane.startMs < kTransferLimitMs) {
        lane.timer->start(kTransferPollMs);
        return;
    }
    finish(lane);
}

void PushDispatcher::finish(Lane& lane)
{
    if (!lane.socket)
        return;
    lane.timer->stop();
    lane.socket->disconnect(this);
    lane.socket->abort();
    if (lane.send)
        lane.send->cancel();
    // Destroyed once control has left the socket's own signal.
    lane.socket.release()->deleteLater();
    lane.timer.release()->deleteLater();
    lane.send.reset();
    lane.framer.reset();
    // Each push to a subscriber that cannot be reached is worth a warning; the subscription
    // stays, so the next push tries again.
    if (!lane.connected)
        qWarning() << "[POST_2_APP]" << "ERROR NO CONNECTED" << lane.url << "->" << lane.address;
    startNext(lane);
}
