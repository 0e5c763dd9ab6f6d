#pragma once

#include "groupprocess.h"

#include <QProcess>
#include <QString>
#include <QVector>

// The ioboard-sim tool run by a test: its terminal is reached through a fixed
// link path, so a restarted simulator appears under the same name.
class BoardSimProcess
{
public:
    struct Record
    {
        qint64 monotonicMs;
        quint16 word;
    };

    static QString binaryPath();

    BoardSimProcess(const QString& linkPath, const QString& recordPath, const QString& socketPath = QString());
    ~BoardSimProcess();

    // The folder the simulator runs in (relative paths among its options are taken there).
    void setWorkingDirectory(const QString& folder) { m_process.setWorkingDirectory(folder); }
    bool start();
    void stop();  // SIGTERM, then SIGKILL; only this process
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    QString ptyPath() const { return m_pty; }

    // Sends one command line on stdin and waits for its reply line.
    QString command(const QString& line, int timeoutMs = 3000);
    // Words recorded so far: "out" (from the host) or "in" (simulated inputs).
    QVector<Record> records(const QByteArray& direction = "out") const;
    // Waits (processing events) until the simulator has recorded the word; its record index or -1.
    int waitForWord(quint16 word, int timeoutMs = 3000, int fromIndex = 0) const;
    // Frames the simulator has seen ("status").
    quint64 frames();

private:
    QString readLine(int timeoutMs);

    QString m_link;
    QString m_record;
    QString m_socket;
    QString m_pty;
    GroupProcess m_process;
    QByteArray m_pending;
};
