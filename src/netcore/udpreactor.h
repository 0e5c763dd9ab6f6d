#pragma once

#include "ctask_formdata.h"
#include "eventloopworker.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QSharedPointer>
#include <atomic>
#include <map>
#include <memory>

class HttpFramer;
class QUdpSocket;
class SCI_ExecObj_Recv;

namespace VEKC {

// The network core's HTTP/1.1 message format over UDP datagrams: one unbound
// socket in a thread of its own; received datagrams are framed into records.
class UdpReactor : public QObject
{
    Q_OBJECT
public:
    static constexpr int kAliveWindowMs = 2000;
    // Header and body of one message spread over datagrams; more is refused.
    static constexpr int kMaxMessageBytes = 1024 * 1024;
    // Senders whose message is still incomplete; a further one displaces the stalest.
    static constexpr int kMaxSenders = 32;
    // An incomplete message whose sender has been silent this long is dropped.
    static constexpr int kSenderIdleMs = 10000;

    explicit UdpReactor(QObject* parent = nullptr);
    ~UdpReactor() override;

    void analyseBuffer_Setup1(QHostAddress sender, unsigned short port);
    void analyseBuffer_Setup2_5();

signals:
    void sigResponse(CTask_FormData obj);
    void sigRequest(CTask_FormData obj);
    void sigSendMsg(QByteArray content, QString ip, int port);
    void readyToClose();

public slots:
    virtual void reAction();
    virtual bool sendMsg(const QByteArray& content, QString ip, int port, bool force);
    virtual bool getTimerAlived() const;
    virtual bool isRunning();
    virtual bool onStart();
    virtual void onFinish();
    virtual bool initialize();
    virtual void deinitialize();

private:
    void readPending();
    void writeDatagram(const QByteArray& content, const QString& ip, int port);
    struct SenderFraming
    {
        std::unique_ptr<HttpFramer> framer;
        qint64 lastActiveMs = 0;
    };
    SenderFraming& framingOf(const QHostAddress& sender, unsigned short port, const QString& key);

    EventLoopWorker worker_;
    QSharedPointer<QUdpSocket> socket_;
    std::atomic<bool> hasSocket_{false};
    QByteArray buffer_;   // the datagram being framed
    bool inProgress_ = false;
    QSharedPointer<SCI_ExecObj_Recv> current_;
    // Each sender's bytes are framed on their own: one sender's half message never swallows
    // another's. Only senders with an incomplete message are kept.
    std::map<QString, SenderFraming> senders_;
};

} // namespace VEKC
