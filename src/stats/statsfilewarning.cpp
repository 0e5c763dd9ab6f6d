#include "statsfilewarning.h"

#include "warnbox.h"

namespace {
StatsFileWarning::Handler gHandler;
} // namespace

void StatsFileWarning::show(const QString& text)
{
    if (gHandler) {
        gHandler(text);
        return;
    }
    WarnBox box(nullptr);
    box.setText(text);
    box.exec();
}

void StatsFileWarning::setHandler(Handler handler)
{
    gHandler = std::move(handler);
}
