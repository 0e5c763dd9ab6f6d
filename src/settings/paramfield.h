#pragma once

#include <vector>

class CammerWidget;
class WizardPara;

// One field of the settings record as the settings screen shows it: where it
// lives in the record, its caption row, the control for it, its page, its
// bounds and when it is shown. The screen is built from the table alone.
struct ParamField
{
    enum Control { Edit, Check, Combo };
    enum Page { CameraPage, DetectionPage, OutputPage, RecognitionPage, ScreenPage, PasswordPage, PageCount };
    using Scalar = int WizardPara::*;
    using CameraArray = int (WizardPara::*)[8];
    using DetectArray = int (WizardPara::*)[9];
    // The camera unit's setter that sends this value to its camera.
    using UnitSetter = void (CammerWidget::*)();

    int row = 0;
    Control control = Edit;
    Page page = CameraPage;
    int min = 0;
    int max = 0;
    Scalar scalar = nullptr;
    CameraArray perCamera = nullptr;  // element of the camera shown
    DetectArray perDetect = nullptr;  // element `index`
    CameraArray element = nullptr;    // element `index` of an array of 8
    int index = 0;
    int shownOffset = 0;              // the control shows the stored value plus this
    const int* choiceRows = nullptr;  // combo items, `max + 1` rows
    bool (*shown)(const WizardPara&) = nullptr;
    int (*captionRow)(const WizardPara&) = nullptr;  // a caption that depends on the record
    UnitSetter live = nullptr;        // the value reaches the camera at once
    bool needsRestart = false;

    // The stored value in a record (the camera shown for per-camera fields).
    int& ref(WizardPara& para, int camera) const;
    int value(const WizardPara& para, int camera) const;
    bool isShown(const WizardPara& para) const { return !shown || shown(para); }
    int caption(const WizardPara& para) const { return captionRow ? captionRow(para) : row; }
};

// Every field of the settings record the screen shows, page by page.
const std::vector<ParamField>& paramFields();
