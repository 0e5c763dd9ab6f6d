#pragma once

#include "camerainterface.h"
#include "simcameraconfig.h"

#include <QElapsedTimer>
#include <QVector>

class QTimer;

// One scripted camera: frames from image files or a drawn pattern at the
// scripted rate, a scripted loss and a number of failing reconnects. Every
// call is written to the call log.
class SimCamera : public CameraInterface
{
    Q_OBJECT
public:
    SimCamera(const SimCameraSpec& spec, const QString& pluginName, QObject* parent);

    bool open() override;
    bool close() override;
    bool start() override;
    bool stop() override;
    void release() override;
    bool reconnect() override;
    void applySettings(const QJsonObject& settings) override;
    void setExposeTime(int value) override;
    void setAdjustPlus(int value) override;
    void setSharp(int value) override;
    void setContrast(int value) override;
    void setGamma(int value) override;
    void setWDR(bool on) override;
    void getExposeTimeRange(int& min, int& max) override;
    void getAdjustPlusRange(int& min, int& max) override;
    void getSharpRange(int& min, int& max) override;
    void getContrastRange(int& min, int& max) override;
    void getGammaRange(int& min, int& max) override;
    void setHMirror(bool on) override;
    void setVMirror(bool on) override;
    void onceWB() override;
    void setColorMode(bool colour) override;
    bool isColor() override;
    void setSpeed(int speed) override;
    void setParam(const QVariant& value, int id) override;
    void getFps(int& fps) override;
    void setTriggerMode(bool external) override;
    void manualUpdate() override;
    void getImageSize(int& width, int& height) override;
    QString name() override;
    bool grabImage(uchar* frame) override;
    void restoreDefaults(QJsonObject& settings, int cameraIndex) override;
    int cameraType() override;

private:
    void log(const QString& operation, const QString& args = QString()) const;
    void range(const char* key, int defMin, int defMax, int& min, int& max, const char* operation);
    void buildFrames();
    void checkLossFile();
    void loseCamera(const QString& reason);

    SimCameraSpec m_spec;
    QString m_pluginName;
    bool m_wantColour = false;
    bool m_colour = false;
    bool m_open = false;
    bool m_started = false;
    bool m_lost = false;
    bool m_released = false;
    bool m_lossFired = false;
    bool m_lossFileSeen = false;
    bool m_externalTrigger = false;
    bool m_manualPending = false;
    int m_reconnectFailuresLeft = 0;
    int m_framesDelivered = 0;
    int m_frameIndex = -1;
    // Bumped by every new frame and new frame set; with m_copiedTo it tells
    // that the caller's buffer already holds the newest frame.
    quint64 m_frameSerial = 0;
    quint64 m_copiedSerial = 0;
    const uchar* m_copiedTo = nullptr;
    QVector<QByteArray> m_frames;
    QElapsedTimer m_sinceFrame;
    QTimer* m_lossPoll = nullptr;
};
