#pragma once

#include "ctask_formdata.h"
#include "netlimits.h"
#include "tcpreactor.h"

#include <QFuture>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QSharedPointer>
#include <functional>

class QThreadPool;

// Role of a network service: 0 server, 1 client; any other value makes no reactor.
enum VEKT_TYPE : int { VEKT_SERVER = 0, VEKT_CLIENT = 1 };

// Base of every network service: a reactor, a route table from URL to handler,
// and the rule that decides in which thread a request is handled.
class HttpManager : public QObject
{
    Q_OBJECT
public:
    static constexpr int kWorkerThreads = 2;

    explicit HttpManager(VEKT_TYPE type);
    ~HttpManager() override;

    void Reload_Future_Workfunc(bool stopOnly);
    inline void sendAsync(CTask_FormData const& task)
    {
        if (reactor_)
            reactor_->post_async(task);
    }
    QSharedPointer<VEKC::TcpReactor> reactor() const { return reactor_; }
    // Connection limits of the reactors started from now on (set before they accept anything).
    void setNetLimits(const NetLimits& limits) { netLimits_ = limits; }
    // Threads a server reactor started from now on spreads its connections over.
    void setReactorThreads(int threads) { reactorThreads_ = threads; }

signals:
    void readyToClose();
    void new_message_arrive();

public slots:
    virtual bool startReactor(QHostAddress const& address, quint16 port, int mode);
    virtual void callback_immediately(CTask_FormData const& request, int code, QString text);
    virtual void SlotRecvResponse(CTask_FormData task, bool stashed);
    virtual void SlotRecvRequest(CTask_FormData task);
    virtual void SlotRecvRequest_Pre_ThreadMold2(CTask_FormData task);
    virtual void SlotRecvRequest_ThreadMold2(CTask_FormData task);

protected:
    // A new reactor of this service's role wired for mode, not yet started; false for no role.
    bool makeReactor(int mode);
    void stopReactor();
    void logTiming(const char* text, CTask_FormData& task, bool always);
    void workerStep();

    QSharedPointer<VEKC::TcpReactor> reactor_;
    VEKT_TYPE type_;
    QMap<QString, std::function<void(CTask_FormData)>> routes_;
    // Routes of mode 4 whose handlers answer in the network thread the request arrived in:
    // they read only what is safe there, so they neither queue behind the GUI thread nor
    // find their URL busy. Filled in the constructor, read-only afterwards.
    QSet<QString> arrivalRoutes_;
    QMutex mutex_;
    QList<CTask_FormData> pendingTasks_;
    QList<QFuture<void>> futures_;
    QSharedPointer<QThreadPool> workerPool_;
    QList<QString> busyUrls_;
    NetLimits netLimits_;
    int reactorThreads_ = 1;
};
