#include "modbusserver.h"

#include "clock.h"
#include "descriptorreserve.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "netaddress.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QSemaphore>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kProtocolByte = 2;
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
constexpr int kAcceptRetryMs = 500;         // after the process ran out of descriptors
constexpr qint64 kRefusalLogPeriodMs = 1000;

quint16 be16(const QByteArray& b, int at)
{
    return quint16((quint8(b.at(at)) << 8) | quint8(b.at(at + 1)));
}

void setBe16(QByteArray& b, int at, int value)
{
    b[at] = char((value >> 8) & 0xff);
    b[at + 1] = char(value & 0xff);
}

void appendBe16(QByteArray& b, int value)
{
    b.append(char((value >> 8) & 0xff));
    b.append(char(value & 0xff));
}

// Hands each accepted descriptor over as it is, without a socket object around it.
class DescriptorServer : public QTcpServer
{
public:
    std::function<void(int)> incoming;

protected:
    void incomingConnection(qintptr fd) override { incoming(int(fd)); }
};

// Closed with a reset: a refused or dropped peer leaves nothing behind on this side.
void closeAtOnce(int fd)
{
    resetOnClose(fd);
    close(fd);
}

} // namespace

ModbusServer::ModbusServer(const QHostAddress& address, quint16 port, QObject* parent, const Limits& limits)
    : QObject(parent), m_limits(limits), m_pool(new QThreadPool)
{
    m_pool->setMaxThreadCount(1);
    // A read never waits for this thread: it asks for fresh values and answers from the last ones.
    connect(this, &ModbusServer::onRecvRequest, this, &ModbusServer::publishRegisters, Qt::QueuedConnection);
    // The reset is the one request that must run here; the server thread waits for it, bounded.
    connect(this, &ModbusServer::modifyData, this, [this] {
        if (!callInGuiThread([this] { resetCounters(); }))
            setModifyStauts(false);
    }, Qt::DirectConnection);
    m_publishTimer = new QTimer(this);
    connect(m_publishTimer, &QTimer::timeout, this, &ModbusServer::publishRegisters);
    m_publishTimer->start(kIdlePublishMs);
    m_countWriteTimer = new QTimer(this);
    m_countWriteTimer->setSingleShot(true);
    connect(m_countWriteTimer, &QTimer::timeout, this, &ModbusServer::writeCount);
    // At the end of the program the main window is still there to write a pending reset.
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &ModbusServer::flushCountWrite);
    publishRegisters();
    reAction(address, port);
}

ModbusServer::~ModbusServer()
{
    deinitialize();
    flushCountWrite();   // the last reset of a burst is not lost
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
        return false;
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
    auto server = std::make_unique<DescriptorServer>();
    server->incoming = [this](int fd) { onNewConnection(fd); };
    // Out of descriptors, the server pauses accepting: it tries again shortly instead of for good.
    connect(server.get(), &QTcpServer::acceptError, server.get(), [this, s = server.get()] {
        logRefusal(QStringLiteral("accept failed: %1").arg(s->errorString()));
        QTimer::singleShot(kAcceptRetryMs, s, [s] { s->resumeAccepting(); });
    });
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
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
        delete it->notifier;
        closeAtOnce(it.key());
    }
    m_connections.clear();
    m_connectionCount = 0;
    server.reset();
    // The last refusals of a flood are told, not left in the count.
    writeRefusals();
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

void ModbusServer::onNewConnection(int fd)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    QHostAddress peer;
    quint16 peerPort = 0;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        peer.setAddress(reinterpret_cast<const sockaddr*>(&address));
        peerPort = ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                                        : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    }
    if (!admit(peer, peerPort)) {
        closeAtOnce(fd);
        return;
    }
    qDebug().noquote() << QStringLiteral("connect ip: %1, port:%2").arg(peer.toString()).arg(peerPort);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    // Answers are small and awaited one by one: no coalescing delay.
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Connection connection;
    connection.peer = peer;
    connection.peerPort = peerPort;
    connection.lastActiveMs = MonotonicClock::ms();
    connection.notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    connect(connection.notifier, &QSocketNotifier::activated, connection.notifier, [this, fd] { onReadable(fd); });
    m_connections.insert(fd, connection);
    ++m_connectionCount;
}

