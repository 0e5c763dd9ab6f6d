#include "camerafixture.h"

#include "cameramanager.h"
#include "choosebox.h"
#include "fakeshellrunner.h"
#include "globals.h"
#include "modalanswerer.h"

#include <QFile>
#include <QPluginLoader>
#include <QPointer>
#include <QTest>
#include <cstring>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

namespace {

QStringList serials(const QVector<_cameraInfo>& cameras)
{
    QStringList list;
    for (const _cameraInfo& info : cameras)
        list << QString::fromUtf8(info.serial());
    return list;
}

QJsonArray cameraList(const QStringList& serialList)
{
    QJsonArray array;
    for (const QString& serial : serialList)
        array.append(QJsonObject{{"serial", serial}, {"width", 32}, {"height", 24}});
    return array;
}

// Reads "SN.db" as another program would, outside the manager's connection.
QMap<QString, QString> storedSerials(const QString& path)
{
    QMap<QString, QString> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "snReader");
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            q.exec("select name, value from sysparam");
            while (q.next())
                rows.insert(q.value(0).toString(), q.value(1).toString());
        }
    }
    QSqlDatabase::removeDatabase("snReader");
    return rows;
}

void writeSerialDb(const QString& path, const QStringList& values)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "snWriter");
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        q.exec("create table sysparam (name text, value text)");
        for (int i = 0; i < values.size(); ++i) {
            q.prepare("insert into sysparam values (?, ?)");
            q.addBindValue(QString("serialNB%1").arg(i));
            q.addBindValue(values.at(i));
            q.exec();
        }
    }
    QSqlDatabase::removeDatabase("snWriter");
}

// Answers the next question box and remembers its text.
struct QuestionAnswer
{
    QString text;
    bool asked = false;
};

ModalAnswerer* answerQuestion(QuestionAnswer* answer, int result, int timeoutMs = 3000)
{
    return new ModalAnswerer([answer, result](QWidget* modal) {
        answer->asked = true;
        if (auto* box = dynamic_cast<ChooseBox*>(modal))
            answer->text = box->text();
        static_cast<QDialog*>(modal)->done(result);
    }, timeoutMs);
}

// The log lines written while it lives (type letter and text).
class LogCapture
{
public:
    LogCapture() { m_previous = qInstallMessageHandler(&LogCapture::handle); }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    static QStringList lines;

private:
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        static const char kTypes[] = {'D', 'W', 'C', 'F', 'I'};
        lines << QString(QChar(kTypes[type])) + ' ' + text;
    }
    QtMessageHandler m_previous = nullptr;
};
QStringList LogCapture::lines;

}  // namespace

class CameraManagerTest : public CameraPluginTest
{
protected:
    void TearDown() override
    {
        manager.reset();
        CameraPluginTest::TearDown();
    }
    std::unique_ptr<CameraManager> manager = std::make_unique<CameraManager>();
};

TEST_F(CameraManagerTest, LoadsPluginFilesAndSkipsBrokenOnes)
{
    installPlugin("simcamera");
    installPlugin("simrealcamera");
    installPlugin("brokencamera");
    ASSERT_TRUE(appDir.writeFile("Plugins/Cameras/junk.so", "not a library"));
    ASSERT_TRUE(appDir.writeFile("Plugins/Cameras/readme.txt", "ignored"));
    writeScript(cameraList({"SIM-00000001"}), cameraList({"REAL-0000001"}));

    LogCapture::lines.clear();
    {
        LogCapture capture;
        manager->loadPlugins();
    }
    EXPECT_EQ(LogCapture::lines.first(), "I Start loading plugins.");
    EXPECT_TRUE(LogCapture::lines.contains("I Cameras plugins libsimcamera.so load sucess."));
    EXPECT_TRUE(LogCapture::lines.contains("I Cameras plugins libsimrealcamera.so load sucess."));
    const QStringList junk = LogCapture::lines.filter("W Cameras plugins load fail: junk.so ");
    ASSERT_EQ(junk.size(), 1);
    EXPECT_GT(junk.first().size(), QString("W Cameras plugins load fail: junk.so ").size());  // the loader's reason
    EXPECT_EQ(manager->loaders.size(), 4);  // every *.so is tried and kept
    QStringList names;
    for (CameraInterface* plugin : manager->plugins)
        names << plugin->name();
    names.sort();
    EXPECT_EQ(names, QStringList({"SimCamera", "SimRealCamera"}));
    int loaded = 0;
    for (QPluginLoader* loader : manager->loaders)
        loaded += loader->isLoaded() ? 1 : 0;
    EXPECT_EQ(loaded, 2);
}

TEST_F(CameraManagerTest, MissingPluginFolderGivesNoCameras)
{
    ASSERT_TRUE(appDir.writeFile("Plugins/readme.txt", "no Cameras folder"));
    LogCapture::lines.clear();
    {
        LogCapture capture;
        manager->loadPlugins();
    }
    EXPECT_EQ(LogCapture::lines, QStringList({"I Start loading plugins."}));
    manager->findCameras();
    EXPECT_TRUE(manager->loaders.isEmpty());
    EXPECT_TRUE(manager->plugins.isEmpty());
    EXPECT_TRUE(manager->cameras.isEmpty());
}

