#include "tcptsk_info.h"

#include "clock.h"

TcpTsk_Info::TcpTsk_Info(QString const& uuid_) : create_timing(Clock::nowMSecsSinceEpoch()), uuid(uuid_) {}

QMap<QString, QVariant> TcpTsk_Info::getReportParam() const
{
    QMap<QString, QVariant> m;
    m.insert("_tsk_url", url);
    m.insert("_tsk_uuid", uuid);
    m.insert("_tsk_recvpacklength", recvpacklength);
    m.insert("_tsk_create_timing", create_timing);
    m.insert("_tsk_firstrecv_timing", firstrecv_timing);
    m.insert("_tsk_finishrecv_timing", finishrecv_timing);
    m.insert("_tsk_finishact_timing", finishact_timing);
    m.insert("_tsk_recv_times", recv_times);
    return m;
}

void TcpTsk_Info::tskup_chg_recvpacklength(QList<QVariant> args)
{
    if (!args.isEmpty() && args.first().userType() == QMetaType::Int)
        recvpacklength = args.first().toInt();
}
