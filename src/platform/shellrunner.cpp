#include "shellrunner.h"

#include "childprocess.h"
#include "terminationsignals.h"

#include <QAtomicPointer>
#include <QElapsedTimer>
#include <QProcess>

#include <optional>
#include <signal.h>
#include <unistd.h>

namespace {
ShellRunner gRealRunner;
QAtomicPointer<ShellRunner> gRunner(&gRealRunner);
// Starts the program; false (the reason in result) when it cannot start.
bool launch(QProcess& process, const QString& program, const QStringList& args, int timeoutMs,
            ShellResult& result)
{
    process.setProgram(program);
    process.setArguments(args);
    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(timeoutMs > 0 ? timeoutMs : -1)) {
        result.stdErr = process.errorString().toUtf8();
        return false;
    }
    result.started = true;
    return true;
}

// Ends a child at its time-out. A program that made its own group (setsid) may
// have children of its own; they go with it. Never touches a group this
// program did not start.
void endAtTimeout(QProcess& process)
{
    const pid_t pid = static_cast<pid_t>(process.processId());
    if (pid > 0 && ::getpgid(pid) == pid)
        ::kill(-pid, SIGKILL);
    process.kill();
    process.waitForFinished(1000);
}
} // namespace

ShellResult ShellRunner::run(const QString& program, const QStringList& args, int timeoutMs,
                             const QByteArray& stdinData)
{
    ShellResult result;
    BoundProcess process;
    const std::optional<TerminationSignals::BoundedWait> bounded =
        timeoutMs > 0 ? std::make_optional<TerminationSignals::BoundedWait>() : std::nullopt;
    if (!launch(process, program, args, timeoutMs, result))
        return result;
    if (!stdinData.isEmpty())
        process.write(stdinData);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs > 0 ? timeoutMs : -1)) {
        result.timedOut = true;
        endAtTimeout(process);
    }
    result.stdOut = process.readAllStandardOutput();
    result.stdErr = process.readAllStandardError();
    if (!result.timedOut)
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

ShellResult ShellRunner::runLines(const QString& program, const QStringList& args, int timeoutMs,
                                  const LineHandler& onLine)
{
    constexpr int kSliceMs = 100;
    ShellResult result;
    BoundProcess process;
    const std::optional<TerminationSignals::BoundedWait> bounded =
        timeoutMs > 0 ? std::make_optional<TerminationSignals::BoundedWait>() : std::nullopt;
    if (!launch(process, program, args, timeoutMs, result))
        return result;
    process.closeWriteChannel();
    auto deliver = [&](bool all) {
        while (process.canReadLine()) {
            QByteArray line = process.readLine();
            result.stdOut += line;
            while (line.endsWith('\n') || line.endsWith('\r'))
                line.chop(1);
            if (onLine)
                onLine(line);
        }
        if (all) {
            const QByteArray rest = process.readAllStandardOutput();
            result.stdOut += rest;
            if (!rest.isEmpty() && onLine)
                onLine(rest);
        }
        result.stdErr += process.readAllStandardError();
    };
    QElapsedTimer elapsed;
    elapsed.start();
    while (process.state() != QProcess::NotRunning) {
        if (timeoutMs > 0 && elapsed.elapsed() >= timeoutMs) {
            result.timedOut = true;
            endAtTimeout(process);
            break;
        }
        process.waitForReadyRead(kSliceMs);
        deliver(false);
    }
    deliver(true);
    if (!result.timedOut)
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

bool ShellRunner::startDetached(const QString& program, const QStringList& args, const QString& workingDirectory)
{
    return QProcess::startDetached(program, args, workingDirectory);
}

QProcess* ShellRunner::startProcess(const QString& program, const QStringList& args, QObject* owner,
                                    int startTimeoutMs)
{
    auto* process = new BoundProcess(owner);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setProgram(program);
    process->setArguments(args);
    process->start(QIODevice::ReadWrite);
    if (!process->waitForStarted(startTimeoutMs > 0 ? startTimeoutMs : -1)) {
        delete process;
        return nullptr;
    }
    return process;
}

std::unique_ptr<ChildProcess> ShellRunner::startChild(const QString& program, const QStringList& args,
                                                      const QString& workingDirectory)
{
    auto child = std::make_unique<ChildProcess>();
    child->setProgram(program);
    child->setArguments(args);
    if (!workingDirectory.isEmpty())
        child->setWorkingDirectory(workingDirectory);
    child->setStandardOutputFile(QProcess::nullDevice());
    child->setStandardErrorFile(QProcess::nullDevice());
    // Starting is asynchronous: a program that cannot start reports it through errorOccurred().
    child->start(QIODevice::NotOpen);
    return child;
}

ShellRunner& ShellRunner::instance()
{
    return *gRunner.loadAcquire();
}

void ShellRunner::setInstance(ShellRunner* runner)
{
    gRunner.storeRelease(runner ? runner : &gRealRunner);
}
