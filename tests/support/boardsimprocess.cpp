#include "boardsimprocess.h"

#include "tempappdir.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

QString BoardSimProcess::binaryPath()
{
    return projectBinaryDir() + QStringLiteral("/bin/ioboard-sim");
}

BoardSimProcess::BoardSimProcess(const QString& linkPath, const QString& recordPath, const QString& socketPath)
    : m_link(linkPath)
    , m_record(recordPath)
    , m_socket(socketPath)
{
}

BoardSimProcess::~BoardSimProcess()
{
    stop();
}

bool BoardSimProcess::start()
{
    QStringList args{QStringLiteral("--link"), m_link, QStringLiteral("--record"), m_record};
    if (!m_socket.isEmpty())
        args << QStringLiteral("--socket") << m_socket;
    m_pending.clear();
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(binaryPath(), args);
    if (!m_process.waitForStarted(5000))
        return false;
    const QString first = readLine(5000);
    if (!first.startsWith(QLatin1String("pty ")))
        return false;
    m_pty = first.mid(4);
    return QFileInfo(m_link).symLinkTarget() == m_pty;
}

void BoardSimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.endGroup(3000);
}

QString BoardSimProcess::readLine(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const int eol = m_pending.indexOf('\n');
        if (eol >= 0) {
            const QString line = QString::fromUtf8(m_pending.left(eol));
            m_pending.remove(0, eol + 1);
            return line;
        }
        if (deadline.hasExpired() || m_process.state() != QProcess::Running)
            return QString();
        if (m_process.waitForReadyRead(int(qMax<qint64>(1, qMin<qint64>(deadline.remainingTime(), 50)))))
            m_pending += m_process.readAllStandardOutput();
    }
}

QString BoardSimProcess::command(const QString& line, int timeoutMs)
{
    m_process.write((line + QLatin1Char('\n')).toUtf8());
    m_process.waitForBytesWritten(timeoutMs);
    return readLine(timeoutMs);
}

QVector<BoardSimProcess::Record> BoardSimProcess::records(const QByteArray& direction) const
{
    QVector<Record> out;
    QFile file(m_record);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    while (!file.atEnd()) {
        const QList<QByteArray> parts = file.readLine().trimmed().split(' ');
        if (parts.size() == 4 && parts[2] == direction)
            out.append({parts[1].toLongLong(), quint16(parts[3].mid(2).toUInt(nullptr, 16))});
    }
    return out;
}

int BoardSimProcess::waitForWord(quint16 word, int timeoutMs, int fromIndex) const
{
    QDeadlineTimer deadline(timeoutMs);
    do {
        const QVector<Record> all = records();
        for (int i = fromIndex; i < all.size(); ++i) {
            if (all[i].word == word)
                return i;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    } while (!deadline.hasExpired());
    return -1;
}

quint64 BoardSimProcess::frames()
{
    const QStringList parts = command(QStringLiteral("status")).split(QLatin1Char(' '));
    const int at = parts.indexOf(QStringLiteral("frames"));
    return at >= 0 && at + 1 < parts.size() ? parts[at + 1].toULongLong() : 0;
}
