#pragma once

// The globals shared by the subsystems of the monitor. Every shared global is
// declared here once and defined in globals.cpp; per-camera and per-detection
// tables have 8 entries.

#include <QString>
#include <QVector>
#include <QRgb>

#include "controlportbase.h"

class FailPicture;
class QMutex;
class QPixmap;
class MainWindowBase;
class WizardPara;
class ControlPort;
class WarnBox;
class ChooseBox;
class PasswordBox;
class NumberInput;
class NumCharInput;
class LostCameraWarnBox;
class ProductAlarmWarnBox;
class SplashFrame;
class NetworkSettingDialog;

constexpr int kMaxCameras = 8;
constexpr int kMaxDetections = 8;
constexpr int kLanguageCount = 4;
constexpr int kLanguageTableSize = 8192;

// Language table: row r in language l (0 simplified Chinese, 1 English,
// 2 traditional Chinese, 3 Japanese) at element 4 r + l.
extern QString gaLanStr[kLanguageTableSize];
extern int gLan;
// The text of a row in the current language; empty for rows outside the table.
const QString& lanText(int row);

// Screen size, set by the main window before any dialog is built.
extern int gShowW;
extern int gShowH;

extern int numCamera;   // cameras in use, 0..8
extern int gDNum;       // detections per cycle
extern int gTempNum;    // template slots per detection group
extern int gDrawHint;   // hint size drawn by the camera views
extern int gSource;     // image source of the camera views, -1 main screen
extern QString gTempTime;
extern QString gDeviceID;
extern QString gAppDirPath;

// Production counters per camera and over all cameras.
extern int gAllNum[kMaxCameras];
extern int gFailNum[kMaxCameras];
extern int gAllCycleNum[kMaxCameras];
extern int gFailCycleNum[kMaxCameras];
extern int gSyncNGNum;
extern int gSyncNGCycleNum;

// NG image hand-over between the detection cycle and the image writer (under pMutexSaveFail).
extern int gFailIndex[kMaxCameras][kMaxDetections];
extern unsigned char gisSaveFail[kMaxCameras][kMaxDetections][2];
extern FailPicture* gpFailImage[kMaxCameras][kMaxDetections][2];
// The id of the cycle each marked image was taken in, handed on with its file.
extern QString gSaveFailCycleId[kMaxCameras][kMaxDetections][2];
extern int gPicNumNG;
extern int gPicNumOK;

extern int gisGrayHue;
extern bool gisTempAlarm;

// The 1-based input number of each trigger-input choice.
extern const int TriginNo[8];

// Input and output function names, entry 4 f + gLan.
extern const char* gInName[64];
extern const char* gOutName[56];

extern QMutex* pMutexIO;
extern QMutex* pMutexSaveFail;

// Pictures loaded by main before the main window; any may be null.
extern QPixmap* gpPixmapBG;
extern QPixmap* gpPixmapEdit;
extern QPixmap* gpPixmapSlideru;
extern QPixmap* gpPixmapSliderd;
extern QPixmap* gpPixmapSlidert;
extern QPixmap* gpPixmapTitle;
extern QPixmap* gpPixmapLine;

// Shared objects published by main and the main window.
extern MainWindowBase* gpWin;
extern WizardPara* gpWPara;
extern WizardPara* gpWParaBak;
// The IO link (a ControlPort); its outputs are reachable from every library.
extern ControlPortBase* gpControlIO;
extern WarnBox* gpWarnBox;
extern ChooseBox* gpChooseBox;
extern PasswordBox* gpPasswordBox;
extern NumberInput* gpNumPad;
extern NumCharInput* gpNumCharPad;
extern LostCameraWarnBox* gpLostCameraWarnBox;
extern ProductAlarmWarnBox* gpProductAlarmWarnBox;
extern SplashFrame* g_splashframe;
extern NetworkSettingDialog* gpNetDialog;

// The program's version text.
extern const char* const kProgramVersion;
