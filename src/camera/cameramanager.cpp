#include "cameramanager.h"

#include "choosebox.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "shellrunner.h"
#include "warnbox.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QPluginLoader>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <algorithm>

namespace {

const char* const kConnectionName = "dbT";
const char* const kSerialDatabase = "SN.db";
const char* const kPluginsFolder = "Plugins";
const char* const kCamerasFolder = "Cameras";
const char* const kInterfaceId = CameraInterface_iid;

// Language rows.
constexpr int kRowParameterFileError = 160;
constexpr int kRowCameraUnavailable = 134;
constexpr int kRowCameraCountChanged = 360;

QString serialText(const _cameraInfo& info) { return QString::fromUtf8(info.serial()); }

QString applicationDirectory()
{
    return gAppDirPath.isEmpty() ? QCoreApplication::applicationDirPath() : gAppDirPath;
}

}  // namespace

CameraManager* CameraManager::_instance = nullptr;

CameraManager::CameraManager() = default;
// Only tests delete the manager; the program keeps it for its whole run.
CameraManager::~CameraManager()
{
    query.reset();
    if (database) {
        database->close();
        database.reset();
        QSqlDatabase::removeDatabase(kConnectionName);
    }
}

CameraManager* CameraManager::getInstance()
{
    if (!_instance)
        _instance = new CameraManager();
    return _instance;
}

void CameraManager::loadPlugins()
{
    qInfo() << "Start loading plugins.";
    QDir dir(applicationDirectory());
    if (!dir.cd(kPluginsFolder) || !dir.cd(kCamerasFolder))
        return;
    qDebug() << "Loading camera plugins.";

    const QStringList files = dir.entryList({QStringLiteral("*.so")}, QDir::Files, QDir::Unsorted);
    for (const QString& fileName : files) {
        auto* loader = new QPluginLoader(dir.absoluteFilePath(fileName));
        loaders.append(loader);
        QObject* instance = loader->instance();
        if (!loader->isLoaded())
            qWarning().noquote() << "Cameras plugins load fail:" << fileName << loader->errorString();
        if (!instance)
            continue;
        if (auto* plugin = qobject_cast<CameraInterface*>(instance)) {
            qInfo().noquote() << "Cameras plugins " + fileName + " load sucess.";
            plugins.append(plugin);
        } else {
            qWarning().noquote() << "Cameras plugins load fail:" << fileName << "not" << kInterfaceId;
        }
    }
}

void CameraManager::loadCameraSN()
{
    database = std::make_unique<QSqlDatabase>(QSqlDatabase::addDatabase("QSQLITE", kConnectionName));
    database->setDatabaseName(kSerialDatabase);
    if (!database->open()) {
        qWarning() << "cannot open" << kSerialDatabase;
        if (gpWarnBox) {
            gpWarnBox->setText(lanText(kRowParameterFileError));
            gpWarnBox->exec();
        }
        runProgram("cp", {"-f", "./paraGroup/default/SN.db", "./"});
        runProgram("sync", {});
        runProgram("reboot", {});
    }
    query = std::make_unique<QSqlQuery>(*database);
    // An empty file has no table; without it the order could never be saved.
    query->exec("create table if not exists sysparam (name text, value text)");

    savedSerials.clear();
    for (int i = 0; i < kMaxSavedSerials; ++i) {
        const QString name = QStringLiteral("serialNB%1").arg(i);
        query->prepare("select value from sysparam where name = ?");
        query->addBindValue(name);
        if (query->exec() && query->next()) {
            const QString value = query->value(0).toString();
            if (value.size() >= kMinSerialLength && value.size() <= kMaxSerialLength)
                savedSerials.append(value);
        } else {
            query->prepare("insert into sysparam (name, value) values (?, '0')");
            query->addBindValue(name);
            query->exec();
        }
    }
}

