#include "udpreactor.h"

#include "clock.h"
#include "httpframer.h"
#include "sci_execobj_recv.h"

#include <QDebug>
#include <QEventLoop>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <algorithm>

namespace VEKC {

namespace {
constexpr int kUdpSessionId = -1;   // datagrams belong to no connection

NetLimits udpLimits()
{
    NetLimits limits;
    limits.maxBodyBytes = UdpReactor::kMaxMessageBytes;
    return limits;
}
} // namespace

UdpReactor::UdpReactor(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<CTask_FormData>("CTask_FormData");
    qRegisterMetaType<QAbstractSocket::SocketState>("QAbstractSocket::SocketState");
}

UdpReactor::~UdpReactor()
{
    deinitialize();
}

bool UdpReactor::isRunning()
{
    return worker_.isRunning();
}

bool UdpReactor::getTimerAlived() const
{
    // Also after a stop: the stamp ages out like that of a loop that hangs.
    return MonotonicClock::ms() - worker_.aliveStamp() < kAliveWindowMs;
}

bool UdpReactor::initialize()
{
    if (isRunning())
        return false;
    EventLoopWorker::Steps steps;
    steps.connectQuit = [this](QEventLoop* loop) {
        connect(this, &UdpReactor::readyToClose, loop, &QEventLoop::quit, Qt::QueuedConnection);
    };
    steps.start = [this] { return onStart(); };
    steps.finish = [this] { onFinish(); };
    return worker_.run(steps) && isRunning();
}

void UdpReactor::deinitialize()
{
    if (!isRunning())
        return;
    emit readyToClose();
    if (!worker_.waitDone())
        qInfo() << "socketThreadPool_->waitForDone error!";
}

void UdpReactor::reAction()
{
    deinitialize();
    initialize();
}

bool UdpReactor::sendMsg(const QByteArray& content, QString ip, int port, bool force)
{
    if (!hasSocket_ || force)
        reAction();
    emit sigSendMsg(content, ip, port);
    return true;
}

bool UdpReactor::onStart()
{
    socket_ = QSharedPointer<QUdpSocket>::create();
    connect(socket_.data(), &QUdpSocket::readyRead, socket_.data(), [this] { readPending(); });
    connect(this, &UdpReactor::sigSendMsg, socket_.data(),
            [this](const QByteArray& content, const QString& ip, int port) { writeDatagram(content, ip, port); });
    hasSocket_ = true;
    return true;
}

void UdpReactor::onFinish()
{
    hasSocket_ = false;
    socket_.reset();
    senders_.clear();
    current_.reset();
    buffer_.clear();
    inProgress_ = false;
}

void UdpReactor::writeDatagram(const QByteArray& content, const QString& ip, int port)
{
    const qint64 written = socket_->writeDatagram(content, QHostAddress(ip), quint16(port));
    if (written != content.size())
        qInfo() << "udp heartsend error:" << written << content.size() << socket_->localPort();
}

void UdpReactor::readPending()
{
    while (socket_ && socket_->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket_->receiveDatagram();
        buffer_ = datagram.data();
        analyseBuffer_Setup1(datagram.senderAddress(), quint16(datagram.senderPort()));
    }
}

UdpReactor::SenderFraming& UdpReactor::framingOf(const QHostAddress& sender, unsigned short port,
                                                 const QString& key)
{
    const qint64 now = MonotonicClock::ms();
    auto found = senders_.find(key);
    if (found == senders_.end()) {
        // Bounded: senders silent too long are dropped, and when all places are taken the stalest goes.
        for (auto it = senders_.begin(); it != senders_.end();)
            it = now - it->second.lastActiveMs > kSenderIdleMs ? senders_.erase(it) : std::next(it);
        if (senders_.size() >= size_t(kMaxSenders)) {
            auto stalest = std::min_element(senders_.begin(), senders_.end(), [](const auto& a, const auto& b) {
                return a.second.lastActiveMs < b.second.lastActiveMs;
            });
            qWarning() << "UdpReactor drops the incomplete message of" << stalest->first;
            senders_.erase(stalest);
        }
        SenderFraming framing;
        framing.framer = std::make_unique<HttpFramer>(kUdpSessionId, udpLimits());
        framing.framer->setPeer(sender, port);
        HttpFramer::Hooks hooks;
        hooks.start = [this](SCI_ExecObj_Recv&) { inProgress_ = true; };
        hooks.finish = [this](const QSharedPointer<SCI_ExecObj_Recv>& done) {
            current_ = done;
            analyseBuffer_Setup2_5();
            current_.reset();
            inProgress_ = false;
        };
        framing.framer->setHooks(hooks);
        found = senders_.emplace(key, std::move(framing)).first;
    }
    found->second.lastActiveMs = now;
    return found->second;
}

void UdpReactor::analyseBuffer_Setup1(QHostAddress sender, unsigned short port)
{
    if (!socket_)
        return;
    const QString key = sender.toString() + QLatin1Char('#') + QString::number(port);
    HttpFramer& framer = *framingOf(sender, port, key).framer;
    const QByteArray bytes = buffer_;
    buffer_.clear();
    const bool fed = framer.feed(bytes);
    if (!fed) {
        // A refused stream would block that sender's later datagrams: it starts afresh.
        qWarning() << "UdpReactor dropped bytes from" << sender.toString() << port << ":" << framer.errorStatus()
                   << framer.errorText();
    }
    if (!fed || !framer.inProgress())
        senders_.erase(key);
    inProgress_ = !senders_.empty();
}

void UdpReactor::analyseBuffer_Setup2_5()
{
    if (!current_ || !current_->analysisIntegrality())
        return;
    const CTask_FormData record = current_->getFormData();
    if (record.url.isEmpty())
        emit sigResponse(record);
    else
        emit sigRequest(record);
}

} // namespace VEKC
