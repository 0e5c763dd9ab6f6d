#pragma once

#include <QFileInfoList>

// Old files removed to win space back go only when, together, they win what is asked:
// removing some without reaching it loses them and keeps every later write failing all the same.
namespace SpaceReclaim {

struct Result
{
    int files = 0;        // removed
    qint64 bytes = 0;     // their size
    bool enough = false;  // bytes reach what was asked (true when nothing was asked)
};

// Removes the fewest of the files, taken in the order given (oldest first), whose sizes reach
// needed bytes; removes none when all of them together stay short of it.
Result removeOldest(const QFileInfoList& oldestFirst, qint64 needed);

} // namespace SpaceReclaim
