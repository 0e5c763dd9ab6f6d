#pragma once

// The reference server of the HTTP benchmarks: Debian's nginx, one worker,
// serving static files from a temporary folder on a free loopback port, with
// its own configuration there. Stopped (and waited for) when destroyed.

#include "shellrunner.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

class NginxReference
{
public:
    static constexpr const char* kProgram = "/usr/sbin/nginx";
    static constexpr int kStopWaitMs = 5000;

    static bool available() { return QFile::exists(kProgram); }

    // Lays `body` out as the file served at `path` (an absolute URL path).
    bool addFile(const QString& path, const QByteArray& body)
    {
        const QString file = m_dir.filePath("www" + path);
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile f(file);
        return f.open(QIODevice::WriteOnly) && f.write(body) == body.size();
    }

    QString fileOf(const QString& path) const { return m_dir.filePath("www" + path); }

    // Starts nginx; false with the reason in `error` when it does not come up.
    bool start(QString& error)
    {
        // nginx workers run as an unprivileged user: the folder must be readable to them.
        QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                                                | QFileDevice::ReadOther | QFileDevice::ExeOther);
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            m_port = probe.serverPort();
        }
        QFile c(m_dir.filePath("nginx.conf"));
        if (!c.open(QIODevice::WriteOnly)) {
            error = c.errorString();
            return false;
        }
        c.write(QStringLiteral(
                    "worker_processes 1;\npid %1/nginx.pid;\nerror_log %1/error.log;\ndaemon on;\n"
                    "events { worker_connections 256; }\n"
                    "http { access_log off; default_type application/json; keepalive_requests 1000000;\n"
                    "  client_body_temp_path %1/tmp; proxy_temp_path %1/tmp; fastcgi_temp_path %1/tmp;\n"
                    "  uwsgi_temp_path %1/tmp; scgi_temp_path %1/tmp;\n"
                    "  server { listen 127.0.0.1:%2; root %1/www; } }\n")
                    .arg(m_dir.path())
                    .arg(m_port)
                    .toUtf8());
        c.close();
        const ShellResult r = runProgram(kProgram, arguments(), 10000);
        m_running = r.ok();
        if (!m_running)
            error = QString::fromUtf8(r.stdErr);
        return m_running;
    }

    quint16 port() const { return m_port; }

    ~NginxReference()
    {
        if (!m_running)
            return;
        runProgram(kProgram, arguments() + QStringList{"-s", "stop"}, 10000);
        QElapsedTimer stopping;
        stopping.start();
        while (QFile::exists(m_dir.filePath("nginx.pid")) && stopping.elapsed() < kStopWaitMs)
            QThread::msleep(50);
    }

private:
    QStringList arguments() const
    {
        return {"-p", m_dir.path(), "-e", m_dir.filePath("error.log"), "-c", m_dir.filePath("nginx.conf")};
    }

    QTemporaryDir m_dir;
    quint16 m_port = 0;
    bool m_running = false;
};
