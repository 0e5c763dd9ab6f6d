#pragma once

#include <QTcpServer>

class CQTcpServer : public QTcpServer
{
    Q_OBJECT
public:
    explicit CQTcpServer(QObject* parent = nullptr) : QTcpServer(parent) {}

signals:
    void sigNewDescriptor(qintptr socketDescriptor);
};
