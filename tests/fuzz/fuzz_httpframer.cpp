// The HTTP framer and reader: the bytes fed whole and the same bytes cut at a
// point chosen by the first input byte must give the same messages.
#include "ctask_formdata.h"
#include "fuzzsupport.h"
#include "httpframer.h"
#include "sci_execobj_recv.h"

#include <QJsonDocument>
#include <QStringList>

namespace {

struct Outcome
{
    QStringList messages;
    bool failed = false;
    int status = 0;
    bool operator==(const Outcome& o) const { return messages == o.messages && failed == o.failed && status == o.status; }
};

QString summary(bool decoded, const CTask_FormData& r)
{
    QStringList query;
    for (auto it = r.query.cbegin(); it != r.query.cend(); ++it)
        query << it.key() + '=' + it.value();
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8")
        .arg(decoded)
        .arg(r.url, query.join('&'), QString::fromLatin1(QJsonDocument(r.json).toJson(QJsonDocument::Compact)),
             QStringList(r.jsonParts.keys()).join(','), QStringList(r.images.keys()).join(','),
             QString::fromLatin1(r.body.toBase64()))
        .arg(r.files.size());
}

Outcome frame(const QList<QByteArray>& pieces)
{
    NetLimits limits;
    limits.maxBodyBytes = 1 << 20;
    HttpFramer framer(1, limits);
    Outcome out;
    HttpFramer::Hooks hooks;
    hooks.finish = [&out](const QSharedPointer<SCI_ExecObj_Recv>& msg) {
        const bool decoded = msg->analysisIntegrality();
        out.messages << summary(decoded, msg->getFormData());
    };
    framer.setHooks(hooks);
    for (const QByteArray& piece : pieces)
        if (!framer.feed(piece))
            break;
    out.failed = framer.failed();
    out.status = framer.errorStatus();
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FuzzSupport::Split input = FuzzSupport::split(data, size);
    if (!(frame({input.stream}) == frame({input.head(), input.tail()})))
        FuzzSupport::fail("a cut stream framed differently from the whole one");
    return 0;
}
