#include "sci_execobj_recv.h"

#include "querytext.h"
#include "taskuuid.h"

#include <QDebug>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QStringList>
#include <cstring>
#include <vector>
#include <opencv2/core.hpp>

namespace {

const QByteArray kHeadEnd = QByteArrayLiteral("\r\n\r\n");

// Text up to the first NUL byte, as the header parser has always read it.
QString textUpToNul(const QByteArray& bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? bytes : bytes.left(nul));
}

// The value as the system reads its id headers: colon-separated fields rejoined, blanks removed.
QString idValue(const QString& value)
{
    QString v = value.split(':', Qt::SkipEmptyParts).join(':');
    v.remove(' ');
    v.remove('\t');
    return v;
}

bool hasControlChar(const QString& line)
{
    for (const QChar c : line)
        if ((c.unicode() < 0x20 && c != '\t') || c.unicode() == 0x7f)
            return true;
    return false;
}

// The part name a Content-Disposition line gives, as the pattern
// .*name="(\S+)".* reads it: the last name=" on the line that is followed by
// non-blank characters up to a closing quote, the capture reaching the last
// quote of that run. Linear in the line, unlike the backtracking pattern.
QString dispositionName(const QString& line)
{
    static const QString kKey = QStringLiteral("name=\"");
    const int n = line.size();
    // lastQuote[k]: the last quote at or after k in k's run of non-blank characters, or -1.
    std::vector<int> lastQuote(size_t(n) + 1, -1);
    for (int k = n - 1; k >= 0; --k) {
        const QChar c = line.at(k);
        if (c.isSpace())
            lastQuote[size_t(k)] = -1;
        else if (lastQuote[size_t(k) + 1] >= 0)
            lastQuote[size_t(k)] = lastQuote[size_t(k) + 1];
        else
            lastQuote[size_t(k)] = c == QLatin1Char('"') ? k : -1;
    }
    for (int at = line.lastIndexOf(kKey); at >= 0; at = at > 0 ? line.lastIndexOf(kKey, at - 1) : -1) {
        const int start = at + kKey.size();
        if (start + 1 >= n || line.at(start).isSpace())
            continue;
        const int quote = lastQuote[size_t(start) + 1];
        if (quote > start)
            return line.mid(start, quote - start);
    }
    return QString();
}

} // namespace

SCI_ExecObj_Recv::SCI_ExecObj_Recv(QByteArray header, int sessionId, const NetLimits& limits)
    : sessionId_(sessionId)
{
    head_ = QString::fromUtf8(header);
    if (header.contains('\0'))
        refuse(400, "control character in header");
    else
        parseHeader(limits);

    if (uuid_.isEmpty())
        uuid_ = makeTaskUuid("defalut", sessionId_);
    record_.uuid = uuid_;
    record_.url = url_;
    record_.userId = userId_;
    record_.sessionId = sessionId_;
}

void SCI_ExecObj_Recv::refuse(int status, const QString& text)
{
    if (errorStatus_ == 0) {
        errorStatus_ = status;
        errorText_ = text;
    }
}

void SCI_ExecObj_Recv::parseHeader(const NetLimits& limits)
{
    const QStringList lines = head_.split("\r\n", Qt::SkipEmptyParts);
    if (lines.isEmpty()) {
        refuse(400, "empty header");
        return;
    }
    const QString& start = lines.first();
    if (hasControlChar(start)) {
        refuse(400, "control character in header");
        return;
    }
    if (start.startsWith("HTTP/1.1")) {
        method_ = QStringLiteral("Response");
    } else {
        const QStringList fields = start.split(' ', Qt::SkipEmptyParts);
        if (fields.size() != 3 || fields.at(2) != QLatin1String("HTTP/1.1")) {
            refuse(400, "bad request line");
            return;
        }
        method_ = fields.at(0);
        url_ = fields.at(1);
    }

    bool haveLength = false;
    for (int i = 1; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        const int colon = line.indexOf(':');
        if (hasControlChar(line)) {
            refuse(400, "control character in header");
            return;
        }
        if (colon <= 0 || line.left(colon).contains(' ')) {
            refuse(400, "malformed header line");
            return;
        }
        const QString name = line.left(colon);
        const QString value = line.mid(colon + 1).trimmed();
        auto is = [&name](const char* wanted) { return name.compare(QLatin1String(wanted), Qt::CaseInsensitive) == 0; };
        if (is("User-Agent")) {
            uuid_ = idValue(value);
        } else if (is("Content-Type")) {
            contentType_ = idValue(value);
        } else if (is("User-ID")) {
            userId_ = idValue(value);
        } else if (is("Connection")) {
            // A list of options; "close" among them ends the connection after the reply.
            for (const QString& option : value.split(','))
                asksClose_ = asksClose_ || option.trimmed().compare(QLatin1String("close"), Qt::CaseInsensitive) == 0;
        } else if (is("Transfer-Encoding")) {
            refuse(501, "Transfer-Encoding is not supported");
            return;
        } else if (is("Content-Length")) {
            static const QRegularExpression digits("^[0-9]{1,18}$");
            if (!digits.match(value).hasMatch()) {
                refuse(400, "bad Content-Length");
                return;
            }
            const qint64 length = value.toLongLong();
            if (haveLength && length != contentLength_) {
                refuse(400, "conflicting Content-Length");
                return;
            }
            haveLength = true;
            contentLength_ = length;
            if (length > limits.maxBodyBytes) {
                refuse(413, "body too large");
                return;
            }
        }
    }
}

void SCI_ExecObj_Recv::setDuplex_Info(QHostAddress address, unsigned short port)
{
    record_.peerAddress = address.toString().remove("::ffff:");
    record_.peerPort = port;
}

