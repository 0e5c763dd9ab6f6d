#include "modbusserver.h"

#include "clock.h"
#include "globals.h"
#include "mainwindowbase.h"

#include <QDebug>
#include <QEventLoop>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <memory>

namespace {

constexpr int kLengthByte = 4;
constexpr int kFunctionByte = 7;
constexpr int kAddressByte = 8;
constexpr int kCountByte = 10;
constexpr int kByteCountByte = 12;
constexpr int kRequestBytes = 12;           // MBAP, function, address, count
constexpr int kWriteHeaderBytes = 13;       // ... and the byte count
constexpr int kMinLengthField = 2;          // unit id and function code
constexpr int kAddressSpace = 0x10000;
constexpr int kStoppedRunState = 3;
constexpr int kNgResultState = 2;
constexpr int kExceptionFlag = 0x80;
constexpr int kGuiPollMs = 50;

quint16 be16(const QByteArray& b, int at)
{
    return quint16((quint8(b.at(at)) << 8) | quint8(b.at(at + 1)));
}

void appendBe16(QByteArray& b, int value)
{
    b.append(char((value >> 8) & 0xff));
    b.append(char(value & 0xff));
}

// The request's MBAP header with the length of a reply PDU of pduBytes.
QByteArray replyHeader(const QByteArray& frame, int pduBytes)
{
    QByteArray reply;
    reply.reserve(ModbusServer::kMbapBytes + pduBytes);
    reply.append(frame.constData(), kLengthByte);
    appendBe16(reply, pduBytes + 1);
    reply.append(frame.at(ModbusServer::kMbapBytes - 1));
    return reply;
}

QByteArray exceptionReply(const QByteArray& frame, quint8 function, quint8 code)
{
    QByteArray reply = replyHeader(frame, 2);
    reply.append(char(function | kExceptionFlag));
    reply.append(char(code));
    return reply;
}

QByteArray readReply(const QByteArray& frame, const ModbusServer::ReadRegisters& read)
{
    if (frame.size() != kRequestBytes)
        return exceptionReply(frame, ModbusServer::ReadHoldingRegisters, ModbusServer::IllegalValue);
    const int start = be16(frame, kAddressByte);
    const int count = be16(frame, kCountByte);
    if (count > ModbusServer::kMaxReadCount)
        return exceptionReply(frame, ModbusServer::ReadHoldingRegisters, ModbusServer::IllegalValue);
    if (start + count > kAddressSpace)
        return exceptionReply(frame, ModbusServer::ReadHoldingRegisters, ModbusServer::IllegalAddress);
    QList<unsigned short> values;
    if (!read(values))
        return exceptionReply(frame, ModbusServer::ReadHoldingRegisters, ModbusServer::DeviceBusy);
    QByteArray reply = replyHeader(frame, 2 + 2 * count);
    reply.append(char(ModbusServer::ReadHoldingRegisters));
    reply.append(char(2 * count));
    for (int address = start; address < start + count; ++address)
        appendBe16(reply, address < values.size() ? values.at(address) : 0);
    return reply;
}

QByteArray writeReply(const QByteArray& frame, const ModbusServer::ResetCounters& reset)
{
    const quint8 function = ModbusServer::WriteMultipleRegisters;
    if (frame.size() < kWriteHeaderBytes)
        return exceptionReply(frame, function, ModbusServer::IllegalValue);
    const int start = be16(frame, kAddressByte);
    const int count = be16(frame, kCountByte);
    const int byteCount = quint8(frame.at(kByteCountByte));
    if (count < 1 || count > ModbusServer::kMaxWriteCount || byteCount != 2 * count
        || frame.size() != kWriteHeaderBytes + byteCount)
        return exceptionReply(frame, function, ModbusServer::IllegalValue);
    if (start + count > kAddressSpace)
        return exceptionReply(frame, function, ModbusServer::IllegalAddress);
    // Only the reset register takes writes; values for registers 0..3 beside it are ignored.
    const int resetIndex = ModbusServer::kResetRegister - start;
    if (resetIndex < 0 || resetIndex >= count)
        return exceptionReply(frame, function, ModbusServer::IllegalAddress);
    const int value = be16(frame, kWriteHeaderBytes + 2 * resetIndex);
    if (value > 1)
        return exceptionReply(frame, function, ModbusServer::IllegalValue);
    if (value == 1 && !reset())
        return exceptionReply(frame, function, ModbusServer::DeviceBusy);
    QByteArray reply = replyHeader(frame, 5);
    reply.append(frame.mid(kFunctionByte, 5));
    return reply;
}

} // namespace

