#pragma once

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

// Serves the monitor's link on 127.0.0.1: every POST is logged as one line
// "url compact-json"; heartbeats are answered with the flags of companion.json.
class CompanionServer : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 kDefaultPort = 10431;
    static constexpr int kMaxMessageBytes = 1024 * 1024;

    explicit CompanionServer(const QString& folder, QObject* parent = nullptr);
    ~CompanionServer() override;

    bool listen(quint16 port, QString* error);

private:
    void onConnection();
    void onBytes(QTcpSocket* socket, QByteArray& buffer);
    QByteArray answer(const QByteArray& url, const QByteArray& uuid, const QByteArray& body);

    QString m_folder;
    QTcpServer* m_server;
    QFile m_log;
};
