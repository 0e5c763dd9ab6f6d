#include "tcpreactor.h"

#include "clock.h"
#include "sci_execobj_send.h"
#include "session.h"
#include "taskuuid.h"

#include <QAbstractSocket>
#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QSemaphore>
#include <QTcpSocket>
#include <QThread>
#include <QThreadPool>
#include <algorithm>

namespace VEKC {

std::atomic<int> TcpReactor::_increase_index_session{0};

namespace {
std::atomic<int> g_postUuidCounter{0};

struct Deferral
{
    TcpReactor* reactor = nullptr;
    int depth = 0;
    QList<CTask_FormData> kept;
};
thread_local Deferral t_deferral;
}

void TcpReactor::beginDeferral()
{
    if (t_deferral.depth++ == 0)
        t_deferral.reactor = this;
}

void TcpReactor::endDeferral()
{
    if (t_deferral.depth == 0 || --t_deferral.depth > 0)
        return;
    const QList<CTask_FormData> kept = std::move(t_deferral.kept);
    t_deferral.kept.clear();
    t_deferral.reactor = nullptr;
    for (const CTask_FormData& task : kept)
        addSendQueue(task);
}

TcpReactor::TcpReactor() : socketThreadPool_(new QThreadPool)
{
    socketThreadPool_->setMaxThreadCount(1);
    qRegisterMetaType<CTask_FormData>("CTask_FormData");
    qRegisterMetaType<QAbstractSocket::SocketState>("QAbstractSocket::SocketState");
    qRegisterMetaType<SCI_ExecObj_Send>("SCI_ExecObj_Send");
    connect(&taskTimer_, &QTimer::timeout, this, &TcpReactor::expireTasks, Qt::QueuedConnection);
    taskTimer_.start(kTaskExpiryPeriodMs);
    connect(&sessionTimer_, &QTimer::timeout, this, [this] { remove_ClientSession(-2); }, Qt::QueuedConnection);
    sessionTimer_.start(kSessionSweepPeriodMs);
}

TcpReactor::~TcpReactor()
{
    taskTimer_.stop();
    sessionTimer_.stop();
    socketThreadPool_->waitForDone(-1);
}

bool TcpReactor::loopActive() const
{
    return running_ || socketThreadPool_->activeThreadCount() > 0;
}

bool TcpReactor::initialize()
{
    if (isRunning() || loopActive())
        return false;
    socketThreadPool_->setMaxThreadCount(threadCount_);
    // The connection threads run first, so the main loop can hand sessions over from its start.
    for (int i = 1; i < threadCount_; ++i) {
        auto ready = QSharedPointer<QSemaphore>::create(0);
        socketThreadPool_->start([this, ready] {
            QEventLoop loop;
            QObject context;
            connect(this, &TcpReactor::connectionLoopsClose, &loop, &QEventLoop::quit, Qt::QueuedConnection);
            {
                QMutexLocker lock(&sessionMutex_);
                loopContexts_ << &context;
            }
            ready->release();
            loop.exec();
            releaseLoopLeftovers(&context);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        });
        ready->acquire();
    }
    auto started = QSharedPointer<QSemaphore>::create(0);
    auto ok = QSharedPointer<std::atomic<bool>>::create(false);
    socketThreadPool_->start([this, started, ok] {
        QEventLoop loop;
        connect(this, &TcpReactor::readyToClose, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        mainLoopThread_ = QThread::currentThread();
        if (!onStart()) {
            emit connectionLoopsClose();
            started->release();
            return;
        }
        aliveStamp_ = MonotonicClock::ms();
        running_ = true;
        *ok = true;
        started->release();
        QTimer alive;
        connect(&alive, &QTimer::timeout, [this] { aliveStamp_ = MonotonicClock::ms(); });
        alive.start(kAliveTickMs);
        loop.exec();
        alive.stop();
        running_ = false;
        onFinish();
        // Objects let go with deleteLater during the loop die before the thread idles.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // Sessions of the other threads were let go by onFinish: their loops delete them first.
        emit connectionLoopsClose();
    });
    started->acquire();
    if (!*ok)
        socketThreadPool_->waitForDone(-1);   // a failed start leaves no thread behind
    return *ok;
}

void TcpReactor::deinitialize()
{
    if (!loopActive())
        return;
    emit readyToClose();
    if (!socketThreadPool_->waitForDone(-1))
        qInfo() << "socketThreadPool_->waitForDone error!";
}

bool TcpReactor::reAction(QHostAddress const& address, quint16 port)
{
    deinitialize();
    address_ = address;
    port_ = port;
    return initialize();
}

void TcpReactor::blockAllRecvSIG()
{
    disconnect(this, &TcpReactor::sigRequest, nullptr, nullptr);
    disconnect(this, &TcpReactor::sigResponse, nullptr, nullptr);
}

QString TcpReactor::stampUuid() const
{
    return makeTaskUuid("defalut", g_postUuidCounter.fetch_add(1) + 1);
}

bool TcpReactor::post_async(CTask_FormData const& task)
{
    CTask_FormData copy = task;
    if (copy.uuid.isEmpty())
        copy.uuid = stampUuid();
    // Registered before it leaves, so that a fast response finds its entry.
    // Responses are not registered: nothing will ever answer them.
    if (!copy.url.isEmpty())
        append_TcpTask(copy);
    if (t_deferral.reactor == this)
        t_deferral.kept << copy;
    else
        addSendQueue(copy);
    return true;
}

bool TcpReactor::post_sync(CTask_FormData& request, CTask_FormData& response, int timeout)
{
    if (getAliveSession().isEmpty())
        return false;
    if (timeout < 1 || timeout > NetDefaults::kMaxPostSyncTimeoutMs)
        return false;
    if (request.uuid.isEmpty())
        request.uuid = stampUuid();
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, [&loop] { loop.exit(0); });
    bool ended = false;
    const QString uuid = request.uuid;
    auto link = connect(this, &TcpReactor::sigResponse, &loop,
                        [&](CTask_FormData reply, bool) {
                            if (ended || reply.uuid != uuid)
                                return;
                            response = reply;
                            ended = true;
                            loop.exit(1);
                        },
                        Qt::QueuedConnection);
    append_TcpTask(request);
    addSendQueue(request);
    timer.start(timeout);
    const int rc = loop.exec();
    ended = true;
    disconnect(link);
    return rc != 0;
}

QList<int> TcpReactor::getAliveSession()
{
    QList<int> ids;
    QMutexLocker lock(&sessionMutex_);
    for (auto it = sessions_.cbegin(); it != sessions_.cend(); ++it)
        if (it.value() && it.value()->isWorking())
            ids << it.key();
    return ids;
}

void TcpReactor::InitSession(Session* session)
{
    connect(session, &Session::sigRequest, this, [this](CTask_FormData obj) {
        updateSoftCnted();
        emit sigRequest(obj);
    }, Qt::DirectConnection);
    connect(session, &Session::sigResponse, this, [this](CTask_FormData obj) {
        updateSoftCnted();
        if (isAliveTcpTask(obj.uuid)) {
            obj.taskInfo = remove_TaskFromList(obj.uuid);
            emit sigResponse(obj, true);
        } else {
            emit sigResponse(obj, false);
        }
    }, Qt::DirectConnection);
    // A lost connection leaves the map at once and dies in its own thread. A closing
    // one waits for disconnected(), so that a last reply still drains before the socket goes.
    const int id = session->id();
    QPointer<Session> guard(session);
    auto drop = [this, id, guard] {
        {
            QMutexLocker lock(&sessionMutex_);
            auto it = sessions_.find(id);
            if (it != sessions_.end() && it.value() == guard)
                sessions_.erase(it);
        }
        if (guard)
            guard->deleteLater();
        sessionGone();
    };
    QTcpSocket* socket = session->socket();
    if (!socket)
        return;
    connect(socket, &QAbstractSocket::disconnected, session, drop);
}

QList<QThread*> TcpReactor::loopThreads()
{
    QList<QThread*> threads{mainLoopThread_};
    QMutexLocker lock(&sessionMutex_);
    for (QObject* context : qAsConst(loopContexts_))
        threads << context->thread();
    return threads;
}

void TcpReactor::handOver(QTcpSocket* socket)
{
    updateSoftCnted();
    const int id = _increase_index_session.fetch_add(1) + 1;
    QThread* const here = QThread::currentThread();
    {
        QMutexLocker lock(&sessionMutex_);
        QMap<QThread*, int> held{{here, 0}};
        for (QObject* context : qAsConst(loopContexts_))
            held.insert(context->thread(), 0);
        // Listed sessions are alive (they leave the map before they die) and never change thread.
        for (const QPointer<Session>& s : qAsConst(sessions_))
            if (s && held.contains(s->thread()))
                ++held[s->thread()];
        for (const HandOver& h : qAsConst(handOvers_))
            if (held.contains(h.thread))
                ++held[h.thread];
        QThread* target = here;
        for (auto it = held.cbegin(); it != held.cend(); ++it)
            if (it.value() < held.value(target))
                target = it.key();
        if (target != here) {
            QObject* context = *std::find_if(loopContexts_.cbegin(), loopContexts_.cend(),
                                             [target](QObject* c) { return c->thread() == target; });
            const QHostAddress peer = socket->peerAddress();
            // Moved before anything is connected to it or started for it; the session is
            // made in its new thread, after the socket's own move there.
            socket->setParent(nullptr);
            socket->moveToThread(target);
            handOvers_.insert(id, HandOver{socket, peer, target});
            QMetaObject::invokeMethod(context, [this, id] { adoptHandedOver(id); }, Qt::QueuedConnection);
            return;
        }
    }
    makeSession(socket, id);
}

void TcpReactor::adoptHandedOver(int id)
{
    QTcpSocket* socket = nullptr;
    {
        QMutexLocker lock(&sessionMutex_);
        socket = handOvers_.value(id).socket;
    }
    if (!socket)
        return;
    // A peer gone before its session was made told no one: nothing would ever drop it.
    if (socket->state() != QAbstractSocket::ConnectedState) {
        {
            QMutexLocker lock(&sessionMutex_);
            handOvers_.remove(id);
        }
        delete socket;
        sessionGone();
        return;
    }
    makeSession(socket, id);
}

void TcpReactor::releaseLoopLeftovers(QObject* context)
{
    QThread* const here = QThread::currentThread();
    QList<QTcpSocket*> sockets;
    QList<Session*> sessions;
    {
        QMutexLocker lock(&sessionMutex_);
        loopContexts_.removeOne(context);
        for (auto it = handOvers_.begin(); it != handOvers_.end();) {
            if (it->thread != here) {
                ++it;
                continue;
            }
            sockets << it->socket;
            it = handOvers_.erase(it);
        }
        // Made after the main loop let every session go: none may outlive its thread's loop.
        for (auto it = sessions_.begin(); it != sessions_.end();) {
            if (!it.value() || it.value()->thread() != here) {
                ++it;
                continue;
            }
            sessions << it.value().data();
            it = sessions_.erase(it);
        }
    }
    qDeleteAll(sessions);
    qDeleteAll(sockets);
}

void TcpReactor::runInLoopOf(QThread* thread, const std::function<void()>& work)
{
    if (thread == QThread::currentThread()) {
        work();
        return;
    }
    QMutexLocker lock(&sessionMutex_);
    for (QObject* context : qAsConst(loopContexts_)) {
        if (context->thread() != thread)
            continue;
        // Posted under the lock, which keeps the context alive; waited for after it, since
        // the work takes the lock itself.
        auto done = QSharedPointer<QSemaphore>::create(0);
        QMetaObject::invokeMethod(context, [work, done] {
            work();
            done->release();
        }, Qt::QueuedConnection);
        lock.unlock();
        done->acquire();
        return;
    }
}

Session* TcpReactor::adoptSocket(QTcpSocket* socket)
{
    updateSoftCnted();
    return makeSession(socket, _increase_index_session.fetch_add(1) + 1);
}

Session* TcpReactor::makeSession(QTcpSocket* socket, int id)
{
    auto* session = new Session(this, socket, id, limits_);
    InitSession(session);
    append_ClientSession(session);
    return session;
}

void TcpReactor::addSendQueue(CTask_FormData const& task)
{
    const SCI_ExecObj_Send send(task);
    QList<QPointer<Session>> here;
    {
        QMutexLocker lock(&sessionMutex_);
        QList<QPointer<Session>> chosen;
        if (task.sessionId == -1) {
            chosen = sessions_.values();
        } else if (task.sessionId != -2) {
            auto it = sessions_.constFind(task.sessionId);
            if (it != sessions_.cend())
                chosen << it.value();
        }
        // Posting to another thread happens under the lock, which keeps the session alive;
        // writes on this thread happen after it, since a write may close the connection.
        for (const QPointer<Session>& s : chosen) {
            if (!s)
                continue;
            if (s->thread() == QThread::currentThread())
                here << s;
            else
                s->SlotSendAction(send);
        }
    }
    for (const QPointer<Session>& s : here)
        if (s)
            s->SlotSendAction(send);
}

void TcpReactor::updateSoftCnted()
{
    softCntedTime_ = Clock::nowMSecsSinceEpoch();
}

void TcpReactor::append_ClientSession(void* session)
{
    auto* s = static_cast<Session*>(session);
    QMutexLocker lock(&sessionMutex_);
    handOvers_.remove(s->id());   // in the same step, so the caps never miss it
    sessions_.insert(s->id(), s);
}

// A session of another thread is told to go while it is listed, hence alive: its own thread
// may delete it as soon as it has left the map.
void TcpReactor::remove_ClientSession(int id)
{
    QList<Session*> here;
    {
        QMutexLocker lock(&sessionMutex_);
        for (const int key : sessions_.keys()) {
            const QPointer<Session> s = sessions_.value(key);
            if (s && id != -1 && key != id)
                continue;
            sessions_.remove(key);
            if (!s)
                continue;
            if (s->thread() == QThread::currentThread())
                here << s.data();
            else
                s->deleteLater();
        }
    }
    qDeleteAll(here);
}

int TcpReactor::sessionCount()
{
    QMutexLocker lock(&sessionMutex_);
    int n = handOvers_.size();
    for (const QPointer<Session>& s : sessions_)
        n += s ? 1 : 0;
    return n;
}

int TcpReactor::handOversFrom(const QHostAddress& address) const
{
    int n = 0;
    for (const HandOver& h : handOvers_)
        n += h.peer.isEqual(address) ? 1 : 0;
    return n;
}

bool TcpReactor::reserveBodyBytes(qint64 bytes)
{
    qint64 held = bodyBytes_.load();
    do {
        if (held + bytes > limits_.bodyBudgetBytes)
            return false;
    } while (!bodyBytes_.compare_exchange_weak(held, held + bytes));
    return true;
}

void TcpReactor::releaseBodyBytes(qint64 bytes)
{
    bodyBytes_ -= bytes;
}

int TcpReactor::taskCount()
{
    QMutexLocker lock(&taskMutex_);
    return tcpTasks_.size();
}

void TcpReactor::append_TcpTask(CTask_FormData const& task)
{
    insertTask(task.uuid, task.url);
}

// A received request's entry: its url field holds the uuid.
void TcpReactor::append_TcpTask(QString const& uuid)
{
    insertTask(uuid, uuid);
}

void TcpReactor::insertTask(const QString& uuid, const QString& url)
{
    if (uuid.isEmpty())
        return;
    TcpTsk_Info info(uuid);
    info.url = url;
    QMutexLocker lock(&taskMutex_);
    tcpTasks_.insert(uuid, info);
}

void TcpReactor::update_TcpTsk_ByUuid(QString uuid, QString key, QList<QVariant> args)
{
    QMutexLocker lock(&taskMutex_);
    auto it = tcpTasks_.find(uuid);
    if (it == tcpTasks_.end())
        return;
    TcpTsk_Info& info = it.value();
    if (key == "tskup_firstrecv_timing") {
        info.firstrecv_timing = Clock::nowMSecsSinceEpoch();
        info.recv_times = 1;
    } else if (key == "tskup_recv_times") {
        info.recv_times += 1;
    } else if (key == "tskup_finishrecv_timing") {
        info.finishrecv_timing = Clock::nowMSecsSinceEpoch();
    } else if (key == "tskup_chg_recvpacklength") {
        info.tskup_chg_recvpacklength(args);
    } else if (key == "tskup_finishact_timing") {
        info.finishact_timing = Clock::nowMSecsSinceEpoch();
    }
}

CVariant<TcpTsk_Info> TcpReactor::getTcpTask(QString uuid)
{
    CVariant<TcpTsk_Info> holder;
    QMutexLocker lock(&taskMutex_);
    auto it = tcpTasks_.constFind(uuid);
    if (it != tcpTasks_.cend())
        holder.setValue(it.value());
    return holder;
}

CVariant<TcpTsk_Info> TcpReactor::remove_TaskFromList(QString uuid)
{
    CVariant<TcpTsk_Info> holder;
    QMutexLocker lock(&taskMutex_);
    auto it = tcpTasks_.find(uuid);
    if (it == tcpTasks_.end())
        return holder;
    TcpTsk_Info info = it.value();
    tcpTasks_.erase(it);
    info.finishact_timing = Clock::nowMSecsSinceEpoch();
    holder.setValue(info);
    return holder;
}

bool TcpReactor::isAliveTcpTask(QString uuid)
{
    QMutexLocker lock(&taskMutex_);
    return tcpTasks_.contains(uuid);
}

void TcpReactor::expireTasks()
{
    const qint64 now = Clock::nowMSecsSinceEpoch();
    QMutexLocker lock(&taskMutex_);
    for (auto it = tcpTasks_.begin(); it != tcpTasks_.end();) {
        if (now - it.value().create_timing > kTaskMaxAgeMs)
            it = tcpTasks_.erase(it);
        else
            ++it;
    }
}

} // namespace VEKC
