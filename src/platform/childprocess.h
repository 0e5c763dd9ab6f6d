#pragma once

#include <QProcess>

// A program this one starts that ends when this one ends, also when this one is
// killed (SIGKILL, a crash): the kernel sends it SIGKILL as its parent goes. The
// kernel ties this to the thread that started it, so a program that runs on after
// the start call returns is started from a thread that lives as long as the
// program (the GUI thread); one that is waited for may be started from any thread.
class BoundProcess : public QProcess
{
    Q_OBJECT
public:
    explicit BoundProcess(QObject* parent = nullptr);

protected:
    void setupChildProcess() override;

private:
    qint64 m_parentPid;
};

// A bound program that runs beside this one in a process group of its own, so
// that ending it also ends whatever it started, and nothing else.
class ChildProcess : public BoundProcess
{
    Q_OBJECT
public:
    explicit ChildProcess(QObject* parent = nullptr);
    ~ChildProcess() override;

    bool isRunning() const { return state() != QProcess::NotRunning; }
    // Kills the whole group without waiting; finished() follows from the event loop.
    void endGroup();

protected:
    void setupChildProcess() override;
};
