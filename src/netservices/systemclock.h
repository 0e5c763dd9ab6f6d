#pragma once

#include <QString>

// Setting the box's clock: "date -s <text>", then "hwclock --systohc", each
// waited for up to kStepTimeoutMs. Runs through ShellRunner; the text is one
// argument, never part of a shell line.
namespace SystemClock {

constexpr int kStepTimeoutMs = 3000;

// True when "date" succeeded (the clock is set); a failing "hwclock" is only logged.
bool set(const QString& dateText);

} // namespace SystemClock
