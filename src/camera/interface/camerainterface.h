#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVector>
#include <QtPlugin>

// One camera as a plug-in describes it; copied by value between the plug-in,
// the camera manager and the camera unit.
struct _cameraInfo
{
    static constexpr int kSerialBlockSize = 288;

    int id = 0;
    QString pluginName;
    // NUL-terminated serial number at the head of the block; compared whole.
    char serialNumber[kSerialBlockSize] = {};
    QJsonObject extra;

    // The serial read with the block as its bound (a block without terminator stays inside it).
    QByteArray serial() const;
    // Stores at most kSerialBlockSize - 1 bytes and always terminates.
    void setSerial(const QByteArray& serial);
};

Q_DECLARE_METATYPE(_cameraInfo)

// The camera plug-in interface. The root object of a plug-in is its factory
// (name, findCameras, createCamera, cameraType); every camera it creates is
// another object of the same interface. The order of the virtual functions
// is the plug-in binary interface: never reorder, only append. The reserved
// positions are never called.
class CameraInterface : public QObject
{
    Q_OBJECT
public:
    explicit CameraInterface(QObject* parent = nullptr);
    ~CameraInterface() override;

    virtual bool open();
    virtual bool close();
    virtual bool start();
    virtual bool stop();
    virtual void release();
    virtual bool reconnect();
    virtual void reserved7();
    virtual void applySettings(const QJsonObject& settings);
    virtual void setExposeTime(int value);
    virtual void setAdjustPlus(int value);
    virtual void setSharp(int value);
    virtual void setContrast(int value);
    virtual void setGamma(int value);
    virtual void reserved14();
    virtual void setWDR(bool on);
    virtual void getExposeTimeRange(int& min, int& max);
    virtual void getAdjustPlusRange(int& min, int& max);
    virtual void getSharpRange(int& min, int& max);
    virtual void getContrastRange(int& min, int& max);
    virtual void getGammaRange(int& min, int& max);
    virtual void setHMirror(bool on);
    virtual void setVMirror(bool on);
    virtual void onceWB();
    virtual void reserved24();
    virtual void setColorMode(bool colour);
    // After open: true = 4 bytes per pixel (blue, green, red, unused), else 1 byte (grey).
    virtual bool isColor();
    virtual void setSpeed(int speed);
    // id 0: the active ROI store as a registered CammerSingleton*; 8 3D noise,
    // 9 2D noise, 10 saturation as doubles.
    virtual void setParam(const QVariant& value, int id);
    virtual QVariant getParam(int id);
    virtual void getFps(int& fps);
    virtual void setTriggerMode(bool external);
    virtual void manualUpdate();
    virtual void getImageSize(int& width, int& height);
    virtual QString name();
    virtual void reserved35();
    // Copies the newest frame into the caller's buffer; true = a new frame.
    // The caller never writes into that buffer, so a camera may skip the copy
    // when the same buffer already holds the newest frame.
    virtual bool grabImage(uchar* frame);
    // Current settings in, defaults out.
    virtual void restoreDefaults(QJsonObject& settings, int cameraIndex);
    virtual QVector<_cameraInfo> findCameras();
    virtual void reserved39();
    // A new camera object for info, or null; the caller never deletes it.
    virtual CameraInterface* createCamera(_cameraInfo info);
    // 0 = simulated.
    virtual int cameraType();

signals:
    void sigCameraLost();
};

#define CameraInterface_iid "com.oru.pellavis.camerainterface"
Q_DECLARE_INTERFACE(CameraInterface, CameraInterface_iid)
