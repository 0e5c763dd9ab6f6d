#include "groupprocess.h"

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace {
constexpr int kReapTries = 100;
constexpr useconds_t kReapPauseUs = 10000;
}

GroupProcess::GroupProcess(QObject* parent)
    : QProcess(parent)
{
    connect(this, &QProcess::started, this, [this] { m_group = pid_t(processId()); });
}

GroupProcess::~GroupProcess()
{
    endGroup();
}

void GroupProcess::setupChildProcess()
{
    ::setpgid(0, 0);
}

void GroupProcess::endGroup(int graceMs)
{
    if (m_group <= 0)
        return;
    // The group id is the leader's pid; members may outlive the leader.
    if (::kill(-m_group, SIGTERM) == 0 && !waitForFinished(graceMs))
        ::kill(-m_group, SIGKILL);
    waitForFinished(graceMs);
    // Members left behind by the leader go too (bounded: a reparented zombie
    // still answers until init reaps it).
    for (int tries = 0; tries < kReapTries && ::kill(-m_group, SIGKILL) == 0; ++tries)
        ::usleep(kReapPauseUs);
    m_group = 0;
}