int SCI_ExecObj_Recv::getNeedLength()
{
    return int(contentLength_ - body_.size());
}

bool SCI_ExecObj_Recv::decodesSlowly() const
{
    return body_.size() > NetDefaults::kInlineDecodeBytes || contentType_.contains(QLatin1String("multipart/form-data"));
}

bool SCI_ExecObj_Recv::analysisIntegrality()
{
    if (errorStatus_ != 0 || getNeedLength() > 0)
        return false;
    if ((method_ == "GET" || method_ == "PUT" || method_ == "POST") && url_.isEmpty())
        return false;

    const QStringList pieces = url_.split('?', Qt::SkipEmptyParts);
    if (pieces.size() >= 2) {
        record_.url = pieces.first();
        const QString query = pieces.mid(1).join('?');
        for (const QString& item : query.split('&')) {
            const QStringList kv = item.split('=', Qt::SkipEmptyParts);
            if (kv.size() == 2)
                record_.query.insert(QueryText::decode(kv.at(0)), QueryText::decode(kv.at(1)));
        }
    }

    if (body_.isEmpty())
        return true;
    if (contentType_.contains("application/json"))
        return analysisIntegrality_json(body_, record_);
    if (contentType_.contains("multipart/form-data")) {
        const int eq = contentType_.indexOf('=');
        if (eq < 0)
            return false;
        return analysisIntegrality_multipart(contentType_.mid(eq + 1).toUtf8(), body_, record_);
    }
    if (contentType_ == "application/octet-stream" || contentType_ == "image/jpeg")
        return analysisIntegrality_file(body_, record_);
    return analysisIntegrality_Default(body_, record_);
}

CTask_FormData SCI_ExecObj_Recv::getFormData()
{
    return record_;
}

bool SCI_ExecObj_Recv::analysisIntegrality_json(const QByteArray& body, CTask_FormData& task)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || doc.isNull()) {
        qWarning() << "analysisIntegrality_json" << "json error:" << task.url << error.errorString();
        return false;
    }
    task.json = doc.object();
    return true;
}

bool SCI_ExecObj_Recv::analysisIntegrality_file(const QByteArray& body, CTask_FormData& task)
{
    task.files.clear();
    task.files.insert(QString(), body);
    return true;
}

bool SCI_ExecObj_Recv::analysisIntegrality_Default(const QByteArray& body, CTask_FormData& task)
{
    task.body = body;
    return true;
}

bool SCI_ExecObj_Recv::analysisIntegrality_multipart(const QByteArray& boundary, const QByteArray& body,
                                                     CTask_FormData& task)
{
    QMap<QString, QVariant> texts;      // QString or QJsonObject
    QMap<QString, QByteArray> blobs;

    if (boundary.isEmpty())
        return true;
    int p = 0;
    int parts = 0;
    while (p < body.size()) {
        const int at = body.indexOf(boundary, p);
        if (at < 0)
            break;
        const QByteArray segment = body.mid(p, at - p);
        p = at + boundary.size() + 2;
        const int headEnd = segment.indexOf(kHeadEnd);
        if (segment.isEmpty() || headEnd < 0)
            continue;
        if (++parts > NetDefaults::kMaxMultipartParts) {
            qWarning() << "analysisIntegrality_multipart" << "more than" << NetDefaults::kMaxMultipartParts << "parts";
            return false;
        }
        const QStringList lines = textUpToNul(segment.left(headEnd)).split(QStringLiteral("\r\n"));
        if (lines.size() > NetDefaults::kMaxPartHeadLines) {
            qWarning() << "analysisIntegrality_multipart" << "a part head of" << lines.size() << "lines";
            return false;
        }
        QByteArray content = segment.mid(headEnd + 4);
        content.chop(2);

        QString name;
        QString type;
        bool named = false;
        for (const QString& line : lines) {
            if (line.contains(QLatin1String("Content-Disposition"))) {
                // Each line is read on its own, and the first line that names the part counts.
                if (!named) {
                    name = dispositionName(line);
                    named = !name.isEmpty();
                }
            } else if (line.contains(QLatin1String("Content-Type"))) {
                const QStringList fields = line.split(':');
                if (fields.size() == 2)
                    type = fields.at(1);
            }
        }
        if (name.isEmpty())
            continue;
        if (type.contains("application/json")) {
            const QJsonDocument doc = QJsonDocument::fromJson(content);
            if (!doc.isNull())
                texts.insert(name, doc.object());
        } else if (type.contains("application/octet-stream")) {
            blobs.insert(name, content);
        } else {
            texts.insert(name, textUpToNul(content));
        }
    }

    for (auto it = texts.cbegin(); it != texts.cend(); ++it) {
        if (it.value().userType() != QMetaType::QJsonObject) {
            task.jsonParts.insert(it.key(), it.value());
            continue;
        }
        const QJsonObject obj = it.value().toJsonObject();
        if (!obj.contains("data_type") || !it.key().contains("-info")) {
            task.jsonParts.insert(it.key(), obj);
            continue;
        }
        const int channels = obj.value("channels").toInt();
        const int width = obj.value("size_width").toInt();
        const int height = obj.value("size_height").toInt();
        const auto blob = blobs.constFind(obj.value("datakey").toString());
        const bool sane = (channels == 1 || channels == 3 || channels == 4)
                          && width > 0 && height > 0
                          && width <= NetDefaults::kMaxImageSide && height <= NetDefaults::kMaxImageSide;
        if (blob == blobs.cend() || !sane || qint64(width) * height * channels != blob->size())
            continue;
        cv::Mat image(height, width, CV_8UC(channels));
        std::memcpy(image.data, blob->constData(), size_t(blob->size()));
        task.images.insert(it.key(), image);
    }
    return true;
}
