#include "simcameraconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>
#include <QDebug>

#include <dlfcn.h>

namespace {

const char* const kConfigEnv = "MM_SIMCAMERA_CONFIG";
const char* const kLogEnv = "MM_SIMCAMERA_LOG";
const char* const kConfigFileName = "simcamera.json";
constexpr int kDefaultCameraCount = 2;

QString pluginDirectory()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&pluginDirectory), &info) == 0 || !info.dli_fname)
        return QString();
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath();
}

QString resolve(const QString& baseDir, const QString& path)
{
    if (path.isEmpty())
        return path;
    return QFileInfo(path).isAbsolute() ? path : QDir(baseDir).absoluteFilePath(path);
}

QMutex logMutex;
QString logPath;

}  // namespace

SimCameraSpec SimCameraConfig::parseCamera(const QJsonObject& object, const QString& baseDir)
{
    SimCameraSpec spec;
    spec.raw = object;
    spec.serial = object.value("serial").toString().toUtf8();
    spec.width = qMax(1, object.value("width").toInt(spec.width));
    spec.height = qMax(1, object.value("height").toInt(spec.height));
    if (spec.width > SimCameraSpec::kMaxSide || spec.height > SimCameraSpec::kMaxSide)
        spec.refusal = QStringLiteral("frame size %1 x %2 above %3 x %3")
                           .arg(spec.width).arg(spec.height).arg(SimCameraSpec::kMaxSide);
    spec.color = object.value("color").toBool(false);
    spec.openSucceeds = object.value("open").toBool(true);
    for (const QJsonValue& frame : object.value("frames").toArray())
        spec.frameFiles << resolve(baseDir, frame.toString());
    spec.pattern = object.value("pattern").toString(spec.pattern);
    spec.fps = qMax(1, object.value("fps").toInt(spec.fps));
    spec.lossAfterFrames = qMax(0, object.value("lossAfterFrames").toInt(0));
    spec.lossWhenFile = resolve(baseDir, object.value("lossWhenFile").toString());
    spec.reconnectFailures = object.value("reconnectFailures").toInt(0);
    spec.ranges = object.value("ranges").toObject();
    spec.defaults = object.value("defaults").toObject();
    for (const QJsonValue& key : object.value("restoreOmits").toArray())
        spec.restoreOmits << key.toString();
    return spec;
}

SimCameraConfig SimCameraConfig::load(const QString& section)
{
    SimCameraConfig config;
    QString path = qEnvironmentVariable(kConfigEnv);
    if (path.isEmpty()) {
        const QString dir = pluginDirectory();
        if (!dir.isEmpty() && QFileInfo::exists(dir + '/' + kConfigFileName))
            path = dir + '/' + kConfigFileName;
    }

    QJsonObject root;
    bool haveFile = false;
    if (!path.isEmpty()) {
        QFile file(path);
        QJsonParseError error{};
        if (file.open(QIODevice::ReadOnly)) {
            const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
            if (error.error == QJsonParseError::NoError && doc.isObject()) {
                root = doc.object();
                haveFile = true;
                config.sourcePath = QFileInfo(path).absoluteFilePath();
            } else {
                qWarning() << "simcamera: bad script" << path << error.errorString();
            }
        } else {
            qWarning() << "simcamera: cannot read" << path;
        }
    }

    const QString baseDir = haveFile ? QFileInfo(config.sourcePath).absolutePath() : QString();
    config.callLogPath = qEnvironmentVariable(kLogEnv);
    if (config.callLogPath.isEmpty() && haveFile)
        config.callLogPath = resolve(baseDir, root.value("callLog").toString());

    if (haveFile) {
        for (const QJsonValue& camera : root.value(section).toArray()) {
            SimCameraSpec spec = parseCamera(camera.toObject(), baseDir);
            if (!spec.refusal.isEmpty()) {
                qWarning().noquote() << "simcamera: camera" << QString::fromUtf8(spec.serial) << "refused:" << spec.refusal;
                continue;
            }
            config.cameras << spec;
        }
    } else if (section == QLatin1String("simulated")) {
        for (int i = 0; i < kDefaultCameraCount; ++i) {
            SimCameraSpec spec;
            spec.serial = QStringLiteral("SIMCAM-%1").arg(i + 1, 4, 10, QChar('0')).toUtf8();
            spec.raw.insert("serial", QString::fromUtf8(spec.serial));
            config.cameras << spec;
        }
    }
    return config;
}

void SimCallLog::setPath(const QString& path)
{
    QMutexLocker lock(&logMutex);
    logPath = path;
}

void SimCallLog::write(const QString& who, const QString& operation, const QString& args)
{
    QMutexLocker lock(&logMutex);
    if (logPath.isEmpty())
        return;
    QFile file(logPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QString line = who + ' ' + operation;
    if (!args.isEmpty())
        line += ' ' + args;
    file.write(line.toUtf8() + '\n');
}
