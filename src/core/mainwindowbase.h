#pragma once

#include <QPoint>
#include <QPointer>
#include <QStringList>
#include <QVector>
#include <QWidget>
#include <QRgb>

class QTimer;
class QSqlDatabase;
class Edit;
class DrawROIWidget;
class WizardParaWidget;
class IndexButton;

// The main window as the lower subsystems see it: the members and services
// that widgets, cameras, settings, statistics and network code read or call.
// The real main window (DaRiDoziri) derives from it; tests derive a small
// stand-in. The defaults here do nothing, so a stand-in overrides only what
// a test observes.
class MainWindowBase : public QWidget
{
    Q_OBJECT
public:
    explicit MainWindowBase(QWidget* parent = nullptr);
    ~MainWindowBase() override;

    // Current line edit of the on-screen keypads; clears itself when the edit dies.
    QPointer<Edit> curEdit;

    int loginLevel = 0;      // 0 not logged in, 1 primary, 2 advanced
    int lcdOff = 0;          // non-zero while the backlight is off
    QTimer* lcdTimer = nullptr;

    int checkDetect = 0;     // detection handled by the cycle
    int curDetect = 0;       // detection group shown and edited
    int drawMode = 0;        // ROI drawing tool: 0 none, 1 rectangle, 2 polygon, 4 circle
    bool isFreeHand = false;
    int runState = 1;        // 1 running, 2 training templates, 3 stopped
    int detectState = 3;     // 1 counting down, 2 detected, 3 waiting
    int resultState = 1;     // 1 OK, 2 NG shown, 3 setting regions
    int curDetectIndex = 0;  // index of the current detection in the cycle
    int lastCycleTime = 0;   // tenths of a second between the last two detection starts
    int selCamera = 0;       // camera shown alone; numCamera when all are shown
    int pageState = 0;       // 0 live, 1 OK result, 2 NG alarm, 3 alarm image/adjustment
    int safetyDoorTriggered = 0;
    int alarmClearState[8][8] = {};
    QVector<QRgb> greyColorTable;  // palette of every 8-bit BMP written
    bool copyMode = false;
    bool continuousReplication = false;
    int pickX = 0, pickY = 0, pickValue = 0;
    int prodAlarmCount = 0;
    int stageFlag = 0;
    double zoomX = 0, zoomY = 0, zoomScale = 1.0;

    // Timers and countdowns the camera views show.
    QTimer* resultTimer = nullptr;   // single-shot 2000 ms after a check: NG pixels are tinted while it runs
    QTimer* hintTimer = nullptr;     // 3000 ms: the camera view draws gDrawHint while it runs
    QTimer* delayTimer[8] = {};      // detection delay timers
    float delayCountdown[8] = {};    // remaining delay of each detection, seconds
    bool recheckActive = false;      // a re-inspection is running
    int recheckMade[8] = {};         // re-inspections made per detection
    QPoint touchPoint;               // last touch on the camera shown alone

    // Title of the data export's selection dialog, set by the main window.
    QString exportTitle;

    DrawROIWidget* pDrawROIWidget = nullptr;
    WizardParaWidget* pWizardParaWidget = nullptr;
    IndexButton* pIndexButton = nullptr;

    // Today's operation records ("RECORD.db").
    virtual QSqlDatabase recordDatabase() const;

    virtual void InsertRecord(QString text, QString type);
    virtual void LCDOnOff(int on);
    virtual void StopWTD();
    virtual void FLushAll();
    virtual int CheckPassword();
    virtual bool CheckRoot();
    virtual void LostCamera();
    virtual int CameraCheck();
    virtual void CameraRestart();
    virtual void CameraSetSpeed();
    virtual void ChangeCammer();
    virtual void CheckNG(bool ng);
    // The checks of one camera for one detection group on its newest frame (ROI editor's re-check).
    virtual void RunAlgorithm(int camera, int detection);
    virtual void CountWrite();
    // Tells the companion that the templates of one camera's detection changed.
    virtual void syncTemplates(int camera, int detection);
    virtual QStringList getPathContext() const;
    // The paths of what the export selection chose: every item for anything
    // that is not an item (the "all" choice gives its title), else the chosen items.
    virtual QStringList getExportPathByContext(const QStringList& chosen) const;
    virtual void MScale(float scale);
    virtual void MScaleSetToMin();
    virtual void updateMScale(int x, int y);
    virtual void StopDetect();
    // Whether an NG or a lost camera still holds this output on, so that
    // clearing another alarm (the production alarm) must leave it.
    virtual bool isOutputHeld(int output) const;
    // Restart of the box and change of language (the settings screen's actions).
    virtual void rebootSystem();
    virtual void changeLanguage(int language);

signals:
    void sendRecord(int detect, int hour, QList<bool> cameraOK, bool last);

public slots:
    // The main actions behind the button panel.
    virtual void SlotReturn();
    virtual void SlotStartStop();
    virtual void SlotSystemPara();
    virtual void SlotReTrain();
    virtual void SlotAdjustArea();
    virtual void SlotManualTrig0();
    virtual void SlotManualTrig1();
    virtual void SlotManualTrig(int detect);
    virtual void SlotMuliManualTrig();
};
