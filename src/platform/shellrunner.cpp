#include "shellrunner.h"

#include <QAtomicPointer>
#include <QProcess>

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

ShellRunner& ShellRunner::instance()
{
    return *gRunner.loadAcquire();
}

void ShellRunner::setInstance(ShellRunner* runner)
{
    gRunner.storeRelease(runner ? runner : &gRealRunner);
}
