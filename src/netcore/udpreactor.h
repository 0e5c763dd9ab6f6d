#pragma once

#include "ctask_formdata.h"
#include "eventloopworker.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QSharedPointer>
#include <atomic>
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
    void resetFramer();

    EventLoopWorker worker_;
    QSharedPointer<QUdpSocket> socket_;
    std::atomic<bool> hasSocket_{false};
    QByteArray buffer_;   // the datagram being framed
    bool inProgress_ = false;
    QSharedPointer<SCI_ExecObj_Recv> current_;
    std::unique_ptr<HttpFramer> framer_;
};

} // namespace VEKC
