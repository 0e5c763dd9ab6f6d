#pragma once

#include "netlimits.h"
#include "sci_execobj_recv_base.h"

class QHostAddress;

// One received HTTP/1.1 message: header lines on construction, body as it
// arrives, decoded by its Content-Type into the record on completion.
class SCI_ExecObj_Recv : public SCI_ExecObj_Recv_Base
{
public:
    // header: the header block from the start line on, without the blank line.
    SCI_ExecObj_Recv(QByteArray header, int sessionId, const NetLimits& limits = NetLimits());

    void setDuplex_Info(QHostAddress address, unsigned short port);
    int getNeedLength() override;
    bool analysisIntegrality() override;
    CTask_FormData getFormData() override;

    // A header that must be refused: 0, or the HTTP status to answer (400, 413, 501).
    int errorStatus() const { return errorStatus_; }
    QString errorText() const { return errorText_; }
    bool isResponse() const { return method_ == QLatin1String("Response"); }
    QString uuid() const { return uuid_; }
    QString url() const { return url_; }
    qint64 contentLength() const { return contentLength_; }
    // The peer asked to end the connection after this message ("Connection: close").
    bool asksClose() const { return asksClose_; }
    // Decoding may take long (a multipart or a large body): not on a thread that serves others.
    bool decodesSlowly() const;

    static bool analysisIntegrality_json(const QByteArray& body, CTask_FormData& task);
    static bool analysisIntegrality_multipart(const QByteArray& boundary, const QByteArray& body, CTask_FormData& task);
    static bool analysisIntegrality_file(const QByteArray& body, CTask_FormData& task);
    static bool analysisIntegrality_Default(const QByteArray& body, CTask_FormData& task);

private:
    void parseHeader(const NetLimits& limits);
    void refuse(int status, const QString& text);

    int sessionId_;
    QString method_;
    QString url_;
    QString uuid_;
    QString userId_;
    QString contentType_;
    qint64 contentLength_ = 0;
    bool asksClose_ = false;
    CTask_FormData record_;
    int errorStatus_ = 0;
    QString errorText_;
};
