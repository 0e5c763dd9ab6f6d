#pragma once

#include "netlimits.h"

#include <QByteArray>
#include <QHostAddress>
#include <QSharedPointer>
#include <QString>
#include <functional>

class SCI_ExecObj_Recv;

// Cuts a growing byte stream into HTTP/1.1 messages. Incremental: any split of
// the input yields the same messages, and every complete message in the buffer
// is handed on before feed() returns.
class HttpFramer
{
public:
    struct Hooks
    {
        std::function<void(SCI_ExecObj_Recv&)> start;    // header parsed
        std::function<void(SCI_ExecObj_Recv&)> body;     // later bytes joined the body
        std::function<void(const QSharedPointer<SCI_ExecObj_Recv>&)> finish;  // message complete
    };

    HttpFramer(int sessionId, const NetLimits& limits);

    void setPeer(const QHostAddress& address, quint16 port);
    void setHooks(Hooks hooks) { hooks_ = std::move(hooks); }

    // Appends bytes and frames what is complete; false once the stream is refused.
    // A hook may call stop(); framing then ends at once.
    bool feed(const QByteArray& bytes);
    void stop() { stopped_ = true; }
    // While held, bytes are kept but no further message is framed; feed() again to go on.
    void hold(bool on) { held_ = on; }

    bool failed() const { return errorStatus_ != 0; }
    int errorStatus() const { return errorStatus_; }
    QString errorText() const { return errorText_; }
    // The refused bytes were a response: nothing is answered to those.
    bool errorInResponse() const { return errorInResponse_; }
    QString errorUuid() const { return errorUuid_; }

    // Part of a message has arrived and the rest is awaited.
    bool inProgress() const { return current_ || unframed() > 0; }
    // Part of a header has arrived, its end has not.
    bool headerPending() const { return !current_ && unframed() > 0; }
    // Refuses the message whose header was just parsed (from the start hook).
    void refuseCurrent(int status, const QString& text);

private:
    void fail(int status, const QString& text, bool response, const QString& uuid = QString());
    bool startMessage();
    void framePending();
    int unframed() const { return buffer_.size() - head_; }

    int sessionId_;
    NetLimits limits_;
    QHostAddress peerAddress_;
    quint16 peerPort_ = 0;
    Hooks hooks_;
    QByteArray buffer_;
    int head_ = 0;   // where the bytes not yet framed start in buffer_
    QSharedPointer<SCI_ExecObj_Recv> current_;
    bool stopped_ = false;
    bool held_ = false;
    int errorStatus_ = 0;
    QString errorText_;
    bool errorInResponse_ = false;
    QString errorUuid_;
};
