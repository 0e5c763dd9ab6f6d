#pragma once

// The machine-wide settings record: per-camera image settings, trigger
// delays, IO behaviour, recognition limits, screen and record options, the
// settings password and the current parameter group. Stored in the table
// sysparam of "PARAM.db" as rows of blank-separated integers. A plain value:
// gpWPara is the live record, gpWParaBak the settings screen's copy.

#include "guardedtext.h"

#include <QDir>
#include <QJsonObject>
#include <QString>

constexpr int kIoNameCount = 18;
// Display names of the IO signals (IO status bar, IO pages).
extern QString gaName[kIoNameCount];

class WizardPara
{
public:
    static constexpr int kPasswordSize = 100;
    static constexpr int kInFunctions = 16;
    static constexpr int kOutFunctions = 14;

    WizardPara();
    WizardPara(const WizardPara&) = default;
    WizardPara& operator=(const WizardPara&) = default;

    // Reads "sysadd.txt", every sysparam row, bounds and derives; fills gLan, gDNum and gaName.
    void LoadDatafromFile();
    // Writes every row in one transaction; false (rolled back, logged) on any failure.
    bool SaveDatatoFile();

    // Parameter groups under "./paraGroup" and the index file "sysadd.txt".
    void updateGroupName();
    void SaveAddFile();
    QString getCurGroupName() const;

    // Host information and the application's "config.json".
    void loadCpuInfo();
    void loadConfigFromJson();
    bool isSupportLCD() const;

    // Per-camera image settings.
    int exposeTime[8] = {};
    int adjustPlus[8] = {};
    int sharp[8] = {};
    int contrast[8] = {};
    int gamma[8] = {};
    int saturation[8] = {};
    int noise3D[8] = {};
    int noise2D[8] = {};

    // Per detection (and output).
    int trigInDelay[9] = {};
    int trigInput[9] = {};
    int outInitState[9] = {};

    int semiAuto = 0;
    int detectEnable[8] = {};
    int stopClampOnStop = 0;
    int motionCorrect = 0;
    int cutEjectorWhenClamping = 0;
    int isPswUsed = 0;
    int templateAutoUpdate = 0;
    int enableProdDetect = 0;
    int tempNumber = 0;
    int ngRecordNum = 0;
    int okRecordNum = 0;
    int screenOffTime = 0;
    int speed = 0;
    int amplify = 0;
    int autoLogout = 0;
    int recheckTimes = 0;
    int recheckDelay = 0;
    int ejectorPulse = 0;
    int clampPulse = 0;
    int output4Pulse = 0;
    int inputTime = 0;
    int shakeEraseTime = 0;
    int reInspectionDelay = 0;
    int filterSize = 0;
    int area = 0;
    int minColorArea = 0;
    int maxColorArea = 0;
    int matchAccuracy = 0;
    int zoomLayers = 0;
    int noEjectorInProd = 0;
    int ejectorPulseNgNoAlarm = 0;
    int cavityNgPulse = 0;
    int input4Use = 0;
    int cutClampAfterMoldOk = 0;
    int cutEjectorAfterProdOk = 0;
    int okNgOutputPulses = 0;
    int cutEjectorOnProdAlarm = 0;
    int cutClampOnMoldAlarm = 0;
    int outputOnCavityNg = 0;
    int noDetectModeRelease = 0;
    int prodNgNoEjector = 0;
    int inputResetRecheck = 0;
    int noAlarmSoundOnNg = 0;
    int noEjectorOnStop = 0;
    int resampleWithoutCut = 0;
    int stopCutOutput4 = 0;
    int prodAlarmOutputO5 = 0;
    int cavityAlarmOutputO4 = 0;
    int pswNoDetect = 0;
    int pswAddTemplate = 0;
    int pswStopDetect = 0;
    int safetyDoorClearsAlarm = 0;
    int enableDefect = 0;
    int enableSpot = 0;
    int enableIgnoreArea = 0;
    int enableManualLocate = 0;
    int showAllParams = 0;
    int safetyDoorTrigger = 0;
    int system3Item10 = 0;
    int useStatistics = 0;
    int output4Use = 0;
    int offset = 0;
    int system7Item11 = 0;
    int ngTemplate[8] = {};
    int realTimeRoi = 0;
    int useLog = 0;
    int system6Item11 = 0;
    int matchBrightness = 0;
    int angleCorrection = 0;
    int suppressRefreshAfterAlarm = 0;
    int addAllTemplates = 0;
    int separateSampling = 0;
    int prodNgSkipRecheck = 0;
    int shieldPin = 0;
    int cameraDisconnect = 0;
    int okMoldNumber = 0;
    int continuationArea = 0;
    int rectToQuad = 0;
    int continuousReplication = 0;
    int imageZoom = 0;
    int polygonOpenStart = 0;
    int recheckAllCameras = 0;
    int showDetectTime = 0;
    int ioPort = 0;
    int system7Item2 = 0;
    int isColors[8] = {};
    int grayChannel = 0;
    int noLensOptimization = 0;
    int minSpot = 0;
    int manualSnapshot = 0;
    int factoryParams = 0;
    int separateDetectSignal = 0;
    int trigMode = 0;
    int trigModeNext = 0;
    int stageGroups = 0;
    int preCutTime = 0;
    int autoShading = 0;
    int enableBlackArea = 0;
    int enableWhiteArea = 0;
    int enableWhiteNumber = 0;
    int enableBlackNumber = 0;
    int enableColorSpots = 0;
    int enableSimilarity = 0;
    int angle = 0;
    int system9Item20 = 0;

    char password[kPasswordSize] = {};
    int days = 0;
    int lostUpanAlarm = 0;
    int useDiskSaveImage = 0;
    int NgShowSwitch = 0;
    int defectEdgeIgnore = 0;
    int system7Item12 = 0;
    int detectCount = 0;
    int detectRow[8] = {};
    int rowTrigger[8] = {};
    int rowNgAction[8] = {};
    int detectRowCopy[8] = {};
    int inFunc[8] = {};
    int outFunc[8] = {};
    int ioGroupCount = 0;
    int sequentialDetect = 0;
    int externalTrigger = 0;
    int system11TableA[16] = {};
    int system11TableB[16] = {};
    int mirrorH[8] = {};
    int mirrorV[8] = {};
    // Read from other threads through getCurGroupName; guarded by its own lock.
    GuardedText groupName;
    QDir groupDir;
    int groupIndex = 0;
    int system9Item19 = 0;

    QJsonObject appConfig;
    QString cpuVendor;
    QString cpuModelName;
    QString cpuProductLine;
    QString cpuSeries;
    QString cpuGenerationText;
    int cpuGeneration = 0;
    int fps = 0;

private:
    void readGroupIndex();
    void applyBounds();
    void deriveDetections();
    void fillIoNames() const;
};
