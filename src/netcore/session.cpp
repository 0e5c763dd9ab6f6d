#include "session.h"

#include "clock.h"
#include "netaddress.h"
#include "tcpreactor.h"

#include <QDebug>
#include <QFutureWatcher>
#include <QThreadPool>
#include <QtConcurrent>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

namespace {
constexpr int kQueuePollMs = 1;
constexpr int kStopWaitStepMs = 100;
constexpr int kStatusUnavailable = 503;
// Requests framed from one connection before the other connections of its thread are
// served: a pipeline of thousands in one read would hold them back for seconds.
constexpr int kRequestsPerTurn = 32;

// Bodies are decoded here, never on a reactor thread that serves other connections.
QThreadPool& decodePool()
{
    static QThreadPool pool;
    return pool;
}
}

Session::Session(void* reactor, QTcpSocket* socket, int id, const NetLimits& limits)
    : QThread(nullptr), id_(id), reactor_(reactor), limits_(limits), framer_(id, limits)
{
    qRegisterMetaType<SCI_ExecObj_Send>("SCI_ExecObj_Send");
    if (!socket)
        return;
    socket->setParent(nullptr);   // the session owns it, not the server that accepted it
    socket_.reset(socket);
    // Qt then stops taking bytes from the kernel while this session does not read them.
    socket->setReadBufferSize(NetDefaults::kReadBufferBytes);
    peerAddress_ = socket->peerAddress();
    peerPort_ = socket->peerPort();
    framer_.setPeer(peerAddress_, peerPort_);

    auto* tcp = static_cast<VEKC::TcpReactor*>(reactor_);
    HttpFramer::Hooks hooks;
    hooks.start = [this, tcp](SCI_ExecObj_Recv& msg) {
        inProgress_ = true;
        if (!tcp)
            return;
        if (!tcp->reserveBodyBytes(msg.contentLength())) {
            framer_.refuseCurrent(kStatusUnavailable, QStringLiteral("receive budget exhausted"));
            return;
        }
        bodyReserved_ = msg.contentLength();
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
        releaseBody();
        current_ = msg;
        analyseBuffer_Setup2_5();
        inProgress_ = false;
        current_.reset();
        messageStartMs_ = MonotonicClock::ms();
        if (++framedThisTurn_ >= kRequestsPerTurn)
            endTurn();
    };
    framer_.setHooks(hooks);

    liveTimer_ = new QTimer(this);
    liveTimer_->setSingleShot(true);
    connect(liveTimer_, &QTimer::timeout, this, &Session::onLiveTimeout);
    sendTimer_ = new QTimer(this);
    sendTimer_->setSingleShot(true);
    connect(sendTimer_, &QTimer::timeout, this, &Session::onSendTimeout);
    orderTimer_ = new QTimer(this);
    orderTimer_->setSingleShot(true);
    connect(orderTimer_, &QTimer::timeout, this, &Session::onOrderTimeout);

    connect(socket, &QTcpSocket::readyRead, socket, [this] { onReadyRead(); });
    connect(socket, &QTcpSocket::bytesWritten, this, &Session::onBytesWritten);
    connect(socket, &QTcpSocket::disconnected, this, &Session::onDisconnected);
    // Other threads ask for the state without touching the socket.
    connected_ = socket->state() == QAbstractSocket::ConnectedState;
    connect(socket, &QTcpSocket::stateChanged, this,
            [this](QAbstractSocket::SocketState state) { connected_ = state == QAbstractSocket::ConnectedState; });
    lastActivityMs_ = messageStartMs_ = MonotonicClock::ms();
    rearmLiveTimer();
    // A client that waited while accepting was paused may have sent already: no further
    // readyRead comes for bytes Qt holds.
    if (socket->bytesAvailable() > 0)
        QTimer::singleShot(0, socket, [this] { onReadyRead(); });
}

Session::~Session()
{
    releaseBody();
    connected_ = false;
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
    return connected_;
}

void Session::onReadyRead()
{
    if (!socket_)
        return;
    if (closeAfterSend_) {   // refused: nothing more is read, nor kept
        socket_->readAll();
        return;
    }
    if (depthPaused_ || decoding_ || turnPaused_)
        return;   // the socket keeps the bytes; TCP holds the peer back meanwhile
    // A peer that leaves its replies unread is not read from either: TCP then holds it
    // back, and the idle limit ends it if it never reads again.
    if (socket_->bytesToWrite() > limits_.maxSendBacklogBytes) {
        socket_->flush();
        if (socket_->bytesToWrite() > limits_.maxSendBacklogBytes) {
            readPaused_ = true;
            return;
        }
    }
    if (!framer_.inProgress())
        messageStartMs_ = MonotonicClock::ms();
    lastActivityMs_ = MonotonicClock::ms();
    recvBuffer_.append(socket_->readAll());
    analyseBuffer_Setup1();
}

