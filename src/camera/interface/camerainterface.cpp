#include "camerainterface.h"

#include <cstring>

QByteArray _cameraInfo::serial() const
{
    return QByteArray(serialNumber, static_cast<int>(strnlen(serialNumber, kSerialBlockSize)));
}

void _cameraInfo::setSerial(const QByteArray& serial)
{
    std::memset(serialNumber, 0, sizeof serialNumber);
    const int n = qMin(serial.size(), kSerialBlockSize - 1);
    std::memcpy(serialNumber, serial.constData(), static_cast<size_t>(n));
}

// Do-nothing defaults: a factory object implements only the factory
// operations, a camera object only the camera ones.
CameraInterface::CameraInterface(QObject* parent) : QObject(parent) {}
CameraInterface::~CameraInterface() = default;

bool CameraInterface::open() { return false; }
bool CameraInterface::close() { return false; }
bool CameraInterface::start() { return false; }
bool CameraInterface::stop() { return false; }
void CameraInterface::release() {}
bool CameraInterface::reconnect() { return false; }
void CameraInterface::reserved7() {}
void CameraInterface::applySettings(const QJsonObject&) {}
void CameraInterface::setExposeTime(int) {}
void CameraInterface::setAdjustPlus(int) {}
void CameraInterface::setSharp(int) {}
void CameraInterface::setContrast(int) {}
void CameraInterface::setGamma(int) {}
void CameraInterface::reserved14() {}
void CameraInterface::setWDR(bool) {}
void CameraInterface::getExposeTimeRange(int&, int&) {}
void CameraInterface::getAdjustPlusRange(int&, int&) {}
void CameraInterface::getSharpRange(int&, int&) {}
void CameraInterface::getContrastRange(int&, int&) {}
void CameraInterface::getGammaRange(int&, int&) {}
void CameraInterface::setHMirror(bool) {}
void CameraInterface::setVMirror(bool) {}
void CameraInterface::onceWB() {}
void CameraInterface::reserved24() {}
void CameraInterface::setColorMode(bool) {}
bool CameraInterface::isColor() { return false; }
void CameraInterface::setSpeed(int) {}
void CameraInterface::setParam(const QVariant&, int) {}
QVariant CameraInterface::getParam(int) { return QVariant(); }
void CameraInterface::getFps(int&) {}
void CameraInterface::setTriggerMode(bool) {}
void CameraInterface::manualUpdate() {}
void CameraInterface::getImageSize(int&, int&) {}
QString CameraInterface::name() { return QString(); }
void CameraInterface::reserved35() {}
bool CameraInterface::grabImage(uchar*) { return false; }
void CameraInterface::restoreDefaults(QJsonObject&, int) {}
QVector<_cameraInfo> CameraInterface::findCameras() { return {}; }
void CameraInterface::reserved39() {}
CameraInterface* CameraInterface::createCamera(_cameraInfo) { return nullptr; }
int CameraInterface::cameraType() { return 0; }
