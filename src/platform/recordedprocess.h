#pragma once

#include <QString>

// A process group this program started and recorded in a file ("<pid> <start time>"), so
// that a later run can end it when it is left over, and never a process that merely
// took over its number: the start time in /proc must still be the recorded one.
namespace RecordedProcess {

// The start time of a process (clock ticks after boot, /proc/PID/stat), -1 when it is gone.
qint64 startTime(qint64 pid);

// Records a group leader started by this program; false with the reason.
bool record(const QString& file, qint64 pid, QString* error = nullptr);

// Ends the recorded group when its leader is still the recorded process, then forgets
// the record; the pid that was ended, or -1.
qint64 endLeftover(const QString& file);

void forget(const QString& file);

} // namespace RecordedProcess
