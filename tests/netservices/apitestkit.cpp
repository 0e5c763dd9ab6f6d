#include "apitestkit.h"

#include "clock.h"
#include "globals.h"
#include "httpapiserver.h"
#include "vek_netmn.h"
#include "viewwatch2zel.h"

#include <QEventLoop>
#include <QJsonDocument>
#include "groupprocess.h"
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// The hub outlives every test. It goes when the tests are over, while the
// application still exists: its network threads would otherwise run on into
// the end of the process and wake while its statics are torn down.
class HubEnvironment : public ::testing::Environment
{
    void TearDown() override { VEK_NETMN::endInstance(); }
};
::testing::Environment* const kHubEnvironment = ::testing::AddGlobalTestEnvironment(new HubEnvironment);

} // namespace

QMutex LogCount::s_lock;
QList<LogCount*> LogCount::s_counting;

LogCount::LogCount(const char* text, QtMsgType type) : m_text(text), m_type(type)
{
    QMutexLocker lock(&s_lock);
    s_counting.append(this);
    m_previous = qInstallMessageHandler(&LogCount::handle);
}

LogCount::~LogCount()
{
    qInstallMessageHandler(m_previous);
    QMutexLocker lock(&s_lock);
    s_counting.removeOne(this);
}

QStringList LogCount::messages() const
{
    QMutexLocker lock(&s_lock);
    return m_messages;
}

void LogCount::handle(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    QMutexLocker lock(&s_lock);
    for (LogCount* counter : qAsConst(s_counting)) {
        if (type == counter->m_type && message.contains(QLatin1String(counter->m_text)))
            counter->m_messages.append(message);
    }
}

StandInWindow::StandInWindow()
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QString::fromLatin1(kConnection));
    db.setDatabaseName(QStringLiteral("RECORD.db"));
    db.open();
    createRecordTable(db);
}

StandInWindow::~StandInWindow()
{
    {
        QSqlDatabase db = QSqlDatabase::database(QString::fromLatin1(kConnection), false);
        db.close();
    }
    QSqlDatabase::removeDatabase(QString::fromLatin1(kConnection));
}

QSqlDatabase StandInWindow::recordDatabase() const
{
    return QSqlDatabase::database(QString::fromLatin1(kConnection), false);
}

void StandInWindow::createRecordTable(QSqlDatabase db)
{
    QSqlQuery(db).exec(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT, recordtype TEXT)"));
}

void StandInWindow::addRecord(QSqlDatabase db, const QString& time, const QString& level, const QString& text,
                              const QString& type)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT INTO RECORD VALUES (?, ?, ?, ?)"));
    for (const QString& v : {time, level, text, type})
        query.addBindValue(v);
    EXPECT_TRUE(query.exec()) << query.lastError().text().toStdString();
}

void StandInWindow::InsertRecord(QString text, QString type)
{
    inserted << QStringList{text, type};
    addRecord(recordDatabase(), Clock::now().toString(QStringLiteral("hh.mm.ss")), QStringLiteral("未登录"), text,
              type);
}

ClientResult runClient(const QString& program, const QStringList& args, int timeoutMs)
{
    ClientResult result;
    GroupProcess process;
    QEventLoop loop;
    QObject::connect(&process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    process.start(program, args);
    loop.exec();
    if (process.state() != QProcess::NotRunning) {
        process.endGroup();
        return result;
    }
    result.finished = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QJsonObject HttpReply::json() const
{
    return QJsonDocument::fromJson(body).object();
}

QJsonObject HttpReply::result() const
{
    return json().value("result").toObject();
}

HttpReply parseCurl(const QByteArray& raw)
{
    HttpReply reply;
    const int end = raw.indexOf("\r\n\r\n");
    if (end < 0)
        return reply;
    const QList<QByteArray> lines = raw.left(end).split('\n');
    reply.statusLine = lines.first().trimmed();
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        if (colon > 0)
            reply.headers.insert(lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
    }
    reply.body = raw.mid(end + 4);
    reply.ok = true;
    return reply;
}

void ApiTest::SetUp()
{
    numCamera = 2;
    gDNum = 2;
    gDeviceID = QStringLiteral("SN-TEST-1");
    for (int i = 0; i < kMaxCameras; ++i)
        gAllNum[i] = gFailNum[i] = gAllCycleNum[i] = gFailCycleNum[i] = 0;
    gSyncNGNum = gSyncNGCycleNum = 0;
    window = std::make_unique<StandInWindow>();
    gpWin = window.get();
    takeHub();
    configure(true);
}

void ApiTest::takeHub()
{
    hub = VEK_NETMN::getInstance();
    // The hub outlives each test: what no restart empties is emptied here.
    hub->firstCycleResult.clear();
    hub->alarmTime.clear();
    hub->apiServer()->setListenAddress(QHostAddress::LocalHost, 0);
    // The companion link never reaches a companion of the host's port.
    hub->companionLink()->setCompanion(QString::fromLatin1(ViewWatch2ZEL::kCompanionProgram), freePort());
}

quint16 ApiTest::freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

void ApiTest::TearDown()
{
    // No push may run on past the test (nor into the end of the process).
    hub->apiServer()->endPushes();
    // Networking off ends the companion this test started and frees the video share.
    hub->setWorkTask(false, false, false);
    hub->companionLink()->init();
    gpWin = nullptr;
    window.reset();
    Clock::reset();
}

void ApiTest::configure(bool api, bool net, const QJsonObject& extra)
{
    QJsonObject config{{"devicename", "dev1"},
                       {"device_worknetfunc", net},
                       {"device_workvideo", false},
                       {"device_workapifunc", api}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        config.insert(it.key(), it.value());
    ASSERT_TRUE(appDir.writeFile(QStringLiteral("cnt_net/config.json"), QJsonDocument(config).toJson()));
    hub->initStart();
    port = hub->apiServer()->serverPort();
    ASSERT_NE(port, 0);
}

QString ApiTest::url(const QString& route) const
{
    return QStringLiteral("http://127.0.0.1:%1/v18/http/%2").arg(port).arg(route);
}

HttpReply ApiTest::post(const QString& route, const QByteArray& body)
{
    // A hung answer still fails; a query a loaded machine runs slowly still arrives.
    const ClientResult r = runClient(QStringLiteral("curl"),
                                     {"-s", "-i", "--max-time", QString::number(kReplyTimeoutMs / 1000), "-H",
                                      "Content-Type: application/json", "--data-binary", QString::fromUtf8(body),
                                      url(route)},
                                     kReplyTimeoutMs + 30000);
    EXPECT_TRUE(r.finished && r.exitCode == 0) << r.err.toStdString();
    return parseCurl(r.out);
}

void ApiTest::runCycle(const QList<QList<int>>& rois)
{
    hub->start_PeriodRecord();
    for (const QList<int>& r : rois) {
        param_roi roi;
        roi.camera = r.at(0);
        roi.group = r.at(1);
        roi.roi = r.at(2);
        roi.result = r.at(3);
        hub->insertRoiResult(roi);
    }
    hub->finish_PeriodRecord();
}
