#include "childprocess.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

BoundProcess::BoundProcess(QObject* parent) : QProcess(parent), m_parentPid(::getpid()) {}

void BoundProcess::setupChildProcess()
{
    // Runs in the child before exec. A parent that died before the request was
    // made sends nothing: its orphan ends here instead.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != pid_t(m_parentPid))
        ::_exit(127);
}

ChildProcess::ChildProcess(QObject* parent) : BoundProcess(parent) {}

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
    BoundProcess::setupChildProcess();
    ::setpgid(0, 0);
}
