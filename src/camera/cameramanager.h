#pragma once

#include "camerainterface.h"

#include <QString>
#include <QVector>
#include <memory>

class QPluginLoader;
class QSqlDatabase;
class QSqlQuery;

// Finds the cameras through the camera plug-ins, keeps them in a stable
// order (the serials saved in "SN.db") and creates the camera objects.
// One instance, reached through _instance, created by its first user and
// never deleted. GUI thread only.
class CameraManager
{
public:
    static constexpr int kMaxSavedSerials = 8;
    static constexpr int kMinSerialLength = 8;
    static constexpr int kMaxSerialLength = 256;

    CameraManager();
    ~CameraManager();
    CameraManager(const CameraManager&) = delete;
    CameraManager& operator=(const CameraManager&) = delete;

    static CameraManager* _instance;
    // _instance, created when still null.
    static CameraManager* getInstance();

    void loadPlugins();
    void loadCameraSN();
    void findCameras();
    void findSumulateCameras();
    void sortCamera();
    void saveCameraSN();
    void resetCameraSN();
    // order[i] is the new position of camera i; anything but a permutation
    // of 0..n-1 is refused (false) and changes nothing.
    bool resortCameraSN(QVector<int> order);
    void checkCameraCount();
    CameraInterface* createCamera(_cameraInfo info);

    // Members in their documented order.
    QVector<QPluginLoader*> loaders;       // one per plug-in file tried; never unloaded
    QVector<CameraInterface*> plugins;     // accepted factories, in load order
    QVector<_cameraInfo> cameras;          // the camera numbering of the whole system
    std::unique_ptr<QSqlDatabase> database;  // connection "dbT" on "SN.db"
    std::unique_ptr<QSqlQuery> query;
    QVector<QString> savedSerials;         // the camera order from or for "SN.db"
    bool simulation = false;               // the camera list holds simulated cameras

private:
    void updateSerial(int position, const QString& serial);
};
