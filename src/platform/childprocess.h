#pragma once

#include <QProcess>

// A program that runs beside this one in a process group of its own, so that
// ending it also ends whatever it started, and nothing else.
class ChildProcess : public QProcess
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
