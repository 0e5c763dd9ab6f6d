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
unsigned char* gpFailImage[kMaxCameras][kMaxDetections][2] = {};
int gPicNumNG = 100;
int gPicNumOK = 100;

int gisGrayHue = 1;
bool gisTempAlarm = false;

const int TriginNo[8] = {1, 3, 4, 5, 6, 7, 8, 9};

// Filled with the function names by the parameter store's IO naming.
const char* gInName[64] = {};
const char* gOutName[56] = {};

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
