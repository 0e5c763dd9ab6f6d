#pragma once

#include <QTcpSocket>

class CQTcpSocket : public QTcpSocket
{
    Q_OBJECT
public:
    explicit CQTcpSocket(QObject* parent = nullptr) : QTcpSocket(parent) {}
};