ModbusServer::ModbusServer(const QHostAddress& address, quint16 port, QObject* parent)
    : QObject(parent), m_pool(new QThreadPool)
{
    m_pool->setMaxThreadCount(1);
    reAction(address, port);
}

ModbusServer::~ModbusServer()
{
    deinitialize();
}

bool ModbusServer::reAction(const QHostAddress& address, quint16 port)
{
    deinitialize();
    m_address = address;
    m_port = port;
    return initialize();
}

bool ModbusServer::initialize()
{
    if (m_pool->activeThreadCount() > 0)
        return isRunning();
    m_closing = false;
    auto tried = QSharedPointer<QSemaphore>::create(0);
    m_pool->start([this, tried] { serverFunction(tried); });
    tried->acquire();
    return isRunning();
}

void ModbusServer::deinitialize()
{
    if (m_pool->activeThreadCount() == 0)
        return;
    m_closing = true;
    emit readyToClose();
    if (!m_pool->waitForDone(kStopWaitMs))
        qWarning() << "socketThreadPool_->waitForDone error!";
}

void ModbusServer::serverFunction(QSharedPointer<QSemaphore> tried)
{
    QEventLoop loop;
    connect(this, &ModbusServer::readyToClose, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    auto server = std::make_unique<QTcpServer>();
    connect(server.get(), &QTcpServer::newConnection, server.get(),
            [this, s = server.get()] { onNewConnection(s); }, Qt::DirectConnection);
    // A taken or forbidden port is retried: the plant system may only come later.
    QTimer retry;
    retry.setInterval(kListenRetryMs);
    connect(&retry, &QTimer::timeout, &retry, [this, &retry, s = server.get()] {
        if (onStart(s))
            retry.stop();
    });
    if (!onStart(server.get()))
        retry.start();
    tried->release();
    if (!m_closing)
        loop.exec();
    retry.stop();
    m_listening = false;
    server.reset();   // closes the sockets, its children
}

bool ModbusServer::onStart(QTcpServer* server)
{
    if (server->listen(m_address, m_port)) {
        m_boundPort = server->serverPort();
        m_listening = true;
        return true;
    }
    qWarning().noquote() << QStringLiteral("modbus: cannot listen on port %1: %2, retrying in %3 s")
                                .arg(m_port)
                                .arg(server->errorString())
                                .arg(kListenRetryMs / 1000);
    return false;
}

void ModbusServer::onNewConnection(QTcpServer* server)
{
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        qDebug().noquote() << QStringLiteral("connect ip: %1, port:%2")
                                  .arg(socket->peerAddress().toString())
                                  .arg(socket->peerPort());
        // Bytes that arrive together need not be one frame: each connection keeps its own buffer.
        // Answers are small and awaited one by one: no coalescing delay.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] { onReadyRead(socket, *buffer); },
                Qt::DirectConnection);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

int ModbusServer::frameLength(const QByteArray& buffer)
{
    if (buffer.size() < kLengthByte + 2)
        return 0;
    const int length = kLengthByte + 2 + be16(buffer, kLengthByte);
    if (length - kLengthByte - 2 < kMinLengthField || length > kMaxAduBytes)
        return -1;
    return buffer.size() < length ? 0 : length;
}

void ModbusServer::onReadyRead(QTcpSocket* socket, QByteArray& buffer)
{
    if (buffer.isEmpty())
        buffer = socket->readAll();
    else
        buffer.append(socket->readAll());
    const ReadRegisters read = [this](QList<unsigned short>& values) {
        const qint64 now = MonotonicClock::ns();
        if (m_recentNs == 0 || now - m_recentNs > kFreshNs) {
            if (!callInGuiThread([this] { m_recent = getData(); }))
                return false;
            m_recentNs = now;
        }
        values = m_recent;
        return true;
    };
    const ResetCounters reset = [this] {
        m_recentNs = 0;   // the next read sees the cleared counts
        return callInGuiThread([this] { resetCounters(); });
    };
    for (;;) {
        const int length = frameLength(buffer);
        if (length < 0) {
            // Without a valid length the stream cannot be resynchronised.
            qWarning() << "modbus: frame length out of range, connection closed";
            buffer.clear();
            socket->abort();
            return;
        }
        if (length == 0)
            return;
        QByteArray frame;
        if (length == buffer.size())
            frame.swap(buffer);   // the common case: one whole request per read
        else {
            frame = buffer.left(length);
            buffer.remove(0, length);
        }
        const QByteArray reply = answer(frame, read, reset);
        if (!reply.isEmpty()) {
            socket->write(reply);
            socket->flush();   // out now, not at the next pass of this thread's loop
        }
    }
}

QByteArray ModbusServer::answer(const QByteArray& frame, const ReadRegisters& read, const ResetCounters& reset)
{
    if (frameLength(frame) != frame.size())
        return QByteArray();
    const quint8 function = quint8(frame.at(kFunctionByte));
    switch (function) {
    case ReadHoldingRegisters:
        return readReply(frame, read);
    case WriteMultipleRegisters:
        return writeReply(frame, reset);
    default:
        return exceptionReply(frame, function, IllegalFunction);
    }
}

bool ModbusServer::callInGuiThread(const std::function<void()>& fn)
{
    if (QThread::currentThread() == thread()) {
        fn();
        return true;
    }
    // 0 waiting, 1 taken by the GUI thread, 2 given up by this thread: the call runs
    // at most once and never after its caller stopped waiting for it.
    auto state = std::make_shared<std::atomic<int>>(0);
    auto done = std::make_shared<QSemaphore>(0);
    QMetaObject::invokeMethod(this, [fn, state, done] {
        int waiting = 0;
        if (!state->compare_exchange_strong(waiting, 1))
            return;
        fn();
        done->release();
    }, Qt::QueuedConnection);
    for (int waited = 0; waited < kGuiWaitMs && !m_closing; waited += kGuiPollMs)
        if (done->tryAcquire(1, kGuiPollMs))
            return true;
    int waiting = 0;
    if (state->compare_exchange_strong(waiting, 2))
        return false;
    done->acquire();   // the GUI thread is running it now; it ends shortly
    return true;
}

QList<unsigned short> ModbusServer::getData()
{
    QList<unsigned short> values;
    const bool running = gpWin && gpWin->runState != kStoppedRunState;
    const bool ng = gpWin && gpWin->resultState == kNgResultState;
    values << (running ? 1 : 0);
    values << (ng ? (gpWin->curDetectIndex == 0 ? 1 : 2) : 0);
    values << quint16(std::max(0, *std::max_element(std::begin(gAllNum), std::end(gAllNum))));
    values << quint16(gSyncNGNum);
    emit onRecvRequest();
    return values;
}

void ModbusServer::resetCounters()
{
    std::fill(std::begin(gFailNum), std::end(gFailNum), 0);
    std::fill(std::begin(gAllNum), std::end(gAllNum), 0);
    if (gpWin)
        gpWin->CountWrite();
    emit modifyData();
}
