#pragma once

#include "failpicture.h"
#include "mainwindowbase.h"

#include <QMetaObject>
#include <QVector>

#include <memory>
#include <vector>

class CammerWidget;
class ControlPort;
class DetectionCycle;
class DetectionUnit;
class FloatSlider;
class IOStatus;
class PanelKeeper;
class QEvent;
class RecordStore;
class StandingAlarm;
class SaveFialImageThread;

// The main window: camera views, the button panel, the IO status bar, the
// shared dialogs, the user rights and the detection cycle.
class DaRiDoziri : public MainWindowBase
{
    Q_OBJECT
public:
    static constexpr int kMaxUnits = 8;
    static constexpr int kStatusBarHeight = 44;
    static constexpr int kHintMs = 3000;
    static constexpr int kLogoutMinuteMs = 60000;
    static constexpr int kFlushWaitMs = 500;

    explicit DaRiDoziri(QWidget* parent = nullptr);
    ~DaRiDoziri() override;

    // Services of the main window.
    QSqlDatabase recordDatabase() const override;
    void InsertRecord(QString text, QString type) override;
    void LCDOnOff(int on) override;
    void StopWTD() override;
    void FLushAll() override;
    int CheckPassword() override;
    bool CheckRoot() override;
    void LostCamera() override;
    int CameraCheck() override;
    void CameraRestart() override;
    void CameraSetSpeed() override;
    void ChangeCammer() override;
    void CheckNG(bool ng) override;
    void RunAlgorithm(int camera, int detection) override;
    void CountWrite() override;
    QStringList getPathContext() const override;
    void syncTemplates(int camera, int detection) override;
    void MScale(float scale) override;
    void MScaleSetToMin() override;
    void updateMScale(int x, int y) override;
    void StopDetect() override;
    bool isOutputHeld(int output) const override;

    // Power and language: each saves what must survive first.
    void rebootSystem() override;
    void powerOff();
    void changeLanguage(int language) override;

    // The text of a login level (rows 156, 155, 154).
    static QString levelText(int level);

    DetectionCycle* cycle() const { return m_cycle; }
    ControlPort* controlPort() const { return m_io.get(); }
    SaveFialImageThread* imageWriter() const { return m_imageWriter.get(); }
    const QVector<CammerWidget*>& cameraWidgets() const { return m_cameraWidgets; }
    IOStatus* ioStatus() const { return m_ioStatus; }
    FloatSlider* scaleSlider() const { return m_scaleSlider; }
    QTimer* logoutTimer() const { return m_logoutTimer; }

    // Replaces the camera units (tests); the cycle then drives these.
    void setDetectionUnits(std::vector<std::unique_ptr<DetectionUnit>> units);

    // The box text for stored files: those saved after all (if any), then every file still
    // unsaved; so that the box holds them, a list names its first kMaxNamedFiles (two when both
    // lists are shown) and counts the others.
    static QString storedFilesNotice(const QStringList& unsaved, const QStringList& saved = {});
    static constexpr int kMaxNamedFiles = 3;

signals:
    // Screens of later subsystems open from here.
    void sigOpenSettings();
    void sigOpenRoiEditor();
    // Every operation record as written, for the companion process.
    void sigRecordInserted(QString time, QString level, QString text, QString type);

public slots:
    void SlotReturn() override;
    void SlotStartStop() override;
    void SlotSystemPara() override;
    void SlotReTrain() override;
    void SlotAdjustArea() override;
    void SlotManualTrig(int detect) override;
    void SlotMuliManualTrig() override;
    void SlotUserActivity();
    void SlotLogout();
    void SlotLcdTimeout();
    void SlotCameraLostChanged(bool lost);
    void SlotOpenIoPage();
    // The detection cycle's pass and delay tick (the cycle's timers drive them).
    void Run();
    void TimerUp(int detection);
    // Switches on again every output that an alarm still holds.
    void reassertHeldOutputs();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Lifts the NG alarm of a detection the way the operator chose (AlarmClearMethod).
    // tapMs: when the operator asked for the release (monotonic ms); later NGs stand.
    void clearAlarmBy(int method, int group, qint64 tapMs);
    // Re-training of one camera's group: its next frame becomes template 0.
    void reTrain(CammerWidget* widget, int group);
    void createSharedDialogs();
    // The settings screen and the ROI editor, opened by the panel's buttons.
    void createEditingScreens();
    void createKeypads();
    void openDatabases();
    // Opens "PARAM.db" on the parameter stores' connection (again after a shutdown that returned).
    void openParamDatabase();
    // Starts this program again in its folder and ends this one (the new one reads the stored files).
    void restartProgram();
    void loadParameters();
    void buildCameras();
    void allocateFailImages();
    // Empties the NG image table (no pointer outlives its frame).
    void releaseFailImages();
    QVector<DetectionUnit*> unitPointers() const;
    // Repaints the camera views (zoom and pan).
    void updateViews();
    void createIoLink();
    void createTimers();
    void adoptSharedDialogs();
    void restartUserTimers();
    void updateStartStopText();
    // Records why, stops the watchdog, closes the databases, then runs the program. Should the
    // program return (the box not yet down, or not going down), the watchdog and the parameter
    // database are back; false when the program failed.
    bool shutDown(const QString& record, const QString& program, const QStringList& args);
    QRect cameraArea() const;

    std::unique_ptr<RecordStore> m_records;
    std::unique_ptr<StandingAlarm> m_standingAlarm;
    std::unique_ptr<ControlPort> m_io;
    std::unique_ptr<SaveFialImageThread> m_imageWriter;
    DetectionCycle* m_cycle = nullptr;
    QVector<CammerWidget*> m_cameraWidgets;
    std::vector<std::unique_ptr<DetectionUnit>> m_units;
    // Untouched until an image is stored: 16 frames per camera would otherwise be committed at once.
    std::vector<std::unique_ptr<FailPicture>> m_failImageStorage;
    FloatSlider* m_scaleSlider = nullptr;
    IOStatus* m_ioStatus = nullptr;
    PanelKeeper* m_panelKeeper = nullptr;
    QTimer* m_logoutTimer = nullptr;
    QMetaObject::Connection m_numPadRecreate;
    QMetaObject::Connection m_charPadRecreate;
    // Stored files a full disk refused, as the box names them, oldest first.
    QStringList m_unsavedFiles;
    // Those saved after all since the box about them was last closed.
    QStringList m_savedFiles;
    // The box's last text about them: the next one takes its place rather than queueing behind it.
    QString m_storedNotice;
};
