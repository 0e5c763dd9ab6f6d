#include "ctask_formdata.h"

#include "querytext.h"

#include <QStringList>
#include <QUrl>

namespace {

struct StatusLine
{
    int status;
    const char* reason;
    const char* msg;   // replaces msg, and code becomes -1
};

// Every other status, the core's own refusals (400, 413, 431, 501) included, is written
// with the reason "OK": peers of this dialect read the code, never the phrase.
const StatusLine kStatusLines[] = {
    {404, "Not Found", "no found url"},
    {503, "Service Unavailable", "服务器忙碌中"},
};

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
        QString reason = QStringLiteral("OK");
        for (const StatusLine& line : kStatusLines) {
            if (line.status != status)
                continue;
            reason = QString::fromLatin1(line.reason);
            msg = QString::fromUtf8(line.msg);
            code = -1;
        }
        return QStringLiteral("HTTP/1.1 %1 %2").arg(status).arg(reason);
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
