#include "nginxserver.h"

#include "qttesthelpers.h"

#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>

namespace {
int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool answers(int port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    return socket.waitForConnected(200);
}
} // namespace

NginxServer::NginxServer()
    : m_dir(QDir::tempPath() + "/mm-nginx-XXXXXX")
{
    QDir().mkpath(docRoot());
    QDir().mkpath(m_dir.filePath("tmp"));
}

NginxServer::~NginxServer()
{
    stop();
}

QString NginxServer::docRoot() const
{
    return m_dir.filePath("www");
}

bool NginxServer::writeFile(const QString& relative, const QByteArray& content) const
{
    return writeWholeFile(docRoot() + '/' + relative, content);
}

bool NginxServer::makeDir(const QString& relative) const
{
    return QDir().mkpath(docRoot() + '/' + relative);
}

bool NginxServer::start(QString* error, int port)
{
    m_port = port > 0 ? port : freePort();
    const QString tmp = m_dir.filePath("tmp");
    const QString conf = QString(
        "daemon off;\nmaster_process off;\nworker_processes 1;\n"
        "pid %1/nginx.pid;\nerror_log %1/error.log;\n"
        "events { worker_connections 64; }\n"
        "http {\n"
        "  access_log off;\n"
        "  client_body_temp_path %1/body; proxy_temp_path %1/proxy; fastcgi_temp_path %1/fastcgi;\n"
        "  uwsgi_temp_path %1/uwsgi; scgi_temp_path %1/scgi;\n"
        "  server {\n"
        "    listen 127.0.0.1:%2;\n"
        "    root %3;\n"
        "    location / { autoindex on; }\n"
        "  }\n"
        "}\n").arg(tmp).arg(m_port).arg(docRoot());
    const QString confPath = m_dir.filePath("nginx.conf");
    if (!writeWholeFile(confPath, conf.toUtf8())) {
        *error = "cannot write " + confPath;
        return false;
    }
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // Killed with this process even when a test crashes.
    m_process.start("setpriv", {"--pdeathsig", "KILL", "nginx", "-p", m_dir.path(), "-c", confPath});
    if (!m_process.waitForStarted(5000)) {
        *error = "nginx: " + m_process.errorString();
        return false;
    }
    if (!waitUntil([&] { return answers(m_port) || m_process.state() == QProcess::NotRunning; }, 5000)
        || m_process.state() == QProcess::NotRunning) {
        *error = "nginx did not come up: " + QString::fromLocal8Bit(m_process.readAll());
        stop();
        return false;
    }
    return true;
}

void NginxServer::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}
