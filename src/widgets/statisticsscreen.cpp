#include "statisticsscreen.h"

#include <QtDebug>

namespace {
StatisticsScreen::Opener& opener()
{
    static StatisticsScreen::Opener instance;
    return instance;
}
}

void StatisticsScreen::setOpener(Opener o)
{
    opener() = std::move(o);
}

bool StatisticsScreen::open()
{
    if (!opener()) {
        qWarning() << "the statistics screen is not available";
        return false;
    }
    opener()();
    return true;
}
