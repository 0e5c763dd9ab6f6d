#include "simcamera.h"

#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include <cstring>

namespace {

constexpr int kLossPollMs = 100;
constexpr int kPatternFrames = 4;
constexpr int kMsPerSecond = 1000;

QString boolText(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

// A frame as the program expects it: 1 byte grey, or 4 bytes blue, green, red, unused.
QByteArray frameBytes(const QImage& source, int width, int height, bool colour)
{
    const QImage scaled = source.size() == QSize(width, height)
                              ? source
                              : source.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage image = scaled.convertToFormat(colour ? QImage::Format_RGB32 : QImage::Format_Grayscale8);
    const int rowBytes = width * (colour ? 4 : 1);
    QByteArray bytes(rowBytes * height, Qt::Uninitialized);
    for (int y = 0; y < height; ++y)
        std::memcpy(bytes.data() + y * rowBytes, image.constScanLine(y), static_cast<size_t>(rowBytes));
    return bytes;
}

// A moving pattern so that successive frames differ.
QImage patternImage(const QString& pattern, int width, int height, int phase)
{
    QImage image(width, height, QImage::Format_RGB32);
    const int shift = phase * width / (4 * kPatternFrames);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            if (pattern == QLatin1String("checker")) {
                const int v = (((x + shift) / 64 + y / 64) % 2) ? 220 : 40;
                line[x] = qRgb(v, v, v);
            } else if (pattern == QLatin1String("bars")) {
                const int v = (((x + shift) / 80) % 2) ? 200 : 60;
                line[x] = qRgb(v, v, v);
            } else {
                const int v = ((x + shift) * 255 / qMax(1, width - 1) + y * 64 / qMax(1, height)) % 256;
                line[x] = qRgb(v, (v + 85) % 256, 255 - v);
            }
        }
    }
    return image;
}

}  // namespace

SimCamera::SimCamera(const SimCameraSpec& spec, const QString& pluginName, QObject* parent)
    : CameraInterface(parent)
    , m_spec(spec)
    , m_pluginName(pluginName)
    , m_reconnectFailuresLeft(spec.reconnectFailures)
{
}

void SimCamera::log(const QString& operation, const QString& args) const
{
    SimCallLog::write(QString::fromUtf8(m_spec.serial), operation, args);
}

bool SimCamera::open()
{
    log("open", boolText(m_spec.openSucceeds));
    if (!m_spec.openSucceeds)
        return false;
    m_colour = m_wantColour && m_spec.color;
    buildFrames();
    m_open = true;
    if (!m_spec.lossWhenFile.isEmpty() && !m_lossPoll) {
        m_lossPoll = new QTimer(this);
        connect(m_lossPoll, &QTimer::timeout, this, &SimCamera::checkLossFile);
        m_lossPoll->start(kLossPollMs);
    }
    return true;
}

bool SimCamera::close()
{
    log("close");
    m_open = false;
    m_started = false;
    return true;
}

bool SimCamera::start()
{
    log("start");
    m_started = m_open;
    m_sinceFrame.invalidate();
    return m_started;
}

bool SimCamera::stop()
{
    log("stop");
    m_started = false;
    return true;
}

void SimCamera::release()
{
    log("release");
    m_released = true;
}

bool SimCamera::reconnect()
{
    if (m_reconnectFailuresLeft != 0) {
        if (m_reconnectFailuresLeft > 0)
            --m_reconnectFailuresLeft;
        log("reconnect", boolText(false));
        return false;
    }
    log("reconnect", boolText(true));
    m_lost = false;
    m_released = false;
    m_reconnectFailuresLeft = m_spec.reconnectFailures;
    m_sinceFrame.invalidate();
    return true;
}

void SimCamera::applySettings(const QJsonObject& settings)
{
    log("applySettings", QString::fromUtf8(QJsonDocument(settings).toJson(QJsonDocument::Compact)));
}

void SimCamera::setExposeTime(int value) { log("setExposeTime", QString::number(value)); }
void SimCamera::setAdjustPlus(int value) { log("setAdjustPlus", QString::number(value)); }
void SimCamera::setSharp(int value) { log("setSharp", QString::number(value)); }
void SimCamera::setContrast(int value) { log("setContrast", QString::number(value)); }
void SimCamera::setGamma(int value) { log("setGamma", QString::number(value)); }
void SimCamera::setWDR(bool on) { log("setWDR", boolText(on)); }

void SimCamera::range(const char* key, int defMin, int defMax, int& min, int& max, const char* operation)
{
    const QJsonArray pair = m_spec.ranges.value(QLatin1String(key)).toArray();
    min = pair.size() == 2 ? pair.at(0).toInt(defMin) : defMin;
    max = pair.size() == 2 ? pair.at(1).toInt(defMax) : defMax;
    log(operation, QStringLiteral("%1 %2").arg(min).arg(max));
}

void SimCamera::getExposeTimeRange(int& min, int& max) { range("exposeTime", 1, 100000, min, max, "getExposeTimeRange"); }
void SimCamera::getAdjustPlusRange(int& min, int& max) { range("adjustPlus", 0, 100, min, max, "getAdjustPlusRange"); }
void SimCamera::getSharpRange(int& min, int& max) { range("sharp", 0, 100, min, max, "getSharpRange"); }
void SimCamera::getContrastRange(int& min, int& max) { range("contrast", 0, 100, min, max, "getContrastRange"); }
void SimCamera::getGammaRange(int& min, int& max) { range("gamma", 1, 400, min, max, "getGammaRange"); }