void Session::analyseBuffer_Setup1()
{
    if (recvBuffer_.isEmpty() || closeAfterSend_)
        return;
    const QByteArray bytes = recvBuffer_;
    recvBuffer_.clear();
    framedThisTurn_ = 0;
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
    if (current_->decodesSlowly())
        decodeElsewhere(current_);
    else
        deliver(current_, current_->analysisIntegrality());
}

void Session::decodeElsewhere(const QSharedPointer<SCI_ExecObj_Recv>& msg)
{
    decoding_ = true;
    framer_.hold(true);
    auto* watcher = new QFutureWatcher<bool>(this);
    connect(watcher, &QFutureWatcher<bool>::finished, this, [this, watcher, msg] {
        watcher->deleteLater();
        decoding_ = false;
        deliver(msg, watcher->result());
        resumeReading();
    });
    watcher->setFuture(QtConcurrent::run(&decodePool(), [msg] { return msg->analysisIntegrality(); }));
}

void Session::deliver(const QSharedPointer<SCI_ExecObj_Recv>& msg, bool decoded)
{
    auto* tcp = static_cast<VEKC::TcpReactor*>(reactor_);
    if (!decoded) {
        if (msg->isResponse()) {
            qWarning() << "Session" << id_ << "undecodable response dropped" << msg->uuid();
            return;
        }
        CTask_FormData reply;
        reply.uuid = msg->uuid();
        reply.sessionId = id_;
        reply.status = 400;
        reply.code = -1;
        reply.msg = QStringLiteral("bad request: body or URL cannot be decoded");
        closeAfterReplies();
        replyInOrder(SCI_ExecObj_Send(reply));
        return;
    }
    CTask_FormData record = msg->getFormData();
    if (tcp)
        record.taskInfo = tcp->getTcpTask(record.uuid);
    if (record.url.isEmpty()) {
        emit sigResponse(record);
    } else {
        if (tcp)
            tcp->remove_TaskFromList(record.uuid);
        if (socket_) {
            if (replySlots_.size() >= size_t(NetDefaults::kMaxReplySlots)) {
                qWarning() << "Session" << id_ << "too many unanswered requests; the oldest no longer holds replies";
                for (auto it = replySlots_.begin(); it != replySlots_.end(); ++it) {
                    if (!it->answered) {
                        replySlots_.erase(it);
                        break;
                    }
                }
                flushReplies();
            }
            ReplySlot slot;
            slot.seq = ++slotSeq_;
            slot.uuid = record.uuid;
            slot.sinceMs = MonotonicClock::ms();
            replySlots_.push_back(std::move(slot));
            deliveringSeq_ = slotSeq_;
            if (msg->asksClose()) {
                closeAfterReplies();   // requests sent behind it are not served
            } else if (replySlots_.size() >= size_t(limits_.maxPipelinedRequests)) {
                depthPaused_ = true;
                framer_.hold(true);
            }
        }
        emit sigRequest(record);
        deliveringSeq_ = 0;
    }
}

// Nothing more is framed; the connection ends once the replies up to the last request have
// left, or at the latest when that request could have been answered and sent.
void Session::closeAfterReplies()
{
    framer_.stop();
    closeAfterSend_ = true;
    if (liveTimer_)
        liveTimer_->start(limits_.replyWaitMs + limits_.messageTimeoutMs);
}

void Session::releaseBody()
{
    if (bodyReserved_ > 0 && reactor_)
        static_cast<VEKC::TcpReactor*>(reactor_)->releaseBodyBytes(bodyReserved_);
    bodyReserved_ = 0;
}

bool Session::isIdleFor(qint64 ms) const
{
    return !framer_.inProgress() && sendQueue_.empty() && replySlots_.empty() && !closeAfterSend_
           && MonotonicClock::ms() - lastActivityMs_ >= ms;
}

// Answers a refused request in the system's reply form and closes; refused responses just close.
void Session::refuse()
{
    releaseBody();
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
    replyInOrder(SCI_ExecObj_Send(reply));
}

