#include "shellrunner.h"

#include "childprocess.h"

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