void SimCamera::setHMirror(bool on) { log("setHMirror", boolText(on)); }
void SimCamera::setVMirror(bool on) { log("setVMirror", boolText(on)); }
void SimCamera::onceWB() { log("onceWB"); }

void SimCamera::setColorMode(bool colour)
{
    log("setColorMode", boolText(colour));
    m_wantColour = colour;
}

bool SimCamera::isColor()
{
    log("isColor", boolText(m_colour));
    return m_colour;
}

void SimCamera::setSpeed(int speed) { log("setSpeed", QString::number(speed)); }

void SimCamera::setParam(const QVariant& value, int id)
{
    // The ROI store (id 0) is a pointer type this plug-in does not know: log its type only.
    const QString text = id == 0 ? QString::fromLatin1(value.typeName()) : QString::number(value.toDouble());
    log("setParam", QStringLiteral("%1 %2").arg(id).arg(text));
}

void SimCamera::getFps(int& fps)
{
    fps = m_spec.fps;
    log("getFps", QString::number(fps));
}

void SimCamera::setTriggerMode(bool external)
{
    log("setTriggerMode", boolText(external));
    m_externalTrigger = external;
}

void SimCamera::manualUpdate()
{
    log("manualUpdate");
    m_manualPending = true;
}

void SimCamera::getImageSize(int& width, int& height)
{
    width = m_spec.width;
    height = m_spec.height;
    log("getImageSize", QStringLiteral("%1 %2").arg(width).arg(height));
}

QString SimCamera::name() { return m_pluginName; }

bool SimCamera::grabImage(uchar* frame)
{
    if (!m_open || !m_started || m_lost || m_released || m_frames.isEmpty()) {
        log("grabImage", "0");
        return false;
    }
    bool fresh;
    if (m_externalTrigger) {
        fresh = m_manualPending;
        m_manualPending = false;
    } else {
        fresh = !m_sinceFrame.isValid() || m_sinceFrame.elapsed() >= kMsPerSecond / m_spec.fps;
    }
    if (fresh) {
        m_frameIndex = (m_frameIndex + 1) % m_frames.size();
        m_sinceFrame.start();
        ++m_framesDelivered;
        ++m_frameSerial;
    }
    // A poll without a new frame into the buffer that already holds it copies
    // nothing: the unit polls ten times a second, most often for no new frame.
    if (frame != m_copiedTo || m_copiedSerial != m_frameSerial) {
        const QByteArray& current = m_frames.at(qMax(0, m_frameIndex));
        std::memcpy(frame, current.constData(), static_cast<size_t>(current.size()));
        m_copiedTo = frame;
        m_copiedSerial = m_frameSerial;
    }
    log("grabImage", fresh ? "1" : "0");

    if (fresh && m_spec.lossAfterFrames > 0 && !m_lossFired && m_framesDelivered >= m_spec.lossAfterFrames) {
        m_lossFired = true;
        loseCamera(QStringLiteral("after %1 frames").arg(m_framesDelivered));
    }
    return fresh;
}

void SimCamera::restoreDefaults(QJsonObject& settings, int cameraIndex)
{
    static const struct { const char* key; int value; } kDefaults[] = {
        {"exposeTime", 5000}, {"adjustPlus", 0}, {"sharp", 50}, {"contrast", 50}, {"gamma", 100}, {"speed", 0},
    };
    log("restoreDefaults", QStringLiteral("%1 %2").arg(cameraIndex)
                               .arg(QString::fromUtf8(QJsonDocument(settings).toJson(QJsonDocument::Compact))));
    for (const auto& entry : kDefaults) {
        if (m_spec.restoreOmits.contains(QLatin1String(entry.key)))
            settings.remove(entry.key);
        else
            settings.insert(entry.key, m_spec.defaults.value(entry.key).toInt(entry.value));
    }
}

int SimCamera::cameraType()
{
#ifdef MM_SIMCAMERA_REAL_TYPE
    return 1;
#else
    return 0;
#endif
}

void SimCamera::buildFrames()
{
    m_frames.clear();
    m_frameIndex = -1;
    ++m_frameSerial;
    for (const QString& file : m_spec.frameFiles) {
        const QImage image(file);
        if (image.isNull()) {
            log("frameMissing", file);
            continue;
        }
        m_frames << frameBytes(image, m_spec.width, m_spec.height, m_colour);
    }
    if (m_frames.isEmpty()) {
        for (int phase = 0; phase < kPatternFrames; ++phase)
            m_frames << frameBytes(patternImage(m_spec.pattern, m_spec.width, m_spec.height, phase),
                                   m_spec.width, m_spec.height, m_colour);
    }
}

void SimCamera::checkLossFile()
{
    const bool present = QFileInfo::exists(m_spec.lossWhenFile);
    // Edge-triggered: one loss per appearance of the file.
    if (present && !m_lossFileSeen && !m_lost)
        loseCamera(QStringLiteral("file %1").arg(m_spec.lossWhenFile));
    m_lossFileSeen = present;
}

void SimCamera::loseCamera(const QString& reason)
{
    m_lost = true;
    log("lost", reason);
    // Delivered from the event loop, as a driver's own thread would.
    QMetaObject::invokeMethod(this, &CameraInterface::sigCameraLost, Qt::QueuedConnection);
}