void Session::closeNow(const char* why)
{
    qInfo() << "Session" << id_ << "closed:" << why;
    releaseBody();
    dropPending();
    if (!socket_)
        return;
    // Bytes the peer has not taken go with the connection: a peer cut off for reading too
    // slowly would otherwise go on getting them, on this side's memory, long after.
    dropUnsentOnClose(int(socket_->socketDescriptor()));
    socket_->abort();
}

void Session::dropPending()
{
    for (SCI_ExecObj_Send& s : sendQueue_)
        s.cancel();
    sendQueue_.clear();
    replySlots_.clear();
    if (orderTimer_)
        orderTimer_->stop();
}

int Session::SlotSendAction(SCI_ExecObj_Send send)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, send] { SlotSendAction(send); }, Qt::QueuedConnection);
        return 0;
    }
    if (!socket_)
        return 1;
    if (send.task().url.isEmpty() && placeReply(send))
        return 1;
    enqueueSend({send});
    return 1;
}

// A reply takes the place of the request it answers: one made while its request was being
// handed on (404, 503 and handlers run in this thread) by that request, any other by the
// oldest unanswered request of its uuid. False when it answers no request of this connection.
bool Session::placeReply(const SCI_ExecObj_Send& send)
{
    const QString& uuid = send.task().uuid;
    auto slot = replySlots_.end();
    if (deliveringSeq_ != 0) {
        for (auto it = replySlots_.begin(); it != replySlots_.end(); ++it) {
            if (it->seq == deliveringSeq_) {
                if (!it->answered && it->uuid == uuid)
                    slot = it;
                break;
            }
        }
    }
    const bool atArrival = slot != replySlots_.end();
    if (!atArrival) {
        slot = std::find_if(replySlots_.begin(), replySlots_.end(),
                            [&uuid](const ReplySlot& s) { return !s.answered && s.uuid == uuid; });
        if (slot == replySlots_.end())
            return false;
    }
    slot->answered = true;
    slot->madeAtArrival = atArrival;
    slot->replies.push_back(send);
    flushReplies();
    return true;
}

// The core's own refusal of a request: it leaves after the replies to earlier requests.
void Session::replyInOrder(const SCI_ExecObj_Send& reply)
{
    ReplySlot slot;
    slot.seq = ++slotSeq_;
    slot.uuid = reply.task().uuid;
    slot.sinceMs = MonotonicClock::ms();
    slot.answered = true;
    slot.madeAtArrival = true;
    slot.replies.push_back(reply);
    replySlots_.push_back(std::move(slot));
    if (liveTimer_)
        liveTimer_->start(limits_.replyWaitMs + limits_.messageTimeoutMs);
    flushReplies();
}

// Sends every reply no earlier request is still waiting for. A reply made at arrival waits
// for earlier unanswered requests; a handler's later reply waits only behind replies already
// held, so a request that is never answered does not hold up those of a peer matching by uuid.
// A request unanswered for the reply wait stops holding anything.
void Session::flushReplies()
{
    const qint64 now = MonotonicClock::ms();
    std::vector<SCI_ExecObj_Send> ready;
    bool blocked = false;
    bool holding = false;
    qint64 oldestBlocker = 0;
    for (auto it = replySlots_.begin(); it != replySlots_.end();) {
        if (!it->answered) {
            if (now - it->sinceMs >= limits_.replyWaitMs) {
                qWarning() << "Session" << id_ << "request" << it->uuid << "unanswered; later replies no longer wait";
                it = replySlots_.erase(it);
                continue;
            }
            if (!blocked)
                oldestBlocker = it->sinceMs;
            blocked = true;
            ++it;
            continue;
        }
        if (blocked && (holding || it->madeAtArrival)) {
            holding = true;
            ++it;
            continue;
        }
        for (SCI_ExecObj_Send& r : it->replies)
            ready.push_back(std::move(r));
        it = replySlots_.erase(it);
    }
    if (holding)
        orderTimer_->start(int(qMax<qint64>(0, oldestBlocker + limits_.replyWaitMs - now)));
    else
        orderTimer_->stop();
    if (depthPaused_ && replySlots_.size() <= size_t(limits_.maxPipelinedRequests / 2)) {
        depthPaused_ = false;
        QMetaObject::invokeMethod(this, &Session::resumeReading, Qt::QueuedConnection);
    }
    // Sending may close the connection, which clears the slots: nothing of them is touched after.
    enqueueSend(std::move(ready));
}

