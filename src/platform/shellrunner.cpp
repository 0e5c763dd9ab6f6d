#include "shellrunner.h"

#include <QAtomicPointer>
#include <QProcess>

#include <signal.h>
#include <unistd.h>

namespace {
ShellRunner gRealRunner;
QAtomicPointer<ShellRunner> gRunner(&gRealRunner);
} // namespace

ShellResult ShellRunner::run(const QString& program, const QStringList& args, int timeoutMs,
                             const QByteArray& stdinData)
{
    ShellResult result;
    QProcess process;
    process.setProgram(program);
    process.setArguments(args);
    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(timeoutMs > 0 ? timeoutMs : -1)) {
        result.stdErr = process.errorString().toUtf8();
        return result;
    }
    result.started = true;
    if (!stdinData.isEmpty())
        process.write(stdinData);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs > 0 ? timeoutMs : -1)) {
        result.timedOut = true;
        // A program that made its own group (setsid) may have children of its
        // own; they go with it. Never touches a group this program did not start.
        const pid_t pid = static_cast<pid_t>(process.processId());
        if (pid > 0 && ::getpgid(pid) == pid)
            ::kill(-pid, SIGKILL);
        process.kill();
        process.waitForFinished(1000);
    }
    result.stdOut = process.readAllStandardOutput();
    result.stdErr = process.readAllStandardError();
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
    auto* process = new QProcess(owner);
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

ShellRunner& ShellRunner::instance()
{
    return *gRunner.loadAcquire();
}

void ShellRunner::setInstance(ShellRunner* runner)
{
    gRunner.storeRelease(runner ? runner : &gRealRunner);
}