TEST_F(CameraManagerTest, RealCamerasComeFirstAndSimulatedOnesStandIn)
{
    installPlugin("simcamera");
    installPlugin("simrealcamera");
    writeScript(cameraList({"SIM-00000001", "SIM-00000002"}), cameraList({"REAL-0000001"}));
    manager->loadPlugins();

    manager->findCameras();
    EXPECT_FALSE(manager->simulation);
    EXPECT_EQ(serials(manager->cameras), QStringList({"REAL-0000001"}));
    EXPECT_EQ(manager->cameras.first().pluginName, QString("SimRealCamera"));

    manager->findSumulateCameras();
    EXPECT_TRUE(manager->simulation);
    EXPECT_EQ(serials(manager->cameras), QStringList({"SIM-00000001", "SIM-00000002"}));

    writeScript(cameraList({"SIM-00000001"}), QJsonArray());
    manager->findCameras();
    EXPECT_TRUE(manager->simulation);
    EXPECT_EQ(serials(manager->cameras), QStringList({"SIM-00000001"}));
    EXPECT_TRUE(callsOf("plugin:SimRealCamera").contains("findCameras 0"));
}

TEST_F(CameraManagerTest, SavedOrderPutsKnownCamerasFirst)
{
    writeSerialDb(appDir.filePath("SN.db"), {"0", "SERIAL-A1", "0", "SERIAL-B2"});
    installPlugin("simrealcamera");
    writeScript(QJsonArray(), cameraList({"SERIAL-C3", "SERIAL-B2", "SERIAL-D4", "SERIAL-A1"}));
    manager->loadPlugins();
    manager->loadCameraSN();
    EXPECT_EQ(manager->savedSerials, QVector<QString>({"SERIAL-A1", "SERIAL-B2"}));
    manager->findCameras();
    manager->sortCamera();
    EXPECT_EQ(serials(manager->cameras), QStringList({"SERIAL-A1", "SERIAL-B2", "SERIAL-C3", "SERIAL-D4"}));
    // The missing rows 4..7 were added with "0".
    const auto rows = storedSerials(appDir.filePath("SN.db"));
    EXPECT_EQ(rows.size(), 8);
    EXPECT_EQ(rows.value("serialNB7"), QString("0"));
}

TEST_F(CameraManagerTest, DuplicateSerialsMoveToTheFrontLaterFoundFirst)
{
    writeSerialDb(appDir.filePath("SN.db"), {"SERIAL-B2"});
    manager->loadCameraSN();
    for (const auto& [serial, id] : {std::pair<const char*, int>{"SERIAL-A1", 0}, {"SERIAL-B2", 1}, {"SERIAL-B2", 2}}) {
        _cameraInfo info;
        info.id = id;
        info.setSerial(serial);
        manager->cameras << info;
    }
    manager->sortCamera();
    ASSERT_EQ(manager->cameras.size(), 3);
    EXPECT_EQ(manager->cameras[0].id, 2);
    EXPECT_EQ(manager->cameras[1].id, 1);
    EXPECT_EQ(manager->cameras[2].id, 0);
}

TEST_F(CameraManagerTest, MissingSerialFileIsCreatedAndOrderSurvivesRestart)
{
    installPlugin("simrealcamera");
    writeScript(QJsonArray(), cameraList({"SERIAL-X1", "O'Brien-Cam-7"}));
    manager->loadPlugins();
    manager->loadCameraSN();
    EXPECT_TRUE(manager->savedSerials.isEmpty());
    manager->findCameras();
    manager->resetCameraSN();
    manager->saveCameraSN();

    const auto rows = storedSerials(appDir.filePath("SN.db"));
    EXPECT_EQ(rows.value("serialNB0"), QString("SERIAL-X1"));
    EXPECT_EQ(rows.value("serialNB1"), QString("O'Brien-Cam-7"));  // bound, not pasted into the statement
    EXPECT_EQ(rows.value("serialNB2"), QString("0"));
    ASSERT_EQ(window->records.size(), 2);
    EXPECT_EQ(window->records[1].text, QString("Save SN 2: O'Brien-Cam-7"));
    EXPECT_EQ(window->records[1].type, QString("info"));

    manager = std::make_unique<CameraManager>();
    manager->loadCameraSN();
    EXPECT_EQ(manager->savedSerials, QVector<QString>({"SERIAL-X1", "O'Brien-Cam-7"}));
}

