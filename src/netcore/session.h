#pragma once

#include "ctask_formdata.h"
#include "httpframer.h"
#include "netlimits.h"
#include "sci_execobj_recv.h"
#include "sci_execobj_send.h"

#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QSharedPointer>
#include <QThread>
#include <atomic>
#include <deque>
#include <vector>

class QTcpSocket;
class QTimer;

// One TCP connection of a reactor. Lives in the reactor's thread: frames the
// received bytes into records and writes outgoing messages one after the other.
class Session : public QThread
{
    Q_OBJECT
public:
    Session(void* reactor, QTcpSocket* socket, int id, const NetLimits& limits = NetLimits());
    ~Session() override;

    int id() const { return id_; }
    // Any thread: the socket is connected (as its own thread last saw it).
    bool isWorking();
    // Nothing received in part, nothing to send or answer: its slot can go to another client.
    bool isIdleFor(qint64 ms) const;
    QHostAddress peerAddress() const { return peerAddress_; }
    QTcpSocket* socket() const { return socket_.data(); }

    void analyseBuffer_Setup1();
    void analyseBuffer_Setup2_5();
    // Queue-based receive path in the session's own thread; the live path never uses it.
    void analyseBuffer_Setup2();

signals:
    void sigRequest(CTask_FormData obj);
    void sigResponse(CTask_FormData obj);

public slots:
    // 1 when written (or queued behind a transfer) on this thread, 0 when re-posted to it.
    int SlotSendAction(SCI_ExecObj_Send send);

protected:
    void run() override;

private:
    void onReadyRead();
    void onBytesWritten();
    void onDisconnected();
    void onLiveTimeout();
    void onSendTimeout();
    // Replies leave in the order of the requests they answer (HTTP/1.1 pipelining).
    bool placeReply(const SCI_ExecObj_Send& send);
    void replyInOrder(const SCI_ExecObj_Send& reply);
    void flushReplies();
    void onOrderTimeout();
    void resumeReading();
    void endTurn();
    // Decodes a finished message on the decode pool; the connection frames nothing
    // more meanwhile, so its requests keep their order.
    void decodeElsewhere(const QSharedPointer<SCI_ExecObj_Recv>& msg);
    void deliver(const QSharedPointer<SCI_ExecObj_Recv>& msg, bool decoded);
    void enqueueSend(std::vector<SCI_ExecObj_Send> sends);
    void sendNext();
    void refuse();
    void rearmLiveTimer();
    void closeNow(const char* why);
    void closeAfterReplies();
    // Gives the current message's share of the reactor's body budget back.
    void releaseBody();
    // Unsent messages and replies still waiting for their turn are given up.
    void dropPending();

    int id_;
    std::atomic<bool> running_{false};
    QSharedPointer<QTcpSocket> socket_;
    std::atomic<bool> connected_{false};
    QHostAddress peerAddress_;
    unsigned short peerPort_ = 0;
    QMutex queueMutex_;
    QByteArray recvBuffer_;
    QSharedPointer<SCI_ExecObj_Recv> current_;
    QList<SCI_ExecObj_Recv> queue_;
    bool inProgress_ = false;
    void* reactor_;

    NetLimits limits_;
    HttpFramer framer_;
    std::deque<SCI_ExecObj_Send> sendQueue_;
    QTimer* liveTimer_ = nullptr;
    QTimer* sendTimer_ = nullptr;
    qint64 messageStartMs_ = 0;
    qint64 lastActivityMs_ = 0;
    bool closeAfterSend_ = false;
    bool readPaused_ = false;   // the peer's unread replies passed the backlog limit
    bool depthPaused_ = false;  // too many of its requests await their reply
    bool decoding_ = false;     // a message of it is being decoded on the decode pool
    bool turnPaused_ = false;   // it had its turn: the thread's other sessions go first
    int framedThisTurn_ = 0;
    qint64 bodyReserved_ = 0;   // taken from the reactor's body budget by the current message

    // A request delivered on this connection whose reply has not left yet.
    struct ReplySlot
    {
        quint64 seq = 0;
        QString uuid;
        qint64 sinceMs = 0;
        bool answered = false;
        bool madeAtArrival = false;   // answered while the request was being handed on
        std::vector<SCI_ExecObj_Send> replies;
    };
    std::deque<ReplySlot> replySlots_;
    quint64 slotSeq_ = 0;
    quint64 deliveringSeq_ = 0;   // slot of the request being emitted, 0 outside
    QTimer* orderTimer_ = nullptr;
};
