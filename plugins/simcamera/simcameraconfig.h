#pragma once

#include <QJsonObject>
#include <QString>
#include <QVector>

// The script of the simulated cameras. A JSON file named by the environment
// variable MM_SIMCAMERA_CONFIG, or "simcamera.json" beside the plug-in file:
//   { "callLog": "calls.log",                  (optional, relative to the file)
//     "simulated": [ camera, ... ],            (cameras of the simulated build)
//     "real":      [ camera, ... ] }           (cameras of the real-type build)
// camera: { "serial": "SN...", "width": 1280, "height": 1024, "color": false,
//           "open": true, "frames": ["a.png", ...] or "pattern": "gradient",
//           "fps": 10, "lossAfterFrames": 0, "lossWhenFile": "lose.flag",
//           "reconnectFailures": 0 (-1: never comes back),
//           "ranges": {"exposeTime": [1, 100000], ...}, "defaults": {...},
//           "restoreOmits": ["gamma", ...] (keys restoreDefaults leaves out) }
// Without a file the simulated build offers two grey pattern cameras and the
// real-type build none.
struct SimCameraSpec
{
    // Largest width and height a simulated camera may have: frames are made whole in memory.
    static constexpr int kMaxSide = 8192;

    QByteArray serial;
    int width = 1280;
    int height = 1024;
    bool color = false;
    bool openSucceeds = true;
    QStringList frameFiles;  // absolute paths
    QString pattern = QStringLiteral("gradient");
    int fps = 10;
    int lossAfterFrames = 0;
    QString lossWhenFile;    // absolute path, empty = none
    int reconnectFailures = 0;
    QJsonObject ranges;
    QJsonObject defaults;
    QStringList restoreOmits;
    QJsonObject raw;
    QString refusal;         // why the script's camera cannot be made; empty when it can
};

class SimCameraConfig
{
public:
    // Reads the script for one build ("simulated" or "real").
    static SimCameraConfig load(const QString& section);

    QVector<SimCameraSpec> cameras;
    QString callLogPath;  // empty = no log
    QString sourcePath;   // the file read, empty when none

    static SimCameraSpec parseCamera(const QJsonObject& object, const QString& baseDir);
};

// One line per plug-in call, appended to the log named by MM_SIMCAMERA_LOG or
// by the script's "callLog".
namespace SimCallLog {
void setPath(const QString& path);
void write(const QString& who, const QString& operation, const QString& args = QString());
}
