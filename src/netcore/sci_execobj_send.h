#pragma once

#include "ctask_formdata.h"

#include <QByteArray>
#include <QMetaType>
#include <QSharedPointer>

class QFile;
class QTcpSocket;

// One outgoing HTTP/1.1 message in the system's own dialect. In-memory bodies
// are written at once; a file or a paced byte array is left pending and the
// connection pumps it chunk by chunk on bytesWritten (no nested event loop).
class SCI_ExecObj_Send
{
public:
    static const QByteArray kBoundary;

    SCI_ExecObj_Send() = default;
    explicit SCI_ExecObj_Send(const CTask_FormData& task);

    void SerializeWrite(QTcpSocket* socket);
    // The JSON body of a response ({"code","msg","result"}), as SerializeWrite sends it.
    static QByteArray replyBody(const CTask_FormData& task);

    void Integrality_Empty(const CTask_FormData& task);
    void Integrality_Json(const CTask_FormData& task);
    void Integrality_BinaryStream(const CTask_FormData& task);
    void Integrality_Mat(const CTask_FormData& task);
    void Integrality_File(const CTask_FormData& task);
    // Starts a paced write of prepared bytes; the rest goes out through pump().
    void SendFixLand(const QByteArray& data);

    // True while a file or paced byte array still has bytes to write.
    bool isPending() const;
    // Writes further chunks while the socket's buffer is below the high-water mark.
    void pump(QTcpSocket* socket);
    // Time allowed for the pending transfer, from its start.
    int pendingLimitMs() const { return pendingLimitMs_; }
    // Releases a pending transfer (disconnect or time-out).
    void cancel();
    // The body announced in the header could not be sent whole: the connection must go.
    bool isBroken() const { return broken_; }

    const CTask_FormData& task() const { return task_; }

private:
    bool socketReady() const;
    QByteArray header(CTask_FormData& task, qint64 contentLength, const QString* contentType);
    void sendNotFound();
    void writeReplyOrJson(const CTask_FormData& task, bool json);
    void writeBytes(const QByteArray& bytes);

    CTask_FormData task_;
    QTcpSocket* socket_ = nullptr;
    QSharedPointer<QFile> file_;
    qint64 fileRemaining_ = 0;
    QByteArray fixLand_;
    qint64 fixOffset_ = 0;
    int pendingLimitMs_ = 0;
    bool broken_ = false;
};

Q_DECLARE_METATYPE(SCI_ExecObj_Send)
