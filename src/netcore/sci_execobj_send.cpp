#include "sci_execobj_send.h"

#include "netlimits.h"
#include "taskuuid.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QMutex>
#include <QTcpSocket>
#include <opencv2/core.hpp>
#include <sys/socket.h>

const QByteArray SCI_ExecObj_Send::kBoundary = QByteArrayLiteral("------------------------tcpservreactor");

namespace {

QAtomicInt _increase_index_task(0);

const QByteArray kCrLf = QByteArrayLiteral("\r\n");
const char kNotFoundMsg[] = "未查询到需要获取的图片文件";

// Image-send statistics shared by every connection of the process.
struct ImageSendStats
{
    QMutex mutex;
    double storage_all = 0;
    double min_time = 0;
    double max_time = 0;
    int sendtimes = 0;
    qint64 roundtimes = 0;
};
ImageSendStats& imageStats()
{
    static ImageSendStats stats;
    return stats;
}
constexpr int kImageReportEvery = 100;

// Header text never carries control characters: a value cannot start a new header line.
QString headerText(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text)
        if (c.unicode() >= 0x20 && c.unicode() != 0x7f)
            out += c;
    return out;
}

QByteArray compact(const QJsonObject& obj)
{
    return QJsonDocument(obj).toJson(QJsonDocument::Compact);
}

QJsonObject replyObject(const CTask_FormData& task)
{
    QJsonObject reply;
    reply.insert("code", task.code);
    reply.insert("msg", task.msg);
    reply.insert("result", task.json);
    return reply;
}

QByteArray partHead(const QString& name, const char* type)
{
    QByteArray head = SCI_ExecObj_Send::kBoundary + kCrLf;
    head += QStringLiteral("Content-Disposition: form-data; name=\"%1\"").arg(name).toUtf8() + kCrLf;
    head += QByteArray("Content-Type: ") + type + kCrLf + kCrLf;
    return head;
}

// An 8-bit matrix with its rows back to back; empty (with a log line) for other depths.
cv::Mat sendableImage(const QString& key, const cv::Mat& image)
{
    if (image.empty() || image.depth() != CV_8U) {
        qWarning() << "Integrality_Mat" << "image not sent, not 8-bit samples:" << key << image.depth();
        return cv::Mat();
    }
    return image.isContinuous() ? image : image.clone();
}

} // namespace

SCI_ExecObj_Send::SCI_ExecObj_Send(const CTask_FormData& task) : task_(task)
{
    if (task_.uuid.isEmpty())
        task_.uuid = makeTaskUuid("dozazaza", _increase_index_task.fetchAndAddOrdered(1) + 1);
}

bool SCI_ExecObj_Send::socketReady() const
{
    return socket_ && socket_->state() == QAbstractSocket::ConnectedState;
}

