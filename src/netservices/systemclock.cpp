#include "systemclock.h"

#include "shellrunner.h"

#include <QDebug>

namespace SystemClock {

bool set(const QString& dateText)
{
    const ShellResult date = runProgram(QStringLiteral("date"), {QStringLiteral("-s"), dateText}, kStepTimeoutMs);
    if (!date.ok()) {
        qWarning().noquote() << "date -s" << dateText << "failed:" << date.exitCode << date.stdErr.trimmed();
        return false;
    }
    const ShellResult hw = runProgram(QStringLiteral("hwclock"), {QStringLiteral("--systohc")}, kStepTimeoutMs);
    if (!hw.ok())
        qWarning().noquote() << "hwclock --systohc failed:" << hw.exitCode << hw.stdErr.trimmed();
    return true;
}

} // namespace SystemClock
