#include "fakeshellrunner.h"

#include "childprocess.h"

#include <QMutexLocker>

FakeShellRunner::FakeShellRunner() { ShellRunner::setInstance(this); }
FakeShellRunner::~FakeShellRunner() { ShellRunner::setInstance(nullptr); }

ShellResult FakeShellRunner::run(const QString& program, const QStringList& args, int, const QByteArray&)
{
    std::function<void(const Call&)> onRun;
    {
        QMutexLocker lock(&m_mutex);
        onRun = m_onRun;
    }
    if (onRun)
        onRun({program, args, false});
    QMutexLocker lock(&m_mutex);
    m_calls.append({program, args, false});
    if (m_results.contains(program))
        return m_results.value(program);
    ShellResult ok;
    ok.started = true;
    ok.exitCode = 0;
    return ok;
}

ShellResult FakeShellRunner::runLines(const QString& program, const QStringList& args, int timeoutMs,
                                      const LineHandler& onLine)
{
    const ShellResult result = run(program, args, timeoutMs, QByteArray());
    if (onLine) {
        for (const QByteArray& line : result.stdOut.split('\n')) {
            if (!line.isEmpty())
                onLine(line);
        }
    }
    return result;
}

bool FakeShellRunner::startDetached(const QString& program, const QStringList& args, const QString&)
{
    QMutexLocker lock(&m_mutex);
    m_calls.append({program, args, true});
    return !m_results.contains(program) || m_results.value(program).started;
}

std::unique_ptr<ChildProcess> FakeShellRunner::startChild(const QString& program, const QStringList& args,
                                                          const QString&)
{
    QMutexLocker lock(&m_mutex);
    m_calls.append({program, args, true});
    return nullptr;
}

void FakeShellRunner::setOnRun(std::function<void(const Call&)> onRun)
{
    QMutexLocker lock(&m_mutex);
    m_onRun = std::move(onRun);
}

void FakeShellRunner::setResult(const QString& program, const ShellResult& result)
{
    QMutexLocker lock(&m_mutex);
    m_results.insert(program, result);
}

void FakeShellRunner::setOutput(const QString& program, const QByteArray& stdOut, int exitCode)
{
    ShellResult result;
    result.started = true;
    result.exitCode = exitCode;
    result.stdOut = stdOut;
    setResult(program, result);
}

QList<FakeShellRunner::Call> FakeShellRunner::calls() const
{
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

QStringList FakeShellRunner::lines() const
{
    QStringList out;
    for (const Call& call : calls())
        out << call.line();
    return out;
}

bool FakeShellRunner::ran(const QString& program) const
{
    for (const Call& call : calls())
        if (call.program == program)
            return true;
    return false;
}

void FakeShellRunner::clear()
{
    QMutexLocker lock(&m_mutex);
    m_calls.clear();
}
