#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>

// Timing of one network message while it is in flight (milliseconds since the epoch).
class TcpTsk_Info
{
public:
    explicit TcpTsk_Info(QString const& uuid);

    QMap<QString, QVariant> getReportParam() const;
    // Takes the announced body length from the first element when it holds an int.
    void tskup_chg_recvpacklength(QList<QVariant> args);

    QString url;
    qint64 create_timing;
    qint64 firstrecv_timing = -1;
    qint64 finishrecv_timing = -1;
    qint64 finishact_timing = -1;
    qint64 recv_times = -1;
    QString uuid;
    int recvpacklength = -1;
};
