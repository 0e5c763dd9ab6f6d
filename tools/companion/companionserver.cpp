#include "companionserver.h"

#include <csignal>

#include <QCoreApplication>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

namespace {

const QByteArray kHeaderEnd("\r\n\r\n");

// The value of one header line (case-insensitive name), empty when absent.
QByteArray headerValue(const QList<QByteArray>& lines, const QByteArray& name)
{
    for (const QByteArray& line : lines) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name)
            return line.mid(colon + 1).trimmed();
    }
    return QByteArray();
}

} // namespace

CompanionServer::CompanionServer(const QString& folder, QObject* parent)
    : QObject(parent), m_folder(folder), m_server(new QTcpServer(this)), m_log(folder + "/companion.log")
{
    connect(m_server, &QTcpServer::newConnection, this, &CompanionServer::onConnection);
}

CompanionServer::~CompanionServer() = default;

bool CompanionServer::listen(quint16 port, QString* error)
{
    if (!m_log.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = QStringLiteral("cannot open %1: %2").arg(m_log.fileName(), m_log.errorString());
        return false;
    }
    if (!m_server->listen(QHostAddress::LocalHost, port)) {
        *error = QStringLiteral("cannot listen on %1: %2").arg(port).arg(m_server->errorString());
        return false;
    }
    m_log.write(QStringLiteral("listening %1 pid %2\n").arg(port).arg(QCoreApplication::applicationPid()).toUtf8());
    m_log.flush();
    return true;
}

void CompanionServer::onConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] { onBytes(socket, *buffer); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void CompanionServer::onBytes(QTcpSocket* socket, QByteArray& buffer)
{
    buffer += socket->readAll();
    for (;;) {
        const int end = buffer.indexOf(kHeaderEnd);
        if (end < 0) {
            if (buffer.size() > kMaxMessageBytes)
                socket->abort();
            return;
        }
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        bool ok = false;
        const int length = headerValue(lines, "content-length").toInt(&ok);
        if (!ok || length < 0 || length > kMaxMessageBytes) {
            socket->abort();
            return;
        }
        const int total = end + kHeaderEnd.size() + length;
        if (buffer.size() < total)
            return;
        const QList<QByteArray> first = lines.first().trimmed().split(' ');
        const QByteArray body = buffer.mid(end + kHeaderEnd.size(), length);
        buffer.remove(0, total);
        if (first.size() < 2 || first.first().startsWith("HTTP/"))
            continue;   // answers to us are not expected
        const QByteArray uuid = headerValue(lines, "user-agent");
        socket->write(answer(first.at(1), uuid, body));
    }
}

QByteArray CompanionServer::answer(const QByteArray& url, const QByteArray& uuid, const QByteArray& body)
{
    const QJsonObject json = QJsonDocument::fromJson(body).object();
    // The id the report was sent under follows a tab, which compact JSON never holds.
    m_log.write(url + ' ' + QJsonDocument(json).toJson(QJsonDocument::Compact) + '\t' + uuid + '\n');
    m_log.flush();

    QJsonObject result;
    if (url.endsWith("/heartbeat")) {
        result = QJsonObject{{"cntserver", true}, {"register", true}, {"needokimg", false}, {"needvideo", false}};
        QFile flags(m_folder + "/companion.json");
        if (flags.open(QIODevice::ReadOnly)) {
            const QJsonObject wanted = QJsonDocument::fromJson(flags.readAll()).object();
            // A companion that hangs but lives: stopped, it answers nothing while the
            // kernel still takes connections for it.
            if (wanted.value(QStringLiteral("hang")).toBool()) {
                m_log.write("hanging\n");
                m_log.flush();
                ::raise(SIGSTOP);
            }
            for (auto it = wanted.begin(); it != wanted.end(); ++it)
                result.insert(it.key(), it.value());
        }
    }
    const QByteArray reply =
        QJsonDocument(QJsonObject{{"code", 0}, {"msg", "OK"}, {"result", result}}).toJson(QJsonDocument::Compact);
    QByteArray head = "HTTP/1.1 200 OK\r\nUser-Agent: " + uuid + "\r\nContent-Type: application/json\r\n";
    head += "Content-Length: " + QByteArray::number(reply.size()) + "\r\n\r\n";
    return head + reply;
}
