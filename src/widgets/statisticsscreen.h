#pragma once

#include <functional>

// The statistics screen lives above the widget library. Its owner registers
// how to open it (create the screen when missing, then show it full screen);
// the panel's statistics button calls it.
namespace StatisticsScreen {

using Opener = std::function<void()>;

void setOpener(Opener opener);
// Runs the registered opener; false when none is registered.
bool open();

} // namespace StatisticsScreen
