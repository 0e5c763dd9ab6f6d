#include "simcameraplugin.h"
#include "simcamera.h"
#include "simcameraconfig.h"

namespace {
#ifdef MM_SIMCAMERA_REAL_TYPE
const char* const kPluginName = "SimRealCamera";
const char* const kSection = "real";
constexpr int kCameraType = 1;
#else
const char* const kPluginName = "SimCamera";
const char* const kSection = "simulated";
constexpr int kCameraType = 0;
#endif
}  // namespace

SimCameraPlugin::SimCameraPlugin(QObject* parent) : CameraInterface(parent) {}

QString SimCameraPlugin::name() { return QString::fromLatin1(kPluginName); }

QString SimCameraPlugin::section() const { return QString::fromLatin1(kSection); }

int SimCameraPlugin::cameraType() { return kCameraType; }

QVector<_cameraInfo> SimCameraPlugin::findCameras()
{
    const SimCameraConfig config = SimCameraConfig::load(section());
    SimCallLog::setPath(config.callLogPath);
    QVector<_cameraInfo> found;
    for (int i = 0; i < config.cameras.size(); ++i) {
        _cameraInfo info;
        info.id = i;
        info.pluginName = name();
        info.setSerial(config.cameras.at(i).serial);
        info.extra = config.cameras.at(i).raw;
        found << info;
    }
    SimCallLog::write("plugin:" + name(), "findCameras", QString::number(found.size()));
    return found;
}

CameraInterface* SimCameraPlugin::createCamera(_cameraInfo info)
{
    const QByteArray serial = info.serial();
    const SimCameraConfig config = SimCameraConfig::load(section());
    SimCallLog::setPath(config.callLogPath);
    SimCallLog::write("plugin:" + name(), "createCamera", QString::fromUtf8(serial));
    for (const SimCameraSpec& spec : config.cameras) {
        if (spec.serial == serial)
            return new SimCamera(spec, name(), this);
    }
    return nullptr;
}