// With nothing queued in the socket the bytes go to the kernel at once: Qt's buffered write
// would turn its write notifier on and off for them, each time waking the thread's loop.
// What the kernel does not take now goes through Qt's buffer, after what it sent.
void SCI_ExecObj_Send::writeBytes(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    qint64 sent = 0;
    if (socket_->bytesToWrite() == 0 && socket_->socketDescriptor() >= 0) {
        const ssize_t n = ::send(int(socket_->socketDescriptor()), bytes.constData(), size_t(bytes.size()),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        sent = n > 0 ? n : 0;
    }
    if (sent < bytes.size())
        socket_->write(bytes.constData() + sent, bytes.size() - sent);
}

// Made as bytes piece by piece: the same bytes as the text converted whole, fewer copies.
QByteArray SCI_ExecObj_Send::header(CTask_FormData& task, qint64 contentLength, const QString* contentType)
{
    QByteArray text;
    text.reserve(256);
    const auto line = [&text](const char* name, const QString& value) {
        text += name;
        text += headerText(value).toUtf8();
        text += kCrLf;
    };
    text += headerText(task.getResponseFirstLine()).toUtf8();
    text += kCrLf;
    text += "HOST: ";
    text += socket_->peerAddress().toString().remove("::ffff:").toUtf8();
    text += ':';
    text += QByteArray::number(socket_->peerPort());
    text += kCrLf;
    line("User-Agent: ", task.uuid);
    if (contentType)
        line("Content-Type: ", *contentType);
    if (!task.deviceId.isEmpty())
        line("Device-ID: ", task.deviceId);
    text += "Content-Length: ";
    text += QByteArray::number(contentLength);
    text += kCrLf;
    for (auto it = task.headers.cbegin(); it != task.headers.cend(); ++it) {
        const QString name = headerText(it.key()).remove(':').trimmed();
        if (!name.isEmpty())
            line((name.toUtf8() + ": ").constData(), it.value());
    }
    text += kCrLf;
    return text;
}

QByteArray SCI_ExecObj_Send::replyBody(const CTask_FormData& task)
{
    return compact(replyObject(task));
}

void SCI_ExecObj_Send::SerializeWrite(QTcpSocket* socket)
{
    socket_ = socket;
    switch (task_.preparedJson.isEmpty() ? task_.getTaskPkgType() : 1) {
    case 2: {
        task_.contentType = QStringLiteral("multipart/form-data");
        const qint64 start = QDateTime::currentMSecsSinceEpoch();
        Integrality_Mat(task_);
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const double spent = (now - start) / 1000.0;
        ImageSendStats& s = imageStats();
        QMutexLocker lock(&s.mutex);
        if (s.roundtimes == 0)
            s.roundtimes = now;
        s.storage_all += spent;
        s.min_time = s.min_time == 0 ? spent : qMin(s.min_time, spent);
        s.max_time = s.max_time == 0 ? spent : qMax(s.max_time, spent);
        if (++s.sendtimes % kImageReportEvery == 0) {
            const double round = qMax<qint64>(1, now - s.roundtimes) / double(kImageReportEvery);
            qInfo().noquote() << "ImgSend_Report --send:"
                              << QStringLiteral("(%1)").arg(s.storage_all / kImageReportEvery, 0, 'f', 3)
                              << "--min/max:"
                              << QStringLiteral("(%1 / %2)").arg(s.min_time, 0, 'f', 3).arg(s.max_time, 0, 'f', 3)
                              << "--fps:" << 1000.0 / round;
            s.roundtimes = now;
            s.storage_all = s.min_time = s.max_time = 0;
        }
        break;
    }
    case 3: {
        if (task_.contentType.isEmpty())
            task_.contentType = QStringLiteral("application/octet-stream");
        const auto first = task_.files.cbegin();
        if (!first.key().isEmpty() && QFileInfo(first.key()).isFile())
            Integrality_File(task_);
        else if (first.key().isEmpty() && !first.value().isEmpty())
            Integrality_BinaryStream(task_);
        else
            sendNotFound();
        break;
    }
    case 1:
        task_.contentType = QStringLiteral("application/json");
        Integrality_Json(task_);
        break;
    default:
        Integrality_Empty(task_);
        break;
    }
    socket_ = nullptr;
}

void SCI_ExecObj_Send::sendNotFound()
{
    task_.code = 1;
    task_.msg = QString::fromUtf8(kNotFoundMsg);
    task_.contentType = QStringLiteral("application/json");
    Integrality_Json(task_);
}

void SCI_ExecObj_Send::Integrality_Empty(const CTask_FormData& task)
{
    writeReplyOrJson(task, false);
}

void SCI_ExecObj_Send::Integrality_Json(const CTask_FormData& task)
{
    writeReplyOrJson(task, true);
}

// A response carries {"code","msg","result"}; a request its JSON body (json) or nothing.
void SCI_ExecObj_Send::writeReplyOrJson(const CTask_FormData& task, bool json)
{
    if (!socketReady())
        return;
    CTask_FormData t = task;
    const QString first = t.getResponseFirstLine();
    if (first.isEmpty())
        return;
    QByteArray body;
    if (t.url.isEmpty())
        body = t.preparedJson.isEmpty() ? replyBody(t) : t.preparedJson;
    else if (json)
        body = compact(t.json);
    writeBytes(header(t, body.size(), json ? &t.contentType : nullptr) + body);
}

void SCI_ExecObj_Send::Integrality_BinaryStream(const CTask_FormData& task)
{
    if (!socketReady() || task.files.isEmpty())
        return;
    const QByteArray bytes = task.files.first();
    if (bytes.isEmpty())
        return;
    CTask_FormData t = task;
    writeBytes(header(t, bytes.size(), &t.contentType));
    writeBytes(bytes);
}

void SCI_ExecObj_Send::Integrality_Mat(const CTask_FormData& task)
{
    if (!socketReady())
        return;
    QList<QByteArray> parts;
    for (auto it = task.jsonParts.cbegin(); it != task.jsonParts.cend(); ++it) {
        if (it.value().userType() != QMetaType::QJsonObject)
            continue;
        parts << partHead(it.key(), "application/json") + compact(it.value().toJsonObject()) + kCrLf;
    }
    for (auto it = task.images.cbegin(); it != task.images.cend(); ++it) {
        const cv::Mat image = sendableImage(it.key(), it.value());
        if (image.empty())
            continue;
        QJsonObject info;
        info.insert("datakey", it.key());
        info.insert("channels", image.channels());
        info.insert("data_type", "data_type");
        info.insert("size_width", image.cols);
        info.insert("size_height", image.rows);
        parts << partHead(it.key() + "-info", "application/json") + compact(info) + kCrLf
                     + partHead(it.key(), "application/octet-stream");
        const int bytes = int(image.total() * image.elemSize());
        parts << QByteArray(reinterpret_cast<const char*>(image.data), bytes);
        parts << kCrLf;
    }
    parts << kBoundary + kCrLf;

    qint64 length = 0;
    for (const QByteArray& p : parts)
        length += p.size();
    CTask_FormData t = task;
    const QString type = t.contentType + ";" + "boundary=" + QString::fromLatin1(kBoundary);
    writeBytes(header(t, length, &type));
    for (const QByteArray& p : parts)
        writeBytes(p);
}

void SCI_ExecObj_Send::Integrality_File(const CTask_FormData& task)
{
    if (!socketReady() || task.files.isEmpty())
        return;
    auto file = QSharedPointer<QFile>::create(task.files.firstKey());
    if (!file->open(QIODevice::ReadOnly)) {
        qWarning() << "Integrality_File" << "cannot open" << task.files.firstKey();
        sendNotFound();
        return;
    }
    CTask_FormData t = task;
    file_ = file;
    fileRemaining_ = file->size();
    pendingLimitMs_ = NetDefaults::kSendTimeoutMs;
    writeBytes(header(t, fileRemaining_, &t.contentType));
    pump(socket_);
}

void SCI_ExecObj_Send::SendFixLand(const QByteArray& data)
{
    if (!socketReady() || data.isEmpty())
        return;
    fixLand_ = data;
    fixOffset_ = 0;
    pendingLimitMs_ = NetDefaults::kFixLandTimeoutMs;
    pump(socket_);
}

bool SCI_ExecObj_Send::isPending() const
{
    return (file_ && fileRemaining_ > 0) || fixOffset_ < fixLand_.size();
}

void SCI_ExecObj_Send::pump(QTcpSocket* socket)
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState) {
        cancel();
        return;
    }
    while (isPending() && socket->bytesToWrite() < NetDefaults::kSendHighWaterBytes) {
        if (file_) {
            const QByteArray chunk = file_->read(qMin<qint64>(NetDefaults::kSendChunkBytes, fileRemaining_));
            if (chunk.isEmpty()) {   // the file shrank while it was being sent
                broken_ = true;
                cancel();
                break;
            }
            socket->write(chunk);
            fileRemaining_ -= chunk.size();
        } else {
            const qint64 n = qMin<qint64>(NetDefaults::kSendChunkBytes, fixLand_.size() - fixOffset_);
            socket->write(fixLand_.constData() + fixOffset_, n);
            fixOffset_ += n;
        }
    }
    if (!isPending())
        cancel();
}

void SCI_ExecObj_Send::cancel()
{
    if (file_)
        file_->close();
    file_.reset();
    fileRemaining_ = 0;
    fixLand_.clear();
    fixOffset_ = 0;
}
