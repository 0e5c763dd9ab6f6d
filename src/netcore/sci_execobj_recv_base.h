#pragma once

#include "ctask_formdata.h"

#include <QByteArray>
#include <QString>

// A received message while it is framed and decoded.
class SCI_ExecObj_Recv_Base
{
public:
    virtual ~SCI_ExecObj_Recv_Base() = default;
    virtual void addBody(QByteArray bytes) { body_.append(bytes); }
    virtual QByteArray showBody() { return body_; }
    virtual QString showHead() { return head_; }
    virtual int getNeedLength() = 0;
    virtual bool analysisIntegrality() = 0;
    virtual CTask_FormData getFormData() = 0;

protected:
    QString head_;
    QByteArray body_;
};
