#include "httpmanager.h"

#include "tcpclireactor.h"
#include "tcpservreactor.h"

#include <QDebug>
#include <QEventLoop>
#include <QFutureInterface>
#include <QLoggingCategory>
#include <QSemaphore>
#include <QThreadPool>
#include <QVariant>

namespace {
Q_LOGGING_CATEGORY(lcDefault, "default")
}

HttpManager::HttpManager(VEKT_TYPE type) : QObject(nullptr), type_(type), workerPool_(new QThreadPool)
{
    workerPool_->setMaxThreadCount(kWorkerThreads);
    qRegisterMetaType<CTask_FormData>("CTask_FormData");
}

HttpManager::~HttpManager()
{
    stopReactor();
    Reload_Future_Workfunc(true);
    workerPool_->waitForDone(-1);
}

// The reactor thread reads reactor_ (mode 4 answers 404 and 503 there): it is ended
// before the pointer changes, so it never sees a half-released reactor.
void HttpManager::stopReactor()
{
    if (reactor_)
        reactor_->deinitialize();
    reactor_.reset();
}

bool HttpManager::startReactor(QHostAddress const& address, quint16 port, int mode)
{
    return makeReactor(mode) && reactor_->reAction(address, port);
}

bool HttpManager::makeReactor(int mode)
{
    stopReactor();
    if (type_ == VEKT_CLIENT)
        reactor_.reset(new VEKC::TcpCliReactor);
    else if (type_ == VEKT_SERVER)
        reactor_.reset(new VEKC::TcpServReactor);
    else
        return false;
    reactor_->setLimits(netLimits_);
    if (type_ == VEKT_SERVER)
        reactor_->setThreadCount(reactorThreads_);
    const QString name = property("name").toString();
    if (!name.isEmpty())
        reactor_->setProperty("name", name);
    reactor_->blockAllRecvSIG();
    Reload_Future_Workfunc(true);

    VEKC::TcpReactor* r = reactor_.data();
    switch (mode) {
    case 1:
        connect(r, &VEKC::TcpReactor::sigResponse, this, &HttpManager::SlotRecvResponse, Qt::QueuedConnection);
        connect(r, &VEKC::TcpReactor::sigRequest, this, &HttpManager::SlotRecvRequest, Qt::QueuedConnection);
        break;
    case 2:
        connect(r, &VEKC::TcpReactor::sigResponse, this, &HttpManager::SlotRecvResponse, Qt::QueuedConnection);
        connect(r, &VEKC::TcpReactor::sigRequest, this, &HttpManager::SlotRecvRequest, Qt::DirectConnection);
        break;
    case 3:
        connect(r, &VEKC::TcpReactor::sigRequest, this, [this](CTask_FormData task) {
            {
                QMutexLocker lock(&mutex_);
                pendingTasks_.append(task);
            }
            emit new_message_arrive();
        }, Qt::DirectConnection);
        Reload_Future_Workfunc(false);
        break;
    case 4:
        connect(r, &VEKC::TcpReactor::sigResponse, this, &HttpManager::SlotRecvResponse, Qt::DirectConnection);
        connect(r, &VEKC::TcpReactor::sigRequest, this, &HttpManager::SlotRecvRequest_Pre_ThreadMold2,
                Qt::DirectConnection);
        break;
    default:
        break;
    }
    return true;
}

void HttpManager::callback_immediately(CTask_FormData const& request, int code, QString text)
{
    CTask_FormData reply;
    reply.uuid = request.uuid;
    reply.sessionId = request.sessionId;
    reply.status = code;
    if (!text.isEmpty())
        reply.msg = text;
    if (reactor_)
        reactor_->post_async(reply);
}

void HttpManager::logTiming(const char* text, CTask_FormData& task, bool always)
{
    if (!lcDefault().isInfoEnabled())
        return;
    qint64 usetime = -1;
    qint64 packs = -1;
    TcpTsk_Info info(QString{});
    const bool have = task.taskInfo.tryGetValue(info);
    if (!have && !always)
        return;
    if (have) {
        const QMap<QString, QVariant> report = info.getReportParam();
        usetime = report.value("_tsk_finishrecv_timing").toLongLong() - report.value("_tsk_create_timing").toLongLong();
        packs = report.value("_tsk_recv_times").toLongLong();
    }
    qCInfo(lcDefault) << text << task.url << "usetime_ms:" << usetime << "packs:" << packs;
}

