#include "camerafixture.h"

#include "fakeshellrunner.h"
#include "globals.h"
#include "languagetable.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

void CameraPluginTest::SetUp()
{
    gAppDirPath = appDir.path();
    LanguageTable::load();
    gLan = 1;
    shell = std::make_unique<FakeShellRunner>();
    window = std::make_unique<RecordingMainWindow>();
    gpWin = window.get();
    qputenv("MM_SIMCAMERA_CONFIG", appDir.filePath("simcamera.json").toUtf8());
    qunsetenv("MM_SIMCAMERA_LOG");
}

void CameraPluginTest::TearDown()
{
    gpWin = nullptr;
    window.reset();
    shell.reset();
    qunsetenv("MM_SIMCAMERA_CONFIG");
    gAppDirPath.clear();
}

void CameraPluginTest::installPlugin(const QString& name)
{
    const QString folder = name == QLatin1String("brokencamera") ? "/testplugins/" : "/bin/Plugins/Cameras/";
    const QString source = projectBinaryDir() + folder + "lib" + name + ".so";
    QDir().mkpath(appDir.filePath("Plugins/Cameras"));
    ASSERT_TRUE(QFile::copy(source, appDir.filePath("Plugins/Cameras/lib" + name + ".so"))) << source.toStdString();
}

void CameraPluginTest::writeScript(const QJsonArray& simulated, const QJsonArray& real)
{
    QJsonObject root{{"callLog", "calls.log"}, {"simulated", simulated}, {"real", real}};
    ASSERT_TRUE(appDir.writeFile("simcamera.json", QJsonDocument(root).toJson()));
}

QJsonObject CameraPluginTest::camera(const QString& serial, int width, int height)
{
    return QJsonObject{{"serial", serial}, {"width", width}, {"height", height}, {"fps", 1000}};
}

QStringList CameraPluginTest::callLog() const
{
    return QString::fromUtf8(appDir.readFile("calls.log")).split('\n', Qt::SkipEmptyParts);
}

QStringList CameraPluginTest::callsOf(const QString& who) const
{
    QStringList lines;
    for (const QString& line : callLog()) {
        if (line.startsWith(who + ' '))
            lines << line.mid(who.size() + 1);
    }
    return lines;
}
