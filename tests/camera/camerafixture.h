#pragma once

#include "mainwindowbase.h"
#include "tempappdir.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QPoint>
#include <QStringList>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>

// Readable failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os) { *os << "[" << l.join(" | ").toStdString() << "]"; }

#include "fakeshellrunner.h"

// The main window as the camera code sees it: records what it is told.
class RecordingMainWindow : public MainWindowBase
{
public:
    struct Record { QString text; QString type; };
    QList<Record> records;
    int flushCount = 0;
    int lostCount = 0;

    void InsertRecord(QString text, QString type) override { records.append({text, type}); }
    void FLushAll() override { ++flushCount; }
    void LostCamera() override { ++lostCount; }

    QList<QPoint> pans;  // arguments of updateMScale: the drag movement
    void updateMScale(int x, int y) override { pans.append(QPoint(x, y)); }

    QStringList pathContext;
    QStringList getPathContext() const override { return pathContext; }

    QList<QPair<int, int>> templateSyncs;  // (camera, detection) of each report
    void syncTemplates(int camera, int detection) override { templateSyncs.append({camera, detection}); }

    int reboots = 0;
    QList<int> languageChanges;
    void rebootSystem() override { ++reboots; }
    void changeLanguage(int language) override { languageChanges.append(language); }
};

// A temporary application folder with the built camera plug-ins copied into
// Plugins/Cameras, a camera script and its call log.
class CameraPluginTest : public AppDirTest
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Copies a built plug-in ("simcamera", "simrealcamera", "brokencamera") into Plugins/Cameras.
    void installPlugin(const QString& name);
    // Writes the script: cameras of the simulated and of the real-type build.
    void writeScript(const QJsonArray& simulated, const QJsonArray& real);
    static QJsonObject camera(const QString& serial, int width = 64, int height = 48);

    QStringList callLog() const;
    // Lines of the call log for one camera (without the serial) or one plug-in.
    QStringList callsOf(const QString& who) const;

    std::unique_ptr<FakeShellRunner> shell;
    std::unique_ptr<RecordingMainWindow> window;
};
