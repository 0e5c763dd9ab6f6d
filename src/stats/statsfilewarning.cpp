#include "statsfilewarning.h"

#include <QDebug>

namespace {
StatsFileWarning::Handler gHandler;
} // namespace

void StatsFileWarning::show(const QString& text)
{
    if (gHandler) {
        gHandler(text);
        return;
    }
    qWarning().noquote() << text;
}

void StatsFileWarning::setHandler(Handler handler)
{
    gHandler = std::move(handler);
}
