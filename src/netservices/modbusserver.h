#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSharedPointer>
#include <atomic>
#include <functional>

class QSemaphore;
class QThreadPool;
class QSocketNotifier;
class QTcpServer;
class QTimer;

// What one peer, and all of them, may hold on the Modbus port; the descriptor
// reserve of the process comes on top.
struct ModbusLimits
{
    // Room for every poller a plant runs, each keeping its connection; still far below the
    // descriptor limit (1024 by default, an eighth of it the reserve).
    int maxConnections = 128;
    // Pollers behind one address (a gateway, a plant server with a driver per line) fit too;
    // one address still cannot take the table.
    int maxConnectionsPerAddress = 64;
    // Only when no slot is free, one idle this long makes room (a trade, logged).
    int evictIdleAfterMs = 2000;
    int guiWaitMs = 2000;           // a reset the GUI thread has not run by then: device busy
};

// Modbus TCP server of the plant: function 3 reads the run state, the NG state
// and the counts (holding registers 0..4), function 16 writing 1 to register 4
// clears the counters. Sockets live in a one-thread pool with an event loop of
// their own. The GUI thread publishes the register values, so a read never waits
// for it; only the reset is carried into the GUI thread, with a bounded wait.
class ModbusServer : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 kPort = 502;
    static constexpr int kMbapBytes = 7;        // transaction, protocol, length, unit
    static constexpr int kMaxAduBytes = 260;    // the largest frame Modbus TCP allows
    static constexpr int kMaxReadCount = 125;
    static constexpr int kMaxWriteCount = 123;
    static constexpr int kResetRegister = 4;
    static constexpr int kRegisterCount = 4;    // registers with a value; the rest read 0
    static constexpr int kListenRetryMs = 5000;
    static constexpr int kStopWaitMs = 3000;
    // The GUI thread republishes the registers this often while a client is connected,
    // and at the slower pace otherwise.
    static constexpr int kPublishMs = 10;
    static constexpr int kIdlePublishMs = 100;
    // A burst of resets writes "count.ini" once per this time, the last state included.
    static constexpr int kCountWriteGapMs = 200;

    enum Function : quint8 { ReadHoldingRegisters = 3, WriteMultipleRegisters = 16 };
    enum Exception : quint8 {
        IllegalFunction = 1,
        IllegalAddress = 2,
        IllegalValue = 3,
        DeviceBusy = 6,
    };

    using Limits = ModbusLimits;

    explicit ModbusServer(const QHostAddress& address = QHostAddress::Any, quint16 port = kPort,
                          QObject* parent = nullptr, const Limits& limits = Limits());
    ~ModbusServer() override;

    bool reAction(const QHostAddress& address, quint16 port);
    // False at once when already running; otherwise whether the server listens after the start.
    bool initialize();
    void deinitialize();
    // The server thread is up and its socket listens.
    bool isRunning() const { return m_listening; }
    // The port listened on (the chosen one when 0 was asked for).
    quint16 serverPort() const { return m_boundPort; }
    int connectionCount() const { return m_connectionCount; }

    // One whole frame in, its answer out (server thread). False when the frame is refused
    // (no Modbus frame: its length or protocol id is wrong): no answer, the connection closes.
    bool analysis(QByteArray& frame);
    void funcRead(QByteArray& frame);
    void funcWrite(QByteArray& frame);
    // The values of the requested registers, two bytes each.
    void appendData(QByteArray& frame);
    // Registers 0..3 from the main window's state and counters (GUI thread).
    QList<unsigned short> getData();
    void setModifyStauts(bool status) { m_modifyStatus = status; }

    // Cuts the whole frame at the buffer's head into frame: 1 done, 0 incomplete,
    // -1 when its length field is invalid (the stream cannot be resynchronised).
    static int takeFrame(QByteArray& buffer, QByteArray& frame);
    // Bytes of the frame whose head the buffer holds: 0 while its length is unknown, -1 when invalid.
    static int frameLength(const QByteArray& buffer);

public slots:
    // GUI thread: getData() into the values the server thread answers from.
    void publishRegisters();
    // GUI thread: "count.ini" written now when a reset still waits for its write.
    void flushCountWrite();

signals:
    // Server thread to GUI thread: a read found the values older than kPublishMs (queued, not awaited).
    void onRecvRequest();
    // Server thread: a reset was written; the GUI thread runs it while the server thread waits, bounded.
    void modifyData();
    void readyToClose();

private:
    // One connection, served on its bare descriptor: a request costs one receive and one send.
    struct Connection
    {
        QHostAddress peer;
        quint16 peerPort = 0;
        QByteArray buffer;
        qint64 lastActiveMs = 0;
        QSocketNotifier* notifier = nullptr;
    };

    void serverFunction(QSharedPointer<QSemaphore> tried);
    bool onStart(QTcpServer* server);
    void onNewConnection(int fd);
    bool admit(const QHostAddress& peer, quint16 peerPort);
    // Closes the connection silent the longest (of one peer when given) if past the eviction age
    // and logs the trade for the newcomer, giving why.
    bool evictIdlest(const QHostAddress& newcomer, quint16 newcomerPort, const QString& why,
                     const QHostAddress* from = nullptr);
    // Drops the connections whose peer has closed and whose end is still unread.
    void dropClosed();
    void drop(int fd);
    void onReadable(int fd);
    void logRefusal(const QString& why);
    // The refusals counted since the last line, in one line (also when the server stops).
    void writeRefusals();
    // GUI thread: clears gAllNum and gFailNum; "count.ini" follows (coalesced).
    void resetCounters();
    void writeCountSoon();
    void writeCount();
    // Runs fn in the GUI thread and waits up to guiWaitMs; false when it did not run.
    bool callInGuiThread(const std::function<void()>& fn);
    QByteArray exceptionReply(const QByteArray& frame, quint8 code) const;

    QHostAddress m_address;
    quint16 m_port = kPort;
    const Limits m_limits;
    QSharedPointer<QThreadPool> m_pool;
    std::atomic<bool> m_listening{false};
    std::atomic<bool> m_closing{false};
    std::atomic<quint16> m_boundPort{0};

    // The frame being handled (server thread).
    QList<unsigned short> m_values;
    int m_function = 0;
    int m_startAddress = 0;
    int m_registerCount = 0;
    std::atomic<bool> m_modifyStatus{false};

    // Registers 0..3 packed 16 bits each, as the GUI thread last published them.
    std::atomic<quint64> m_published{0};
    std::atomic<qint64> m_publishedMs{0};
    std::atomic<bool> m_refreshAsked{false};
    QTimer* m_publishTimer = nullptr;
    QTimer* m_countWriteTimer = nullptr;
    qint64 m_lastCountWriteMs = -kCountWriteGapMs;

    // Server thread only.
    QHash<int, Connection> m_connections;   // by descriptor
    std::atomic<int> m_connectionCount{0};
    qint64 m_refusedSinceLog = 0;
    QString m_lastRefusal;
    qint64 m_lastRefusalLogMs = -1000000;
};
