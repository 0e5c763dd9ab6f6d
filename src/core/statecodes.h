#pragma once

// Named values of the main window's state fields and of the camera views'
// image source. The fields stay plain ints (stored and reported as numbers);
// code compares them with these names.

// MainWindowBase::runState
constexpr int kRunRunning = 1;
constexpr int kRunTraining = 2;   // templates being learnt
constexpr int kRunStopped = 3;

// MainWindowBase::detectState
constexpr int kDetectCountingDown = 1;
constexpr int kDetectDone = 2;
constexpr int kDetectWaiting = 3;

// MainWindowBase::pageState
constexpr int kPageLive = 0;
constexpr int kPageOk = 1;        // OK result shown
constexpr int kPageAlarm = 2;     // NG alarm
constexpr int kPageAlarmImage = 3;

// gSource: what the camera views show
constexpr int kSourceMain = -1;         // the main screen
constexpr int kSourceEditor = 0;        // ROI editing on the edited parameters (the template)
constexpr int kSourceLive = 1;          // the editor's live or alarm image on the active parameters
constexpr int kSourceRecentNg = 2;
constexpr int kSourceOkRecords = 3;
constexpr int kSourceNgRecords = 4;

// MainWindowBase::drawMode: the ROI editor's drawing tool
constexpr int kDrawNone = 0;
constexpr int kDrawRect = 1;
constexpr int kDrawPolygon = 2;   // polygon or free-hand outline
constexpr int kDrawCircle = 4;

// The outputs several parts switch by number (0-based: "O 1" is 0).
constexpr int kClampOutput = 0;
constexpr int kEjectorOutput = 1;
constexpr int kAlarmOutput = 2;
constexpr int kOutput4 = 3;
constexpr int kOutput5 = 4;
// The input whose function (WizardPara::inFunc, trigger mode 3) is "Clear alarm" lifts the NG alarm.
constexpr int kInFunctionClearAlarm = 15;
// The input whose pulses "Shield pin" thins out, and the one that resets that count (the mould opening).
constexpr int kShieldedInput = 2;
constexpr int kMouldOpenInput = 0;

// WizardPara::trigMode that checks every detection group in one cycle.
constexpr int kAllGroupsTrigMode = 3;

// CameraUnitState::drawState: what a finger on the ROI editor is doing
constexpr int kDrawStateIdle = 0;
constexpr int kDrawStateShape = 1;     // drawing a new shape
constexpr int kDrawStateMove = 2;      // moving the selected ROI
constexpr int kDrawStateHandle = 3;    // dragging a handle or node of the selected ROI
constexpr int kDrawStatePressed = 5;   // a new rectangle or circle pressed, not yet dragged