void Session::onOrderTimeout()
{
    flushReplies();
}

// Frames the requests kept while too many awaited their reply, then reads on.
void Session::resumeReading()
{
    if (!socket_ || closeAfterSend_ || depthPaused_ || decoding_ || turnPaused_)
        return;
    framer_.hold(false);
    messageStartMs_ = lastActivityMs_ = MonotonicClock::ms();
    if (!framer_.feed(QByteArray())) {
        refuse();
        return;
    }
    if (depthPaused_)
        return;
    rearmLiveTimer();
    onReadyRead();
}

// Holds framing until the events already waiting in this thread (the other sessions'
// reads) are handled, then frames on.
void Session::endTurn()
{
    turnPaused_ = true;
    framer_.hold(true);
    QMetaObject::invokeMethod(this, [this] {
        turnPaused_ = false;
        framedThisTurn_ = 0;
        resumeReading();
    }, Qt::QueuedConnection);
}

// All of them are queued before any is written: a close after the last reply must not
// come between them.
void Session::enqueueSend(std::vector<SCI_ExecObj_Send> sends)
{
    if (sends.empty() || !socket_ || socket_->state() == QAbstractSocket::UnconnectedState)
        return;
    const bool idle = sendQueue_.empty();
    for (SCI_ExecObj_Send& send : sends)
        sendQueue_.push_back(std::move(send));
    if (idle)
        sendNext();
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
    // Written now rather than at the next turn of the loop: one write per batch of
    // replies, no wake-up for the socket turning writable.
    if (socket_ && socket_->bytesToWrite() > 0)
        socket_->flush();
    if (closeAfterSend_ && socket_ && replySlots_.empty()) {
        socket_->disconnectFromHost();
        // A peer that never reads the last reply is cut off at the message limit.
        if (socket_ && socket_->state() != QAbstractSocket::UnconnectedState)
            liveTimer_->start(limits_.messageTimeoutMs);
    }
}

void Session::onBytesWritten()
{
    lastActivityMs_ = MonotonicClock::ms();
    if (readPaused_ && socket_->bytesToWrite() <= limits_.maxSendBacklogBytes / 2) {
        readPaused_ = false;
        QMetaObject::invokeMethod(this, &Session::onReadyRead, Qt::QueuedConnection);
    }
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
    lastActivityMs_ = MonotonicClock::ms();
    sendNext();
}

void Session::onSendTimeout()
{
    if (!sendQueue_.empty() && sendQueue_.front().isPending())
        closeNow("transfer time limit");
}

void Session::onDisconnected()
{
    dropPending();
    if (liveTimer_)
        liveTimer_->stop();
    if (sendTimer_)
        sendTimer_->stop();
}

void Session::rearmLiveTimer()
{
    if (!liveTimer_ || closeAfterSend_)
        return;
    if (depthPaused_) {   // waiting on this side's handlers is no fault of the peer
        liveTimer_->start(limits_.replyWaitMs);
        return;
    }
    const qint64 now = MonotonicClock::ms();
    const qint64 due = framer_.headerPending() ? messageStartMs_ + limits_.headerTimeoutMs
                       : framer_.inProgress() ? messageStartMs_ + limits_.messageTimeoutMs
                                              : lastActivityMs_ + limits_.idleTimeoutMs;
    liveTimer_->start(int(qMax<qint64>(0, due - now)));
}

void Session::onLiveTimeout()
{
    const qint64 now = MonotonicClock::ms();
    if (closeAfterSend_) {
        closeNow("last reply not taken in time");
        return;
    }
    if (depthPaused_) {
        flushReplies();   // requests unanswered past the reply wait stop counting
        rearmLiveTimer();
        return;
    }
    if (framer_.headerPending() && now - messageStartMs_ >= limits_.headerTimeoutMs) {
        closeNow("header not completed in time");
        return;
    }
    if (framer_.inProgress() && now - messageStartMs_ >= limits_.messageTimeoutMs) {
        closeNow("message not completed in time");
        return;
    }
    flushReplies();   // drops requests that waited too long for their reply
    if (!framer_.inProgress() && sendQueue_.empty() && replySlots_.empty()
        && now - lastActivityMs_ >= limits_.idleTimeoutMs) {
        closeNow("idle");
        return;
    }
    if (!sendQueue_.empty() || !replySlots_.empty())
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
