#pragma once

#include "mainwindowbase.h"
#include "qttesthelpers.h"
#include "tempappdir.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <memory>

class VEK_NETMN;

// Keeps the messages of a type (warnings by default) that hold a text while it lives; pushes log
// from their own thread. Several may count at once.
class LogCount
{
public:
    explicit LogCount(const char* text, QtMsgType type = QtWarningMsg);
    ~LogCount();
    int count() const { return messages().size(); }
    QStringList messages() const;

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message);
    static QMutex s_lock;
    static QList<LogCount*> s_counting;
    const char* m_text;
    QtMsgType m_type;
    QStringList m_messages;
    QtMessageHandler m_previous = nullptr;
};

// The main window as the API sees it: run and result state, today's record
// database in the test folder, and the services it calls, recorded.
class StandInWindow : public MainWindowBase
{
public:
    static constexpr const char* kConnection = "netservices-test-record";

    StandInWindow();
    ~StandInWindow() override;

    QSqlDatabase recordDatabase() const override;
    // Appends a record with the current time of day, as the shell does.
    void InsertRecord(QString text, QString type) override;
    void CountWrite() override { ++countWrites; }

    // Adds a row to a RECORD table (today's or an archived day's file).
    static void addRecord(QSqlDatabase db, const QString& time, const QString& level, const QString& text,
                          const QString& type);
    static void createRecordTable(QSqlDatabase db);

    int countWrites = 0;
    QList<QStringList> inserted;   // {text, type}
};

// An external program run while this thread keeps serving events (the API
// handlers run in this thread).
struct ClientResult
{
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};
ClientResult runClient(const QString& program, const QStringList& args, int timeoutMs = 60000);

// One HTTP exchange seen by curl: status line, headers (lower-case names) and body.
struct HttpReply
{
    bool ok = false;
    QByteArray statusLine;
    QMap<QByteArray, QByteArray> headers;
    QByteArray body;
    QJsonObject json() const;
    QJsonObject result() const;
};
HttpReply parseCurl(const QByteArray& raw);

// A temporary application folder with "cnt_net/config.json", the stand-in main
// window and the hub's API listening on 127.0.0.1 at a free port.
class ApiTest : public AppDirTest
{
protected:
    void SetUp() override;
    void TearDown() override;

    // The hub, emptied of what an earlier test left and pointed at loopback: the API at
    // a free port, the companion link at a port where no companion listens.
    void takeHub();
    // Rewrites the settings file and restarts the hub from it.
    void configure(bool api, bool net = false, const QJsonObject& extra = QJsonObject());
    QString url(const QString& route) const;
    // POSTs a JSON body (as text) with curl -i.
    // Posts with curl, which gives up after kReplyTimeoutMs.
    static constexpr int kReplyTimeoutMs = 60000;
    HttpReply post(const QString& route, const QByteArray& body = QByteArray("{}"));
    // A whole decided cycle through the hub; ROI results as {camera, detect, roi, result}.
    void runCycle(const QList<QList<int>>& rois);

    // A loopback port nothing listens on at the moment.
    static quint16 freePort();

    VEK_NETMN* hub = nullptr;
    std::unique_ptr<StandInWindow> window;
    quint16 port = 0;
};
