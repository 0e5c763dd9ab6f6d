#include "configprompts.h"

#include <QMutex>
#include <QMutexLocker>

namespace ConfigPrompts {
namespace {
QMutex gMutex;
Warn gWarn;
Ask gAsk;
} // namespace

void setWarn(Warn warn)
{
    QMutexLocker lock(&gMutex);
    gWarn = std::move(warn);
}

void setAsk(Ask ask)
{
    QMutexLocker lock(&gMutex);
    gAsk = std::move(ask);
}

void warn(const QString& text)
{
    Warn handler;
    {
        QMutexLocker lock(&gMutex);
        handler = gWarn;
    }
    qWarning("%s", qPrintable(text));
    if (handler)
        handler(text);
}

bool ask(const QString& text)
{
    Ask handler;
    {
        QMutexLocker lock(&gMutex);
        handler = gAsk;
    }
    return handler ? handler(text) : false;
}

} // namespace ConfigPrompts