void CameraManager::findCameras()
{
    cameras.clear();
    QVector<_cameraInfo> simulated;
    for (CameraInterface* plugin : qAsConst(plugins)) {
        const QVector<_cameraInfo> found = plugin->findCameras();
        qInfo().noquote() << plugin->name() << "find camera count:" << found.size();
        if (plugin->cameraType() != 0)
            cameras += found;
        else
            simulated += found;
    }
    simulation = false;
    if (cameras.isEmpty()) {
        cameras = simulated;
        simulation = true;
    }
}

void CameraManager::findSumulateCameras()
{
    simulation = true;
    cameras.clear();
    for (CameraInterface* plugin : qAsConst(plugins)) {
        if (plugin->cameraType() == 0)
            cameras += plugin->findCameras();
    }
}

void CameraManager::sortCamera()
{
    qInfo() << "sortCamera";
    QVector<_cameraInfo> remaining = cameras;
    QVector<_cameraInfo> sorted;
    for (const QString& serial : qAsConst(savedSerials)) {
        qInfo().noquote() << serial;
        for (int i = remaining.size() - 1; i >= 0; --i) {
            if (serialText(remaining.at(i)) == serial) {
                sorted.append(remaining.at(i));
                remaining.remove(i);
            }
        }
    }
    sorted += remaining;
    cameras = sorted;
}

void CameraManager::updateSerial(int position, const QString& serial)
{
    if (!query)
        return;
    query->prepare("update sysparam set value = ? where name = ?");
    query->addBindValue(serial);
    query->addBindValue(QStringLiteral("serialNB%1").arg(position));
    query->exec();
}

void CameraManager::saveCameraSN()
{
    qInfo() << "saveCameraSN";
    int i = 0;
    for (; i < savedSerials.size(); ++i) {
        qInfo().noquote() << savedSerials.at(i);
        updateSerial(i, savedSerials.at(i));
        if (gpWin)
            gpWin->InsertRecord(QStringLiteral("Save SN %1: %2").arg(i + 1).arg(savedSerials.at(i)), "info");
    }
    for (; i < kMaxSavedSerials; ++i)
        updateSerial(i, QStringLiteral("0"));
}

void CameraManager::resetCameraSN()
{
    savedSerials.clear();
    for (const _cameraInfo& info : qAsConst(cameras))
        savedSerials.append(serialText(info));
}

bool CameraManager::resortCameraSN(QVector<int> order)
{
    const int n = qMin(cameras.size(), order.size());
    QVector<int> check = order.mid(0, n);
    std::sort(check.begin(), check.end());
    for (int i = 0; i < n; ++i) {
        if (check.at(i) != i) {
            qWarning() << "resortCameraSN: not a camera order" << order;
            return false;
        }
    }
    savedSerials.clear();
    savedSerials.resize(n);
    for (int i = 0; i < n; ++i)
        savedSerials[order.at(i)] = serialText(cameras.at(i));
    saveCameraSN();
    return true;
}

void CameraManager::checkCameraCount()
{
    auto ask = [](int row) {
        ChooseBox box(nullptr, gShowW, gShowH);
        box.setText(lanText(row));
        return box.exec() == 1;
    };
    if (simulation) {
        if (ask(kRowCameraUnavailable)) {
            resetCameraSN();
            saveCameraSN();
        }
        return;
    }
    if (!savedSerials.isEmpty() && cameras.size() != savedSerials.size()) {
        if (ask(kRowCameraCountChanged)) {
            resetCameraSN();
            saveCameraSN();
            // The window's reboot closes the stores first and gives them back should it return.
            if (gpWin)
                gpWin->rebootSystem();
            else
                runProgram("reboot", {});
        }
    }
}

CameraInterface* CameraManager::createCamera(_cameraInfo info)
{
    CameraInterface* camera = nullptr;
    for (CameraInterface* plugin : qAsConst(plugins)) {
        if (plugin->name() == info.pluginName)
            camera = plugin->createCamera(info);
    }
    return camera;
}
