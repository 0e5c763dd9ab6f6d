#include "recordedprocess.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <QThread>
#include <QtDebug>

#include <signal.h>

namespace RecordedProcess {

namespace {

// Fields after the command name of /proc/PID/stat: 3 state, 4 ppid, 5 pgrp ... 22 starttime.
constexpr int kFirstField = 3;
constexpr int kGroupField = 5;
constexpr int kStartField = 22;
constexpr int kEndWaitMs = 1000;
constexpr int kEndPollMs = 10;

// The PIDs are this machine's own, so the real /proc is read, never a test's host root.
QStringList statFields(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromLatin1(file.readAll());
    // The command name is in parentheses and may hold blanks and parentheses itself.
    const int close = text.lastIndexOf(QLatin1Char(')'));
    if (close < 0)
        return {};
    return text.mid(close + 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

qint64 field(const QStringList& fields, int number)
{
    bool ok = false;
    const qint64 value = fields.value(number - kFirstField).toLongLong(&ok);
    return ok ? value : -1;
}

} // namespace

qint64 startTime(qint64 pid)
{
    // A zombie has ended: only its parent's reaping (for an orphan, PID 1's) is left.
    const QStringList fields = statFields(pid);
    const QString state = fields.value(0);
    if (state == QLatin1String("Z") || state == QLatin1String("X"))
        return -1;
    return field(fields, kStartField);
}

bool record(const QString& file, qint64 pid, QString* error)
{
    const qint64 started = startTime(pid);
    if (started < 0) {
        if (error)
            *error = QStringLiteral("process %1 is gone").arg(pid);
        return false;
    }
    // Written once and never again later: a record is only true while its process lives.
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(QByteArray::number(pid) + ' ' + QByteArray::number(started) + '\n') < 0
        || !out.commit()) {
        if (error)
            *error = file + QStringLiteral(": ") + out.errorString();
        return false;
    }
    return true;
}

qint64 endLeftover(const QString& file)
{
    QFile recorded(file);
    if (!recorded.open(QIODevice::ReadOnly))
        return -1;
    const QStringList words = QString::fromLatin1(recorded.readAll()).simplified().split(QLatin1Char(' '));
    recorded.close();
    forget(file);
    bool pidOk = false;
    bool startOk = false;
    const qint64 pid = words.value(0).toLongLong(&pidOk);
    const qint64 started = words.value(1).toLongLong(&startOk);
    const QStringList fields = statFields(pid);
    if (!pidOk || !startOk || pid <= 1 || fields.isEmpty())
        return -1;
    if (field(fields, kStartField) != started || field(fields, kGroupField) != pid) {
        qInfo() << "recorded process" << pid << "is another one now: left alone";
        return -1;
    }
    ::kill(-pid_t(pid), SIGKILL);
    // What it held (a listening port) is free once it is gone; a zombie holds nothing.
    for (int waited = 0; waited < kEndWaitMs; waited += kEndPollMs) {
        const QStringList now = statFields(pid);
        if (field(now, kStartField) != started || now.value(0) == QLatin1String("Z"))
            break;
        QThread::msleep(kEndPollMs);
    }
    return pid;
}

void forget(const QString& file)
{
    QFile::remove(file);
}

} // namespace RecordedProcess
