#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSharedPointer>
#include <atomic>
#include <functional>

class QSemaphore;
class QThreadPool;
class QTcpServer;
class QTcpSocket;

// Modbus TCP server of the plant: function 3 reads the run state, the NG state
// and the counts (holding registers 0..4), function 16 writing 1 to register 4
// clears the counters. Sockets live in a one-thread pool with an event loop of
// their own; the main window's state is read and reset in the GUI thread.
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
    static constexpr int kGuiWaitMs = 2000;
    // Reads within this time of the last look at the main window share that look: one
    // client polling back to back then costs the GUI thread a call per window, not per request.
    static constexpr qint64 kFreshNs = 5'000'000;

    enum Function : quint8 { ReadHoldingRegisters = 3, WriteMultipleRegisters = 16 };
    enum Exception : quint8 {
        IllegalFunction = 1,
        IllegalAddress = 2,
        IllegalValue = 3,
        DeviceBusy = 6,
    };

    explicit ModbusServer(const QHostAddress& address = QHostAddress::Any, quint16 port = kPort,
                          QObject* parent = nullptr);
    ~ModbusServer() override;

    bool reAction(const QHostAddress& address, quint16 port);
    bool initialize();
    void deinitialize();
    // The server thread is up and its socket listens.
    bool isRunning() const { return m_listening; }
    // The port listened on (the chosen one when 0 was asked for).
    quint16 serverPort() const { return m_boundPort; }

    // Registers 0..3 from the main window's state and counters (GUI thread).
    QList<unsigned short> getData();
    // Clears gAllNum and gFailNum and writes "count.ini" (GUI thread).
    void resetCounters();

    // The answer to one whole frame; empty when none is due. The two callbacks
    // reach the GUI thread and report false when it did not answer in time.
    using ReadRegisters = std::function<bool(QList<unsigned short>&)>;
    using ResetCounters = std::function<bool()>;
    static QByteArray answer(const QByteArray& frame, const ReadRegisters& read, const ResetCounters& reset);
    // Bytes of the whole frame at the buffer's head: 0 while incomplete, -1 when its length is invalid.
    static int frameLength(const QByteArray& buffer);

signals:
    void onRecvRequest();
    void modifyData();
    void readyToClose();

private:
    void serverFunction(QSharedPointer<QSemaphore> tried);
    bool onStart(QTcpServer* server);
    void onNewConnection(QTcpServer* server);
    void onReadyRead(QTcpSocket* socket, QByteArray& buffer);
    // Runs fn in the GUI thread and waits a bounded time; false when it did not run.
    bool callInGuiThread(const std::function<void()>& fn);

    QHostAddress m_address;
    quint16 m_port = kPort;
    QSharedPointer<QThreadPool> m_pool;
    std::atomic<bool> m_listening{false};
    std::atomic<bool> m_closing{false};
    std::atomic<quint16> m_boundPort{0};
    // The server thread's last registers and when they were read (monotonic ns, 0: none).
    QList<unsigned short> m_recent;
    qint64 m_recentNs = 0;
};
