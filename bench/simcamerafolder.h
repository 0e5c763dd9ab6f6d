#pragma once

// The application folder of a benchmark on simulated cameras: a temporary
// folder made current, the built camera plug-in copied into Plugins/Cameras,
// the camera script written and "PARAM.db" open with its tables.

#include "globals.h"
#include "paramdatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QTemporaryDir>

inline bool prepareSimCameraFolder(const QTemporaryDir& dir, const QJsonArray& cameras)
{
    QDir::setCurrent(dir.path());
    gAppDirPath = dir.path();
    QDir().mkpath("Plugins/Cameras");
    QFile::copy(QCoreApplication::applicationDirPath() + "/Plugins/Cameras/libsimcamera.so",
                "Plugins/Cameras/libsimcamera.so");
    QFile script("simcamera.json");
    if (!script.open(QIODevice::WriteOnly))
        return false;
    script.write(QJsonDocument(QJsonObject{{"simulated", cameras}}).toJson());
    script.close();
    qputenv("MM_SIMCAMERA_CONFIG", dir.filePath("simcamera.json").toUtf8());
    qunsetenv("MM_SIMCAMERA_LOG");

    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", ParamDatabase::kConnectionName);
    db.setDatabaseName(ParamDatabase::kFileName);
    return db.open() && ParamDatabase::createTables(db);
}
