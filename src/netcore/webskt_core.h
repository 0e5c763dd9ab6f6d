#pragma once

#include "ctask_formdata_webskt_json.h"
#include "eventloopworker.h"

#include <QHostAddress>
#include <QObject>

// Base of the WebSocket JSON channel: the connection work runs on a private
// one-thread pool with its own event loop, started and stopped like the reactors.
class WebSkt_Core : public QObject
{
    Q_OBJECT
public:
    // Larger incoming messages are refused by the socket.
    static constexpr qint64 kMaxMessageBytes = 1024 * 1024;
    static constexpr int kAliveWindowMs = 2000;

    explicit WebSkt_Core(QObject* parent = nullptr);
    ~WebSkt_Core() override;

    static CTask_FormData_WebSkt_Json analyseBuffer_Setup1_Json(const QString& text);
    static QString serialize_Setup2_Json(CTask_FormData_WebSkt_Json msg);

signals:
    void readyToClose();
    void sig_send_message(CTask_FormData_WebSkt_Json);
    void sig_recv_message(CTask_FormData_WebSkt_Json formdata);

public slots:
    virtual bool isCnted() = 0;
    virtual bool reAction(const QHostAddress& address, quint16 port);
    virtual void sendTextMessage(CTask_FormData_WebSkt_Json msg);
    virtual bool isRunning();
    virtual bool onStart() = 0;
    virtual void onFinish() = 0;
    virtual bool initialize();
    virtual void deinitialize();

protected:
    QHostAddress address_;
    quint16 port_ = 0;

private:
    EventLoopWorker worker_;
};