bool ModbusServer::admit(const QHostAddress& peer, quint16 peerPort)
{
    const auto fromPeer = [this, &peer] {
        return std::count_if(m_connections.cbegin(), m_connections.cend(),
                             [&peer](const Connection& c) { return c.peer.isEqual(peer); });
    };
    const auto full = [this] {
        return m_connections.size() >= m_limits.maxConnections || !DescriptorReserve::enoughFree();
    };
    // The caps count live connections only. Accepts come before the reads of the same pass,
    // so a client that connects per read still holds the connection it has just closed:
    // those go before anything is refused or traded.
    if (fromPeer() >= m_limits.maxConnectionsPerAddress || full())
        dropClosed();
    // A peer at its limit trades its own silent connection (a controller that restarted
    // leaves its old ones behind); when all are taken, or the process's descriptors run
    // short, the connection silent the longest makes room.
    if (fromPeer() >= m_limits.maxConnectionsPerAddress
        && !evictIdlest(peer, peerPort, QStringLiteral("its address holds %1").arg(m_limits.maxConnectionsPerAddress),
                        &peer)) {
        logRefusal(QStringLiteral("per-address limit reached by %1").arg(peer.toString()));
        return false;
    }
    if (full()
        && !evictIdlest(peer, peerPort,
                        m_connections.size() >= m_limits.maxConnections
                            ? QStringLiteral("all %1 slots taken").arg(m_limits.maxConnections)
                            : QStringLiteral("descriptors short"))) {
        logRefusal(QStringLiteral("no free slot for %1").arg(peer.toString()));
        return false;
    }
    return true;
}

namespace {

// An IPv4 peer of the dual-stack listener as the plant knows it ("10.0.0.5", not "::ffff:10.0.0.5").
QString shownAddress(const QHostAddress& address)
{
    bool v4 = false;
    const quint32 ip = address.toIPv4Address(&v4);
    return v4 ? QHostAddress(ip).toString() : address.toString();
}

} // namespace

bool ModbusServer::evictIdlest(const QHostAddress& newcomer, quint16 newcomerPort, const QString& why,
                               const QHostAddress* from)
{
    const qint64 now = MonotonicClock::ms();
    int idlest = -1;
    qint64 oldest = now - m_limits.evictIdleAfterMs;
    for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it) {
        if (it->lastActiveMs <= oldest && (!from || it->peer.isEqual(*from))) {
            oldest = it->lastActiveMs;
            idlest = it.key();
        }
    }
    if (idlest < 0)
        return false;
    // Each trade is logged (the log limiter holds back a flood of them): a poller that loses
    // its connection finds why.
    const Connection& traded = *m_connections.constFind(idlest);
    qWarning().noquote() << QStringLiteral("modbus: connection traded: %1 port %2, silent %3 ms, "
                                           "closed for %4 port %5 (%6)")
                                .arg(shownAddress(traded.peer))
                                .arg(traded.peerPort)
                                .arg(now - traded.lastActiveMs)
                                .arg(shownAddress(newcomer))
                                .arg(newcomerPort)
                                .arg(why);
    drop(idlest);
    return true;
}

void ModbusServer::dropClosed()
{
    QList<int> closed;
    for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it)
        if (peerHasClosed(it.key()))
            closed << it.key();
    for (const int fd : closed)
        drop(fd);
}

void ModbusServer::drop(int fd)
{
    const auto it = m_connections.find(fd);
    if (it == m_connections.end())
        return;
    // It may be its own notifier that called: it goes once this pass is over.
    it->notifier->setEnabled(false);
    it->notifier->deleteLater();
    closeAtOnce(fd);
    m_connections.erase(it);
    --m_connectionCount;
}

