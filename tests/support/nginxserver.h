#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real nginx serving a folder with directory listings (autoindex) on
// 127.0.0.1, from its own configuration in a temporary folder. Runs as one
// process (no workers), ended when the object goes.
class NginxServer
{
public:
    NginxServer();
    ~NginxServer();

    // Starts on a free port (or the given one); false with the reason.
    bool start(QString* error, int port = 0);
    void stop();
    int port() const { return m_port; }
    // Files served: "monitor/lineA/V17/V17_a.tar.gz" -> http://127.0.0.1:<port>/monitor/lineA/V17/V17_a.tar.gz
    bool writeFile(const QString& relative, const QByteArray& content) const;
    bool makeDir(const QString& relative) const;
    QString docRoot() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};
