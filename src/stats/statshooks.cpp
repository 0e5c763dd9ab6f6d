#include "statshooks.h"

StatsHooks& StatsHooks::instance()
{
    static StatsHooks hooks;
    return hooks;
}
