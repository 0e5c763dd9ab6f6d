#include "tcp_push2app.h"

#include "netlimits.h"
#include "publictools.h"
#include "tcpreactor.h"

#include <QDebug>
#include <QJsonObject>

namespace {
constexpr int kClientMode = 1;
}

Tcp_Push2APP::Tcp_Push2APP() : HttpManager(VEKT_CLIENT), m_lifeTimer(new QTimer(this))
{
    m_lifeTimer->setSingleShot(true);
    connect(m_lifeTimer, &QTimer::timeout, this, &Tcp_Push2APP::onLifeTimeout);
}

void Tcp_Push2APP::push(const QString& address, int port, const CTask_FormData& task)
{
    if (!startReactor(QHostAddress(address), quint16(port), kClientMode)) {
        logNotConnected(task.url, address);
        deleteLater();
        return;
    }
    qInfo() << "[Subscriber]"
            << QStringLiteral("++++++++++++++++++++++++ %1 send success! -> %2").arg(task.url, address);
    m_sentMs = monotonic_ms();
    sendAsync(task);
    m_lifeTimer->start(kLifeMs);
}

void Tcp_Push2APP::logNotConnected(const QString& url, const QString& address)
{
    qWarning() << "[POST_2_APP]" << "ERROR NO CONNECTED" << url << "->" << address;
}

void Tcp_Push2APP::onLifeTimeout()
{
    // The connection is dropped only once its transfer has ended: the peer closed it,
    // or the session's own transfer limit has passed and ended any send still running.
    const bool connected = reactor_ && reactor_->sessionCount() > 0;
    if (connected && monotonic_ms() - m_sentMs < NetDefaults::kSendTimeoutMs + kDrainPollMs) {
        m_lifeTimer->start(kDrainPollMs);
        return;
    }
    deleteLater();
}

void Tcp_Push2APP::SlotRecvResponse(CTask_FormData task, bool)
{
    if (task.uuid != property("uuid").toString())
        return;
    const qint64 total = gettimeofday_ms() - property("create-time").toLongLong();
    // The subscriber's own times, -1 where it reports none.
    const QJsonObject times = task.json.value("result").toObject();
    const auto reported = [&times](const char* key) {
        return times.contains(key) ? times.value(key).toVariant().toLongLong() : -1;
    };
    qInfo() << "[POST_2_APP] -" << property("type").toString() << ": all-time(ms):" << total
            << "app-recv(ms):" << reported("recv_time") << "app-parse(ms):" << reported("analysis_time");
    m_lifeTimer->stop();
    deleteLater();
}

void Tcp_Push2APP::SlotRecvRequest(CTask_FormData)
{
}
