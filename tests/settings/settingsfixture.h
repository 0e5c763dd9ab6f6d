#pragma once

#include "cameraunitfixture.h"

#include "paramfield.h"

#include <functional>

class EditBox;
class WizardParaWidget;

// The settings screen and the ROI editor on a real simulated camera, with
// "PARAM.db" holding every sysparam row and the screen opened as the panel
// opens it (gpWParaBak a copy of gpWPara).
class SettingsTest : public CameraUnitTest
{
public:
    // The table index of the first field that matches.
    static int fieldIndex(const std::function<bool(const ParamField&)>& match);
    // The drag scrolling of the pages hands a held-back press on to the widget
    // under the finger on the screen, which the off-screen platform cannot find:
    // presses of these tests go straight to their widget instead (the
    // whole-program tests tap through the drag scrolling).
    static void withoutDragScrolling(WizardParaWidget* screen);

protected:
    void SetUp() override;

    EditBox* editFor(int field) const;
    QString sysparam(const QString& key) const;
    void openSettings();

    // Answers the next modal dialog with done(result), then the next ones in turn;
    // the texts each showed are collected in `seen`.
    void answer(QList<int> results);
    QStringList seen;
};
