#pragma once

#include "shellrunner.h"

#include <QList>
#include <QMap>
#include <QMutex>

#include <functional>

// Records every program the code under test would run and answers from a
// table instead of running anything. Installed for its lifetime.
class FakeShellRunner : public ShellRunner
{
public:
    struct Call
    {
        QString program;
        QStringList args;
        bool detached = false;
        QString line() const { return (QStringList{program} + args).join(' '); }
    };

    FakeShellRunner();
    ~FakeShellRunner() override;

    ShellResult run(const QString& program, const QStringList& args, int timeoutMs,
                    const QByteArray& stdinData) override;
    // Answers from the table and hands the answer's lines to onLine.
    ShellResult runLines(const QString& program, const QStringList& args, int timeoutMs,
                         const LineHandler& onLine) override;
    bool startDetached(const QString& program, const QStringList& args, const QString& workingDirectory) override;
    // Recorded as detached; nothing runs.
    std::unique_ptr<ChildProcess> startChild(const QString& program, const QStringList& args,
                                             const QString& workingDirectory) override;

    // The answer for a program (by name, as passed); unknown programs exit 0 with no output.
    void setResult(const QString& program, const ShellResult& result);
    void setOutput(const QString& program, const QByteArray& stdOut, int exitCode = 0);

    // Called with each program run (not a detached one) before it is answered, outside the lock.
    void setOnRun(std::function<void(const Call& call)> onRun);

    QList<Call> calls() const;
    QStringList lines() const;
    bool ran(const QString& program) const;
    void clear();

private:
    mutable QMutex m_mutex;
    QList<Call> m_calls;
    QMap<QString, ShellResult> m_results;
    std::function<void(const Call&)> m_onRun;
};
