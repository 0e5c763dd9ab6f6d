#pragma once

#include <QFileInfoList>

#include <functional>

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

// The most that removing the file frees: its blocks, none while another name links them.
qint64 mostFreed(const QFileInfo& file);

// For free space, where sizes do not tell what a removal wins (a file held open frees nothing
// until it is closed, one that will not go frees nothing): removes the files in the order given,
// one at a time, until lacking(), read from the file system after each, is none. A file linked
// elsewhere is kept, since it would free nothing. enough: nothing lacks at the end.
Result removeUntilFree(const QFileInfoList& oldestFirst, const std::function<qint64()>& lacking);

} // namespace SpaceReclaim