void ModbusServer::logRefusal(const QString& why)
{
    // A flood writes a line a second at most, with its count.
    ++m_refusedSinceLog;
    m_lastRefusal = why;
    if (MonotonicClock::ms() - m_lastRefusalLogMs >= kRefusalLogPeriodMs)
        writeRefusals();
}

void ModbusServer::writeRefusals()
{
    if (m_refusedSinceLog == 0)
        return;
    qWarning().noquote() << QStringLiteral("modbus: connection refused or closed, %1 (%2 since the last line)")
                                .arg(m_lastRefusal)
                                .arg(m_refusedSinceLog);
    m_refusedSinceLog = 0;
    m_lastRefusalLogMs = MonotonicClock::ms();
}

int ModbusServer::frameLength(const QByteArray& buffer)
{
    if (buffer.size() < kLengthByte + 2)
        return 0;
    const int length = kLengthByte + 2 + be16(buffer, kLengthByte);
    if (length - kLengthByte - 2 < kMinLengthField || length > kMaxAduBytes)
        return -1;
    return length;
}

int ModbusServer::takeFrame(QByteArray& buffer, QByteArray& frame)
{
    const int length = frameLength(buffer);
    if (length <= 0)
        return length;
    if (buffer.size() < length)
        return 0;
    if (length == buffer.size()) {
        frame.clear();
        frame.swap(buffer);   // the common case: one whole request per read
    } else {
        frame = buffer.left(length);
        buffer.remove(0, length);
    }
    return 1;
}

void ModbusServer::onReadable(int fd)
{
    auto it = m_connections.find(fd);
    if (it == m_connections.end())
        return;
    char chunk[4 * kMaxAduBytes];
    const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (got <= 0) {
        drop(fd);   // the peer closed, or the connection broke
        return;
    }
    it->lastActiveMs = MonotonicClock::ms();
    // Bytes that arrive together need not be one frame: each connection keeps its own buffer;
    // more than one receive holds is taken at the notifier's next call.
    QByteArray& buffer = it->buffer;
    buffer.append(chunk, int(got));
    for (;;) {
        QByteArray frame;
        const int taken = takeFrame(buffer, frame);
        if (taken == 0)
            return;
        if (taken < 0 || !analysis(frame)) {
            logRefusal(QStringLiteral("no Modbus frame from %1").arg(it->peer.toString()));
            drop(fd);
            return;
        }
        // A client awaits each answer; one that leaves them unread until the socket is full is dropped.
        if (send(fd, frame.constData(), size_t(frame.size()), MSG_NOSIGNAL | MSG_DONTWAIT) != frame.size()) {
            logRefusal(QStringLiteral("answers left unread by %1").arg(it->peer.toString()));
            drop(fd);
            return;
        }
    }
}

bool ModbusServer::analysis(QByteArray& frame)
{
    const int length = frameLength(frame);
    if (length <= 0 || length != frame.size() || be16(frame, kProtocolByte) != 0)
        return false;
    m_function = quint8(frame.at(kFunctionByte));
    m_startAddress = frame.size() >= kAddressByte + 2 ? be16(frame, kAddressByte) : 0;
    m_registerCount = frame.size() >= kCountByte + 2 ? be16(frame, kCountByte) : 0;
    switch (m_function) {
    case ReadHoldingRegisters:
        funcRead(frame);
        break;
    case WriteMultipleRegisters:
        funcWrite(frame);
        break;
    default:
        frame = exceptionReply(frame, IllegalFunction);
    }
    return true;
}

QByteArray ModbusServer::exceptionReply(const QByteArray& frame, quint8 code) const
{
    QByteArray reply = frame.left(kMbapBytes);
    setBe16(reply, kLengthByte, 3);
    reply.append(char(m_function | kExceptionFlag));
    reply.append(char(code));
    return reply;
}

