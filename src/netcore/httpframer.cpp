#include "httpframer.h"

#include "sci_execobj_recv.h"

namespace {
const QByteArray kHeadEnd = QByteArrayLiteral("\r\n\r\n");
const QByteArray kCrLf = QByteArrayLiteral("\r\n");
const QByteArray kVersion = QByteArrayLiteral("HTTP/1.1");
// A status line of any version: a peer's response, which is never answered.
const QByteArray kStatusLineStart = QByteArrayLiteral("HTTP/");
}

HttpFramer::HttpFramer(int sessionId, const NetLimits& limits) : sessionId_(sessionId), limits_(limits) {}

void HttpFramer::setPeer(const QHostAddress& address, quint16 port)
{
    peerAddress_ = address;
    peerPort_ = port;
}

void HttpFramer::fail(int status, const QString& text, bool response, const QString& uuid)
{
    errorStatus_ = status;
    errorText_ = text;
    errorInResponse_ = response;
    errorUuid_ = uuid;
    buffer_.clear();
    head_ = 0;
    current_.reset();
}

// Takes one header block off the buffer; false when it is incomplete or refused.
bool HttpFramer::startMessage()
{
    const bool statusLine = buffer_.mid(head_, kStatusLineStart.size()) == kStatusLineStart;
    const int found = buffer_.indexOf(kHeadEnd, head_);
    if (found < 0) {
        if (unframed() > limits_.maxHeaderBytes + kHeadEnd.size())
            fail(431, "header too large", statusLine);
        return false;
    }
    const int end = found - head_;
    if (end > limits_.maxHeaderBytes) {
        fail(431, "header too large", statusLine);
        return false;
    }
    const QByteArray block = buffer_.mid(head_, end);
    head_ = found + kHeadEnd.size();

    // The start line is the first line naming the version; stray lines before it are skipped.
    // A start line without any header line after it is not a message of this dialect.
    int lineStart = 0;
    int startLine = -1;
    while (lineStart < block.size()) {
        const int lineEnd = block.indexOf(kCrLf, lineStart);
        if (lineEnd < 0)
            break;
        if (block.mid(lineStart, lineEnd - lineStart).contains(kVersion)) {
            startLine = lineStart;
            break;
        }
        lineStart = lineEnd + kCrLf.size();
    }
    if (startLine < 0) {
        fail(400, "no HTTP/1.1 request line with header", block.startsWith(kStatusLineStart));
        return false;
    }
    current_ = QSharedPointer<SCI_ExecObj_Recv>::create(block.mid(startLine), sessionId_, limits_);
    if (current_->errorStatus() != 0) {
        fail(current_->errorStatus(), current_->errorText(),
             current_->isResponse() || block.startsWith(kStatusLineStart), current_->uuid());
        return false;
    }
    current_->setDuplex_Info(peerAddress_, peerPort_);
    if (hooks_.start) {
        const QSharedPointer<SCI_ExecObj_Recv> started = current_;   // the hook may refuse it
        hooks_.start(*started);
    }
    return !failed();
}

void HttpFramer::refuseCurrent(int status, const QString& text)
{
    fail(status, text, false, current_ ? current_->uuid() : QString());
}

bool HttpFramer::feed(const QByteArray& bytes)
{
    if (failed())
        return false;
    buffer_.append(bytes);
    framePending();
    // What was framed leaves the buffer once per feed, not once per message: a peer's
    // thousands of pipelined requests in one read cost one copy, not one each.
    if (head_ > 0) {
        buffer_.remove(0, head_);
        head_ = 0;
    }
    return !failed();
}

void HttpFramer::framePending()
{
    while (!stopped_ && !held_) {
        bool fresh = false;
        if (!current_) {
            if (unframed() == 0 || !startMessage())
                break;
            fresh = true;
        }
        const int need = current_->getNeedLength();
        if (need > 0 && unframed() > 0) {
            if (!fresh && hooks_.body)
                hooks_.body(*current_);
            const int take = qMin(need, unframed());
            current_->addBody(buffer_.mid(head_, take));   // the whole buffer is shared, not copied
            head_ += take;
        }
        if (current_->getNeedLength() > 0)
            break;
        const QSharedPointer<SCI_ExecObj_Recv> done = current_;
        current_.reset();
        if (hooks_.finish)
            hooks_.finish(done);
    }
}
