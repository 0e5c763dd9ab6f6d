#include "ctask_formdata.h"

#include "querytext.h"

#include <QStringList>
#include <QUrl>

namespace {

struct StatusLine
{
    int status;
    const char* reason;
    const char* msg;   // when set, replaces msg, and code becomes -1
};

// The reason phrase of each status the system answers, and of each class's first status.
const StatusLine kStatusLines[] = {
    {100, "Continue", nullptr},
    {200, "OK", nullptr},
    {300, "Multiple Choices", nullptr},
    {400, "Bad Request", nullptr},
    {403, "Forbidden", nullptr},
    {404, "Not Found", "no found url"},
    {413, "Content Too Large", nullptr},
    {431, "Request Header Fields Too Large", nullptr},
    {500, "Internal Server Error", nullptr},
    {501, "Not Implemented", nullptr},
    {503, "Service Unavailable", "服务器忙碌中"},
};

const StatusLine* statusLine(int status)
{
    for (const StatusLine& line : kStatusLines) {
        if (line.status == status)
            return &line;
    }
    return nullptr;
}

// A client reads a status it does not know as the first of its class, so its phrase is that one's.
QString reasonPhrase(int status)
{
    const StatusLine* line = statusLine(status);
    if (!line)
        line = statusLine(status / 100 * 100);
    return line ? QString::fromLatin1(line->reason) : QString();
}

// A URL path never carries blanks or control characters into the first line.
QString cleanPath(const QString& url)
{
    QString out;
    out.reserve(url.size());
    for (const QChar c : url) {
        if (c.unicode() <= 0x20 || c.unicode() == 0x7f)
            out += QString::fromLatin1(QUrl::toPercentEncoding(QString(c)));
        else
            out += c;
    }
    return out;
}

} // namespace

int CTask_FormData::getTaskPkgType()
{
    if (!images.isEmpty())
        return 2;
    if (!files.isEmpty())
        return 3;
    if (!json.isEmpty())
        return 1;
    return 0;
}

QString CTask_FormData::getResponseFirstLine()
{
    if (url.isEmpty()) {
        const StatusLine* line = statusLine(status);
        if (line && line->msg) {
            msg = QString::fromUtf8(line->msg);
            code = -1;
        }
        return QStringLiteral("HTTP/1.1 %1 %2").arg(status).arg(reasonPhrase(status));
    }
    QString target = cleanPath(url);
    if (!query.isEmpty()) {
        QStringList pairs;
        for (auto it = query.cbegin(); it != query.cend(); ++it)
            pairs << QueryText::encode(it.key()) + "=" + QueryText::encode(it.value());
        target += "?" + pairs.join("&");
    }
    return QStringLiteral("%1 %2 HTTP/1.1").arg(cleanPath(method), target);
}