void ModbusServer::funcRead(QByteArray& frame)
{
    const int n = m_registerCount;
    if (frame.size() != kRequestBytes || n < 1 || n > kMaxReadCount) {
        frame = exceptionReply(frame, IllegalValue);
        return;
    }
    if (m_startAddress + n > kAddressSpace) {
        frame = exceptionReply(frame, IllegalAddress);
        return;
    }
    frame.truncate(kAddressByte);
    setBe16(frame, kLengthByte, 3 + 2 * n);
    frame.append(char(2 * n));
    if (MonotonicClock::ms() - m_publishedMs > kPublishMs && !m_refreshAsked.exchange(true))
        emit onRecvRequest();
    const quint64 packed = m_published.load();
    while (m_values.size() < kRegisterCount)
        m_values << 0;   // once: refilled in place below, no allocation per request
    for (int r = 0; r < kRegisterCount; ++r)
        m_values[r] = quint16(packed >> (16 * r));
    appendData(frame);
}

void ModbusServer::appendData(QByteArray& frame)
{
    for (int address = m_startAddress; address < m_startAddress + m_registerCount; ++address)
        appendBe16(frame, address < m_values.size() ? m_values.at(address) : 0);
}

void ModbusServer::funcWrite(QByteArray& frame)
{
    const int n = m_registerCount;
    if (frame.size() < kWriteHeaderBytes) {
        frame = exceptionReply(frame, IllegalValue);
        return;
    }
    const int byteCount = quint8(frame.at(kByteCountByte));
    if (n < 1 || n > kMaxWriteCount || byteCount != 2 * n || frame.size() != kWriteHeaderBytes + byteCount) {
        frame = exceptionReply(frame, IllegalValue);
        return;
    }
    // Only the reset register takes writes; values for registers 0..3 beside it are ignored.
    const int resetIndex = kResetRegister - m_startAddress;
    if (m_startAddress + n > kAddressSpace || resetIndex < 0 || resetIndex >= n) {
        frame = exceptionReply(frame, IllegalAddress);
        return;
    }
    const int value = be16(frame, kWriteHeaderBytes + 2 * resetIndex);
    if (value > 1) {
        frame = exceptionReply(frame, IllegalValue);
        return;
    }
    if (value == 1) {
        setModifyStauts(false);
        emit modifyData();
        if (!m_modifyStatus) {
            // The GUI thread did not run the reset in time: no reset is claimed.
            frame = exceptionReply(frame, DeviceBusy);
            return;
        }
    }
    frame.truncate(kRequestBytes);
    setBe16(frame, kLengthByte, 6);
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
    for (int waited = 0; waited < m_limits.guiWaitMs && !m_closing; waited += kGuiPollMs)
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
    return values;
}

void ModbusServer::publishRegisters()
{
    const QList<unsigned short> values = getData();
    quint64 packed = 0;
    for (int r = 0; r < kRegisterCount && r < values.size(); ++r)
        packed |= quint64(values.at(r)) << (16 * r);
    m_published = packed;
    m_publishedMs = MonotonicClock::ms();
    m_refreshAsked = false;
    m_publishTimer->setInterval(m_connectionCount > 0 ? kPublishMs : kIdlePublishMs);
}

void ModbusServer::resetCounters()
{
    std::fill(std::begin(gFailNum), std::end(gFailNum), 0);
    std::fill(std::begin(gAllNum), std::end(gAllNum), 0);
    publishRegisters();
    writeCountSoon();
    setModifyStauts(true);
}

void ModbusServer::writeCountSoon()
{
    // A flood of resets must not rewrite the file for each one: the first of a burst is
    // written at once, the rest together once the gap has passed.
    if (m_countWriteTimer->isActive())
        return;
    const qint64 wait = m_lastCountWriteMs + kCountWriteGapMs - MonotonicClock::ms();
    if (wait <= 0)
        writeCount();
    else
        m_countWriteTimer->start(int(wait));
}

void ModbusServer::flushCountWrite()
{
    if (m_countWriteTimer->isActive())
        writeCount();
}

void ModbusServer::writeCount()
{
    m_countWriteTimer->stop();
    m_lastCountWriteMs = MonotonicClock::ms();
    if (gpWin)
        gpWin->CountWrite();
}
