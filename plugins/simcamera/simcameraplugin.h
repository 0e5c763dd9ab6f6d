#pragma once

#include "camerainterface.h"

// Root object of the simulated camera plug-in: its factory. One build reports
// simulated cameras (type 0), the other, compiled with MM_SIMCAMERA_REAL_TYPE,
// the real-camera type.
class SimCameraPlugin : public CameraInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID CameraInterface_iid)
    Q_INTERFACES(CameraInterface)
public:
    explicit SimCameraPlugin(QObject* parent = nullptr);

    QString name() override;
    QVector<_cameraInfo> findCameras() override;
    CameraInterface* createCamera(_cameraInfo info) override;
    int cameraType() override;

private:
    QString section() const;
};
