#pragma once

#include "ctask_formdata.h"
#include "netlimits.h"

#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSharedPointer>
#include <QTimer>
#include <atomic>
#include <functional>

class QThreadPool;
class Session;
class QTcpSocket;

namespace VEKC {

// Transport half of a network service: its connections run in a pool of threads,
// each with an event loop of its own (one unless the owner asks for more); records
// travel in and out by session id.
class TcpReactor : public QObject
{
    Q_OBJECT
public:
    static constexpr int kTaskExpiryPeriodMs = 30001;
    static constexpr int kTaskMaxAgeMs = 60000;
    static constexpr int kSessionSweepPeriodMs = 10001;
    static constexpr int kAliveTickMs = 1000;
    static constexpr int kAliveWindowMs = 2000;

    TcpReactor();
    ~TcpReactor() override;

    void append_TcpTask(CTask_FormData const& task);
    void append_TcpTask(QString const& uuid);
    CVariant<TcpTsk_Info> remove_TaskFromList(QString uuid);
    void update_TcpTsk_ByUuid(QString uuid, QString key, QList<QVariant> args);
    CVariant<TcpTsk_Info> getTcpTask(QString uuid);
    bool isAliveTcpTask(QString uuid);
    void append_ClientSession(void* session);
    void remove_ClientSession(int id);

    // Between these two calls, records this thread posts are held and then sent in order:
    // a handler's reply then leaves only after its URL stopped being busy.
    void beginDeferral();
    void endDeferral();

    // Limits handed to every session made from now on.
    void setLimits(const NetLimits& limits) { limits_ = limits; }
    // Threads the connections are spread over, the accepting one included (set before starting).
    void setThreadCount(int threads) { threadCount_ = qMax(1, threads); }
    int threadCount() const { return threadCount_; }
    NetLimits limits() const { return limits_; }
    int sessionCount();
    int taskCount();
    // The body budget shared by this reactor's connections; false when it cannot hold bytes more.
    bool reserveBodyBytes(qint64 bytes);
    void releaseBodyBytes(qint64 bytes);
    qint64 reservedBodyBytes() const { return bodyBytes_; }

    // Ms since the epoch of the last connection made or record received.
    std::atomic<qint64> softCntedTime_{0};

signals:
    void sigRequest(CTask_FormData obj);
    void sigResponse(CTask_FormData obj, bool stashed);
    void readyToClose();
    // The connection threads beside the main loop end (after its sessions were let go).
    void connectionLoopsClose();

public slots:
    virtual bool isRunning() const = 0;
    virtual bool reAction(QHostAddress const& address, quint16 port);
    virtual void blockAllRecvSIG();
    virtual bool post_sync(CTask_FormData& request, CTask_FormData& response, int timeout);
    virtual bool post_async(CTask_FormData const& task);
    virtual QList<int> getAliveSession();
    virtual bool onStart() = 0;
    virtual void onFinish() = 0;
    virtual bool initialize();
    virtual void deinitialize();
    virtual void InitSession(Session* session);
    virtual void addSendQueue(CTask_FormData const& task);
    virtual void updateSoftCnted();

protected:
    // The connect step's share: a session for the socket, made, wired and listed in this thread.
    Session* adoptSocket(QTcpSocket* socket);
    // A session left the map: a server may take connections again.
    virtual void sessionGone() {}
    // The accept step's share: a socket just taken from the listener, with no session and no
    // connection yet, goes to the loop thread that holds the fewest connections, which makes
    // its session. Nothing of a session ever runs in a thread other than its own.
    void handOver(QTcpSocket* socket);
    // Connections handed to another loop thread whose session is not made yet (under
    // sessionMutex_); they count as sessions for the caps.
    int handOversFrom(const QHostAddress& address) const;
    // Runs work in the given connection thread and waits for it (at once when it is this one).
    void runInLoopOf(QThread* thread, const std::function<void()>& work);
    // The main loop's thread and the connection threads beside it.
    QList<QThread*> loopThreads();
    void expireTasks();
    void insertTask(const QString& uuid, const QString& url);
    QString stampUuid() const;
    bool loopActive() const;

    QSharedPointer<QThreadPool> socketThreadPool_;
    QMutex sessionMutex_;
    QMap<int, QPointer<Session>> sessions_;
    QMutex taskMutex_;
    QMap<QString, TcpTsk_Info> tcpTasks_;
    QTimer taskTimer_;
    QTimer sessionTimer_;
    QHostAddress address_;
    quint16 port_ = 0;
    // Liveness: the loop's running flag and a monotonic stamp (never the wall clock).
    std::atomic<bool> running_{false};
    std::atomic<qint64> aliveStamp_{0};
    NetLimits limits_;
    std::atomic<qint64> bodyBytes_{0};
    int threadCount_ = 1;
    // Under sessionMutex_: an object living in each connection thread beside the main loop.
    QList<QObject*> loopContexts_;
    std::atomic<QThread*> mainLoopThread_{nullptr};
    // Under sessionMutex_: sockets on their way to their loop thread, by the id their session gets.
    struct HandOver
    {
        QTcpSocket* socket = nullptr;
        QHostAddress peer;
        QThread* thread = nullptr;
    };
    QMap<int, HandOver> handOvers_;

    static std::atomic<int> _increase_index_session;

private:
    Session* makeSession(QTcpSocket* socket, int id);
    // In the loop thread a socket was handed to: its session is made there.
    void adoptHandedOver(int id);
    // A connection thread whose loop ended deletes the sessions and sockets still its own.
    void releaseLoopLeftovers(QObject* context);
};

} // namespace VEKC