void HttpManager::SlotRecvRequest(CTask_FormData task)
{
    logTiming("[Short_RCV][SlotRecvRequest] **********************", task, false);
    const auto route = routes_.constFind(task.url);
    if (route == routes_.cend()) {
        callback_immediately(task, 404, QString());
        qInfo() << "SlotRecvRequest" << "404 Not Found";
        return;
    }
    route.value()(task);
}

void HttpManager::SlotRecvRequest_Pre_ThreadMold2(CTask_FormData task)
{
    logTiming("[Short_RCV][SlotRecvRequest] **********************", task, false);
    if (!routes_.contains(task.url)) {
        callback_immediately(task, 404, QString());
        qInfo() << "SlotRecvRequest_Pre_ThreadMold2" << "404 Not Found";
        return;
    }
    if (arrivalRoutes_.contains(task.url)) {
        routes_.constFind(task.url).value()(task);
        return;
    }
    bool busy = false;
    {
        QMutexLocker lock(&mutex_);
        busy = busyUrls_.contains(task.url);
    }
    if (busy) {
        callback_immediately(task, 503, QString());
        qInfo() << "SlotRecvRequest_Pre_ThreadMold2" << "503  Service Unavailable";
        return;
    }
    QMetaObject::invokeMethod(this, [this, task] { SlotRecvRequest_ThreadMold2(task); }, Qt::QueuedConnection);
}

void HttpManager::SlotRecvRequest_ThreadMold2(CTask_FormData task)
{
    const auto route = routes_.constFind(task.url);
    if (route == routes_.cend())
        return;
    {
        QMutexLocker lock(&mutex_);
        busyUrls_.append(task.url);
    }
    // The reply waits until the URL is free again, so that a client sending its next
    // request on receipt of this answer is not told the server is busy.
    const QSharedPointer<VEKC::TcpReactor> reactor = reactor_;
    if (reactor)
        reactor->beginDeferral();
    route.value()(task);
    {
        QMutexLocker lock(&mutex_);
        busyUrls_.removeOne(task.url);
    }
    if (reactor)
        reactor->endDeferral();
}

void HttpManager::SlotRecvResponse(CTask_FormData task, bool stashed)
{
    if (!stashed)
        return;
    TcpTsk_Info info(QString{});
    if (!task.taskInfo.tryGetValue(info))
        return;
    const auto route = routes_.constFind(info.url);
    if (route != routes_.cend())
        route.value()(task);
}

void HttpManager::workerStep()
{
    CTask_FormData task;
    {
        QMutexLocker lock(&mutex_);
        if (pendingTasks_.isEmpty())
            return;
        task = pendingTasks_.takeFirst();
    }
    logTiming("[Short_RCV] *********************************", task, true);
    const auto route = routes_.constFind(task.url);
    if (route == routes_.cend())
        callback_immediately(task, 404, QString());
    else
        route.value()(task);
}

void HttpManager::Reload_Future_Workfunc(bool stopOnly)
{
    emit readyToClose();
    for (QFuture<void>& f : futures_)
        f.waitForFinished();
    futures_.clear();
    if (stopOnly)
        return;
    for (int i = 0; i < workerPool_->maxThreadCount(); ++i) {
        QFutureInterface<void> done;
        done.reportStarted();
        futures_.append(done.future());
        auto started = QSharedPointer<QSemaphore>::create(0);
        workerPool_->start([this, done, started]() mutable {
            QEventLoop loop;
            connect(this, &HttpManager::readyToClose, &loop, &QEventLoop::quit, Qt::QueuedConnection);
            connect(this, &HttpManager::new_message_arrive, &loop, [this] { workerStep(); }, Qt::QueuedConnection);
            started->release();
            loop.exec();
            done.reportFinished();
        });
        // Connected before the next stop can be signalled, so no worker misses it.
        started->acquire();
    }
}
