#pragma once

#include <functional>

// What the statistics store needs of the floors above it; the application
// sets these at start-up.
struct StatsHooks
{
    // The number of cameras of the system (the count query answers for each);
    // unset: none.
    std::function<int()> cameraCount;

    static StatsHooks& instance();
};
