#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class ChildProcess;
class QObject;
class QProcess;

// Outcome of one external program run.
struct ShellResult
{
    bool started = false;   // the program could be started at all
    bool timedOut = false;  // killed at the time-out
    int exitCode = -1;
    QByteArray stdOut;
    QByteArray stdErr;

    bool ok() const { return started && !timedOut && exitCode == 0; }
};

// The one way this program runs other programs. A program and its argument
// list are passed as they are (never through a shell line built from text),
// so nothing typed by a user or sent by a peer can become a command. Every
// program but a detached one ends when this program ends, however it ends
// (BoundProcess). Tests replace the instance to record calls instead of running them.
class ShellRunner
{
public:
    static constexpr int kDefaultTimeoutMs = 30000;

    virtual ~ShellRunner() = default;

    // Runs and waits, at most timeoutMs (<= 0: no limit); the program is killed at the limit,
    // together with its process group when it leads one (started through "setsid").
    virtual ShellResult run(const QString& program, const QStringList& args,
                            int timeoutMs = kDefaultTimeoutMs, const QByteArray& stdinData = QByteArray());

    using LineHandler = std::function<void(const QByteArray& line)>;
    // As run(), and hands each line of standard output (without its end) to
    // onLine as it arrives, for programs that report progress.
    virtual ShellResult runLines(const QString& program, const QStringList& args, int timeoutMs,
                                 const LineHandler& onLine);

    // Starts a program that outlives the call and this program (a restart of this
    // program, the calibration tool); false when it could not start.
    virtual bool startDetached(const QString& program, const QStringList& args,
                               const QString& workingDirectory = QString());

    // Starts a long-running program whose output the caller reads as it comes
    // (stdout and stderr merged). The process belongs to owner; null when it could not start.
    // It ends when the calling thread ends: call from the GUI thread.
    virtual QProcess* startProcess(const QString& program, const QStringList& args, QObject* owner,
                                   int startTimeoutMs = kDefaultTimeoutMs);

    // Starts a program that runs beside this one in a process group of its own,
    // output discarded; the caller owns it. Null when the runner only records calls.
    // It ends when the calling thread ends: call from the GUI thread.
    virtual std::unique_ptr<ChildProcess> startChild(const QString& program, const QStringList& args,
                                                     const QString& workingDirectory = QString());

    // The runner in use. setInstance(nullptr) restores the real one; the caller keeps ownership.
    static ShellRunner& instance();
    static void setInstance(ShellRunner* runner);
};

// Shorthands for the common case.
inline ShellResult runProgram(const QString& program, const QStringList& args,
                              int timeoutMs = ShellRunner::kDefaultTimeoutMs)
{
    return ShellRunner::instance().run(program, args, timeoutMs);
}
