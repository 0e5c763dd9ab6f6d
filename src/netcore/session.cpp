#include "session.h"

#include "publictools.h"
#include "tcpreactor.h"

#include <QDebug>
#include <QTcpSocket>
#include <QTimer>

namespace {
constexpr int kQueuePollMs = 1;
constexpr int kStopWaitStepMs = 100;
}

Session::Session(void* reactor, QTcpSocket* socket, int id, const NetLimits& limits)
    : QThread(nullptr), id_(id), reactor_(reactor), limits_(limits), framer_(id, limits)
{
    qRegisterMetaType<SCI_ExecObj_Send>("SCI_ExecObj_Send");
    if (!socket)
        return;
    socket->setParent(nullptr);   // the session owns it, not the server that accepted it
    socket_.reset(socket);
    peerAddress_ = socket->peerAddress();
    peerPort_ = socket->peerPort();
    framer_.setPeer(peerAddress_, peerPort_);

    auto* tcp = static_cast<VEKC::TcpReactor*>(reactor_);
    HttpFramer::Hooks hooks;
    hooks.start = [this, tcp](SCI_ExecObj_Recv& msg) {
        inProgress_ = true;
        if (!tcp)
            return;
        if (!msg.isResponse() && !msg.url().isEmpty())
            tcp->append_TcpTask(msg.uuid());
        tcp->update_TcpTsk_ByUuid(msg.uuid(), "tskup_firstrecv_timing", {});
        tcp->update_TcpTsk_ByUuid(msg.uuid(), "tskup_chg_recvpacklength", {int(msg.contentLength())});
    };
    hooks.body = [tcp](SCI_ExecObj_Recv& msg) {
        if (tcp)
            tcp->update_TcpTsk_ByUuid(msg.uuid(), "tskup_recv_times", {});
    };
    hooks.finish = [this, tcp](const QSharedPointer<SCI_ExecObj_Recv>& msg) {
        if (tcp)
            tcp->update_TcpTsk_ByUuid(msg->uuid(), "tskup_finishrecv_timing", {});
        current_ = msg;
        analyseBuffer_Setup2_5();
        inProgress_ = false;
        current_.reset();
        messageStartMs_ = monotonic_ms();
    };
    framer_.setHooks(hooks);

    liveTimer_ = new QTimer(this);
    liveTimer_->setSingleShot(true);
    connect(liveTimer_, &QTimer::timeout, this, &Session::onLiveTimeout);
    sendTimer_ = new QTimer(this);
    sendTimer_->setSingleShot(true);
    connect(sendTimer_, &QTimer::timeout, this, &Session::onSendTimeout);

    connect(socket, &QTcpSocket::readyRead, socket, [this] { onReadyRead(); });
    connect(socket, &QTcpSocket::bytesWritten, this, &Session::onBytesWritten);
    connect(socket, &QTcpSocket::disconnected, this, &Session::onDisconnected);
    lastActivityMs_ = messageStartMs_ = monotonic_ms();
    rearmLiveTimer();
}

Session::~Session()
{
    if (socket_) {
        socket_->disconnect();   // no signal of a dying socket may reach the reactor
        socket_.reset();
    }
    {
        QMutexLocker lock(&queueMutex_);
        queue_.clear();
    }
    while (isRunning()) {
        running_ = false;
        wait(kStopWaitStepMs);
    }
}

bool Session::isWorking()
{
    return socket_ && socket_->state() == QAbstractSocket::ConnectedState;
}

void Session::onReadyRead()
{
    if (!socket_)
        return;
    if (!framer_.inProgress())
        messageStartMs_ = monotonic_ms();
    lastActivityMs_ = monotonic_ms();
    recvBuffer_.append(socket_->readAll());
    analyseBuffer_Setup1();
}

void Session::analyseBuffer_Setup1()
{
    if (recvBuffer_.isEmpty() || closeAfterSend_)
        return;
    const QByteArray bytes = recvBuffer_;
    recvBuffer_.clear();
    if (!framer_.feed(bytes)) {
        refuse();
        return;
    }
    rearmLiveTimer();
}

void Session::analyseBuffer_Setup2_5()
{
    if (!current_)
        return;
    auto* tcp = static_cast<VEKC::TcpReactor*>(reactor_);
    if (!current_->analysisIntegrality()) {
        if (current_->isResponse()) {
            qWarning() << "Session" << id_ << "undecodable response dropped" << current_->uuid();
            return;
        }
        CTask_FormData reply;
        reply.uuid = current_->uuid();
        reply.sessionId = id_;
        reply.status = 400;
        reply.code = -1;
        reply.msg = QStringLiteral("bad request: body or URL cannot be decoded");
        framer_.stop();
        closeAfterSend_ = true;
        SlotSendAction(SCI_ExecObj_Send(reply));
        return;
    }
    CTask_FormData record = current_->getFormData();
    if (tcp)
        record.taskInfo = tcp->getTcpTask(record.uuid);
    if (record.url.isEmpty()) {
        emit sigResponse(record);
    } else {
        if (tcp)
            tcp->remove_TaskFromList(record.uuid);
        emit sigRequest(record);
    }
}

