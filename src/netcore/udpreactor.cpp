#include "udpreactor.h"

#include "clock.h"
#include "httpframer.h"
#include "sci_execobj_recv.h"

#include <QDebug>
#include <QEventLoop>
#include <QNetworkDatagram>
#include <QUdpSocket>

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
    return worker_.isRunning() && MonotonicClock::ms() - worker_.aliveStamp() < kAliveWindowMs;
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
    resetFramer();
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
    framer_.reset();
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

void UdpReactor::resetFramer()
{
    framer_ = std::make_unique<HttpFramer>(kUdpSessionId, udpLimits());
    HttpFramer::Hooks hooks;
    hooks.start = [this](SCI_ExecObj_Recv&) { inProgress_ = true; };
    hooks.finish = [this](const QSharedPointer<SCI_ExecObj_Recv>& done) {
        current_ = done;
        analyseBuffer_Setup2_5();
        current_.reset();
        inProgress_ = false;
    };
    framer_->setHooks(hooks);
}

void UdpReactor::analyseBuffer_Setup1(QHostAddress sender, unsigned short port)
{
    if (!framer_)
        return;
    framer_->setPeer(sender, port);
    const QByteArray bytes = buffer_;
    buffer_.clear();
    if (!framer_->feed(bytes)) {
        // A refused stream would block every later datagram: start afresh.
        qWarning() << "UdpReactor dropped bytes from" << sender.toString() << port << ":"
                   << framer_->errorStatus() << framer_->errorText();
        inProgress_ = false;
        resetFramer();
    }
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