TEST_F(CameraManagerTest, ResortAcceptsOnlyAPermutation)
{
    manager->loadCameraSN();
    for (const char* serial : {"SERIAL-A1", "SERIAL-B2", "SERIAL-C3"}) {
        _cameraInfo info;
        info.setSerial(serial);
        manager->cameras << info;
    }
    manager->resetCameraSN();
    const QVector<QString> before = manager->savedSerials;
    EXPECT_FALSE(manager->resortCameraSN({0, 0, 1}));
    EXPECT_FALSE(manager->resortCameraSN({0, 7, 1}));
    EXPECT_FALSE(manager->resortCameraSN({-1, 0, 1}));
    EXPECT_EQ(manager->savedSerials, before);
    EXPECT_TRUE(window->records.isEmpty());

    ASSERT_TRUE(manager->resortCameraSN({2, 0, 1}));
    EXPECT_EQ(manager->savedSerials, QVector<QString>({"SERIAL-B2", "SERIAL-C3", "SERIAL-A1"}));
    EXPECT_EQ(storedSerials(appDir.filePath("SN.db")).value("serialNB2"), QString("SERIAL-A1"));
}

TEST(CameraInfo, SerialIsBoundedAndTerminated)
{
    _cameraInfo info;
    info.setSerial(QByteArray(400, 'x'));
    EXPECT_EQ(info.serial().size(), _cameraInfo::kSerialBlockSize - 1);
    EXPECT_EQ(info.serialNumber[_cameraInfo::kSerialBlockSize - 1], '\0');
    // A plug-in that fills the whole block without terminator is read within it.
    std::memset(info.serialNumber, 'y', sizeof info.serialNumber);
    EXPECT_EQ(info.serial().size(), _cameraInfo::kSerialBlockSize);
    info.setSerial("abc");
    EXPECT_EQ(info.serial(), QByteArray("abc"));
}

TEST_F(CameraManagerTest, SimulationAsksToForgetTheSavedOrder)
{
    installPlugin("simcamera");
    writeScript(cameraList({"SIM-00000001", "SIM-00000002"}), QJsonArray());
    writeSerialDb(appDir.filePath("SN.db"), {"SERIAL-OLD1"});
    manager->loadPlugins();
    manager->loadCameraSN();
    manager->findCameras();
    ASSERT_TRUE(manager->simulation);

    QuestionAnswer no;
    answerQuestion(&no, 0);
    manager->checkCameraCount();
    EXPECT_TRUE(no.asked);
    EXPECT_EQ(no.text, lanText(134));
    EXPECT_EQ(storedSerials(appDir.filePath("SN.db")).value("serialNB0"), QString("SERIAL-OLD1"));

    QuestionAnswer yes;
    answerQuestion(&yes, 1);
    manager->checkCameraCount();
    const auto rows = storedSerials(appDir.filePath("SN.db"));
    EXPECT_EQ(rows.value("serialNB0"), QString("SIM-00000001"));
    EXPECT_EQ(rows.value("serialNB1"), QString("SIM-00000002"));
    EXPECT_FALSE(shell->ran("reboot"));
}

TEST_F(CameraManagerTest, ChangedCameraCountAsksAndRebootsOnYes)
{
    installPlugin("simrealcamera");
    writeScript(QJsonArray(), cameraList({"SERIAL-A1", "SERIAL-B2"}));
    manager->loadPlugins();
    manager->findCameras();

    // Nothing saved: no question at all.
    manager->loadCameraSN();
    QuestionAnswer none;
    // Its time counts in polls, which a loaded machine runs late: gone before the next question.
    QPointer<ModalAnswerer> unasked = answerQuestion(&none, 1, 300);
    manager->checkCameraCount();
    QTest::qWait(400);
    EXPECT_FALSE(none.asked);
    delete unasked.data();

    manager = std::make_unique<CameraManager>();
    QFile::remove(appDir.filePath("SN.db"));
    writeSerialDb(appDir.filePath("SN.db"), {"SERIAL-A1"});
    manager->loadPlugins();
    manager->loadCameraSN();
    manager->findCameras();
    QuestionAnswer no;
    answerQuestion(&no, 0);
    manager->checkCameraCount();
    EXPECT_EQ(no.text, lanText(360));
    EXPECT_FALSE(shell->ran("reboot"));
    EXPECT_EQ(window->flushCount, 0);
    EXPECT_EQ(window->reboots, 0);

    QuestionAnswer yes;
    answerQuestion(&yes, 1);
    manager->checkCameraCount();
    EXPECT_EQ(window->reboots, 1);  // the window's reboot, which gives the stores back should it return
    EXPECT_EQ(storedSerials(appDir.filePath("SN.db")).value("serialNB1"), QString("SERIAL-B2"));
}

TEST_F(CameraManagerTest, CreatesCamerasThroughTheNamedPlugin)
{
    installPlugin("simcamera");
    installPlugin("simrealcamera");
    writeScript(cameraList({"SIM-00000001"}), cameraList({"REAL-0000001"}));
    manager->loadPlugins();
    manager->findCameras();
    ASSERT_EQ(manager->cameras.size(), 1);
    CameraInterface* camera = manager->createCamera(manager->cameras.first());
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->cameraType(), 1);

    _cameraInfo stranger = manager->cameras.first();
    stranger.pluginName = "NoSuchPlugin";
    EXPECT_EQ(manager->createCamera(stranger), nullptr);
    EXPECT_TRUE(callsOf("plugin:SimRealCamera").contains("createCamera REAL-0000001"));
}