// Answers a refused request in the system's reply form and closes; refused responses just close.
void Session::refuse()
{
    qWarning() << "Session" << id_ << "refused:" << framer_.errorStatus() << framer_.errorText();
    closeAfterSend_ = true;
    if (framer_.errorInResponse()) {
        closeNow("refused response");
        return;
    }
    CTask_FormData reply;
    reply.uuid = framer_.errorUuid();
    reply.sessionId = id_;
    reply.status = framer_.errorStatus();
    reply.code = -1;
    reply.msg = framer_.errorText();
    SlotSendAction(SCI_ExecObj_Send(reply));
}

void Session::closeNow(const char* why)
{
    qInfo() << "Session" << id_ << "closed:" << why;
    for (SCI_ExecObj_Send& s : sendQueue_)
        s.cancel();
    sendQueue_.clear();
    if (socket_)
        socket_->abort();
}

int Session::SlotSendAction(SCI_ExecObj_Send send)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, send] { SlotSendAction(send); }, Qt::QueuedConnection);
        return 0;
    }
    if (!socket_)
        return 1;
    sendQueue_.push_back(send);
    if (sendQueue_.size() == 1)
        sendNext();
    return 1;
}

// Writes queued messages in order; a file body holds the queue until it is out.
void Session::sendNext()
{
    while (!sendQueue_.empty()) {
        SCI_ExecObj_Send& front = sendQueue_.front();
        front.SerializeWrite(socket_.data());
        if (front.isPending()) {
            sendTimer_->start(qMin(front.pendingLimitMs(), limits_.sendTimeoutMs));
            return;
        }
        if (front.isBroken()) {
            closeNow("body could not be sent whole");
            return;
        }
        sendQueue_.pop_front();
    }
    if (closeAfterSend_ && socket_) {
        socket_->disconnectFromHost();
        // A peer that never reads the last reply is cut off at the message limit.
        if (socket_ && socket_->state() != QAbstractSocket::UnconnectedState)
            liveTimer_->start(limits_.messageTimeoutMs);
    }
}

void Session::onBytesWritten()
{
    if (sendQueue_.empty() || !sendQueue_.front().isPending())
        return;
    SCI_ExecObj_Send& front = sendQueue_.front();
    front.pump(socket_.data());
    if (front.isPending())
        return;
    sendTimer_->stop();
    if (front.isBroken()) {
        closeNow("body could not be sent whole");
        return;
    }
    sendQueue_.pop_front();
    lastActivityMs_ = monotonic_ms();
    sendNext();
}

void Session::onSendTimeout()
{
    if (!sendQueue_.empty() && sendQueue_.front().isPending())
        closeNow("transfer time limit");
}

void Session::onDisconnected()
{
    for (SCI_ExecObj_Send& s : sendQueue_)
        s.cancel();
    sendQueue_.clear();
    if (liveTimer_)
        liveTimer_->stop();
    if (sendTimer_)
        sendTimer_->stop();
}

void Session::rearmLiveTimer()
{
    if (!liveTimer_ || closeAfterSend_)
        return;
    const qint64 now = monotonic_ms();
    const qint64 due = framer_.inProgress() ? messageStartMs_ + limits_.messageTimeoutMs
                                            : lastActivityMs_ + limits_.idleTimeoutMs;
    liveTimer_->start(int(qMax<qint64>(0, due - now)));
}

void Session::onLiveTimeout()
{
    const qint64 now = monotonic_ms();
    if (closeAfterSend_) {
        closeNow("last reply not taken in time");
        return;
    }
    if (framer_.inProgress() && now - messageStartMs_ >= limits_.messageTimeoutMs) {
        closeNow("message not completed in time");
        return;
    }
    if (!framer_.inProgress() && sendQueue_.empty() && now - lastActivityMs_ >= limits_.idleTimeoutMs) {
        closeNow("idle");
        return;
    }
    if (!sendQueue_.empty())
        lastActivityMs_ = now;
    rearmLiveTimer();
}

void Session::analyseBuffer_Setup2()
{
    if (!isRunning()) {
        running_ = true;
        start(QThread::InheritPriority);
    }
}

void Session::run()
{
    while (running_) {
        QThread::msleep(kQueuePollMs);
        QMutexLocker lock(&queueMutex_);
        if (queue_.isEmpty())
            break;
        SCI_ExecObj_Recv msg = queue_.takeFirst();
        lock.unlock();
        if (!msg.analysisIntegrality())
            continue;
        const CTask_FormData record = msg.getFormData();
        if (record.url.isEmpty())
            emit sigResponse(record);
        else
            emit sigRequest(record);
    }
    running_ = false;
}
