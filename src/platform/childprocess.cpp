#include "childprocess.h"

#include <signal.h>
#include <unistd.h>

ChildProcess::ChildProcess(QObject* parent) : QProcess(parent) {}

ChildProcess::~ChildProcess()
{
    endGroup();
    // Reaps it; SIGKILL ends it at once.
    waitForFinished(1000);
}

void ChildProcess::endGroup()
{
    const qint64 pid = processId();
    if (pid > 0 && state() != QProcess::NotRunning)
        ::kill(-pid_t(pid), SIGKILL);
}

void ChildProcess::setupChildProcess()
{
    ::setpgid(0, 0);
}
