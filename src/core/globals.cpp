#include "globals.h"

QString gaLanStr[kLanguageTableSize];
int gLan = 0;

const QString& lanText(int row)
{
    static const QString empty;
    const int index = 4 * row + gLan;
    if (row < 0 || gLan < 0 || gLan >= kLanguageCount || index >= kLanguageTableSize)
        return empty;
    return gaLanStr[index];
}

int gShowW = 1920;
int gShowH = 1080;

int numCamera = 0;
int gDNum = 2;
int gTempNum = 1;
int gDrawHint = 0;
int gSource = -1;
QString gTempTime;
QString gDeviceID;
QString gAppDirPath;

int gAllNum[kMaxCameras] = {};
int gFailNum[kMaxCameras] = {};
int gAllCycleNum[kMaxCameras] = {};
int gFailCycleNum[kMaxCameras] = {};
int gSyncNGNum = 0;
int gSyncNGCycleNum = 0;

int gFailIndex[kMaxCameras][kMaxDetections] = {};
unsigned char gisSaveFail[kMaxCameras][kMaxDetections][2] = {};
FailPicture* gpFailImage[kMaxCameras][kMaxDetections][2] = {};
QString gSaveFailCycleId[kMaxCameras][kMaxDetections][2];
int gPicNumNG = 100;
int gPicNumOK = 100;

int gisGrayHue = 1;
bool gisTempAlarm = false;

const int TriginNo[8] = {1, 3, 4, 5, 6, 7, 8, 9};

// Input functions (16) and output functions (14), one text per language.
const char* gInName[64] = {
    "开模", "Open", "開模", "型開き",
    "顶退", "Back", "頂退", "後退",
    "备用", "RSV", "備用", "予備",
    "锁模", "Clamp", "鎖模", "型締め",
    "顶针", "Ejector", "頂針", "エジェクタ",
    "左模具", "Left mold", "左模具", "左金型",
    "右模具", "Right mold", "右模具", "右金型",
    "转模", "Transfer mold", "轉模", "金型移送",
    "复位", "Reset", "復位", "リセット",
    "启动", "Start", "啟動", "スタート",
    "取件", "Pick-up", "取件", "取出し",
    "合模完成", "Clamp done", "合模完成", "型締め完了",
    "射胶", "Injection", "射膠", "射出",
    "储料", "Charging", "儲料", "計量",
    "机械手", "Robot", "機械手", "ロボット",
    "清除报警", "Clear alarm", "清除報警", "アラーム解除",
};
const char* gOutName[56] = {
    "锁模", "Clmp", "鎖模", "型締め",
    "顶针", "Thim", "頂針", "エジェクタ",
    "报警", "Alrm", "報警", "アラーム",
    "备用", "RSV", "備用", "予備",
    "合格", "OK", "合格", "OK",
    "不良", "NG", "不良", "NG",
    "输出4", "O 4", "輸出4", "出力4",
    "输出5", "O 5", "輸出5", "出力5",
    "停机", "Stop machine", "停機", "機械停止",
    "允许取件", "Pick-up permit", "允許取件", "取出し許可",
    "检测完成", "Detect done", "檢測完成", "検出完了",
    "检测中", "Detecting", "檢測中", "検出中",
    "转模", "Transfer mold", "轉模", "金型移送",
    "机械手", "Robot", "機械手", "ロボット",
};

QMutex* pMutexIO = nullptr;
QMutex* pMutexSaveFail = nullptr;

QPixmap* gpPixmapBG = nullptr;
QPixmap* gpPixmapEdit = nullptr;
QPixmap* gpPixmapSlideru = nullptr;
QPixmap* gpPixmapSliderd = nullptr;
QPixmap* gpPixmapSlidert = nullptr;
QPixmap* gpPixmapTitle = nullptr;
QPixmap* gpPixmapLine = nullptr;

MainWindowBase* gpWin = nullptr;
WizardPara* gpWPara = nullptr;
WizardPara* gpWParaBak = nullptr;
ControlPortBase* gpControlIO = nullptr;
WarnBox* gpWarnBox = nullptr;
ChooseBox* gpChooseBox = nullptr;
PasswordBox* gpPasswordBox = nullptr;
NumberInput* gpNumPad = nullptr;
NumCharInput* gpNumCharPad = nullptr;
LostCameraWarnBox* gpLostCameraWarnBox = nullptr;
ProductAlarmWarnBox* gpProductAlarmWarnBox = nullptr;
SplashFrame* g_splashframe = nullptr;
NetworkSettingDialog* gpNetDialog = nullptr;

const char* const kProgramVersion = "18.0.1.86";
