#pragma once

#include <QProcess>

#include <sys/types.h>

// A peer process started in a process group of its own, so that ending it
// ends whatever it started too (python3 may be a launcher that runs the real
// interpreter as a child). The group is ended when the object goes, also
// when a test fails half-way.
class GroupProcess : public QProcess
{
public:
    explicit GroupProcess(QObject* parent = nullptr);
    ~GroupProcess() override;

    // SIGTERM to the whole group, then SIGKILL after graceMs; waits for the leader.
    void endGroup(int graceMs = 2000);

protected:
    void setupChildProcess() override;

private:
    pid_t m_group = 0;
};
