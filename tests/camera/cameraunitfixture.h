#pragma once

#include "camerafixture.h"

#include "cameramanager.h"
#include "cammerwidget.h"
#include "failpicture.h"
#include "choosebox.h"
#include "warnbox.h"
#include "wizardpara.h"

#include <QMutex>
#include <memory>

class DrawROIWidget;
class WizardParaWidget;

// A camera unit on a real simulated plug-in in a temporary application folder
// with "PARAM.db" open, live and edited settings records, the shared dialogs
// and the NG image table of camera 0.
class CameraUnitTest : public CameraPluginTest
{
protected:
    static constexpr int kWidth = 960;   // half the screen: display = 2 x image
    static constexpr int kHeight = 540;

    void SetUp() override;
    void TearDown() override;

    // Builds the unit for one scripted camera (simulated build unless real).
    CammerWidget* makeUnit(QJsonObject spec, bool real = false);
    static QJsonObject unitCamera(const QString& serial);

    // Mouse events as a touch produces them.
    void press(const QPoint& p);
    void moveTo(const QPoint& p, bool held = true);
    void release(const QPoint& p);

    QString storedRow(const QString& name) const;

    std::unique_ptr<CameraManager> manager;
    std::unique_ptr<WizardPara> live;
    std::unique_ptr<WizardPara> edited;
    std::unique_ptr<WarnBox> warnBox;
    std::unique_ptr<ChooseBox> chooseBox;
    DrawROIWidget* editor = nullptr;       // child of the window
    WizardParaWidget* settings = nullptr;  // child of the window
    CammerWidget* unit = nullptr;          // child of the window
    QMutex failMutex;
    std::vector<FailPicture> failImages;
};
