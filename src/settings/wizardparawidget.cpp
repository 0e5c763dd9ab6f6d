#include "wizardparawidget.h"

#include "cammerwidget.h"
#include "globals.h"
#include "wizardpara.h"

WizardParaWidget::WizardParaWidget(MainWindowBase* window, QWidget* parent) : QWidget(parent), m_win(window) {}

CammerWidget* WizardParaWidget::shownUnit() const
{
    return shownCamera >= 0 && shownCamera < m_units.size() ? m_units.at(shownCamera) : nullptr;
}

namespace {

using Field = int (WizardPara::*)[8];
using UnitSetter = void (CammerWidget::*)();

// Writes one per-camera field of the edited record and runs the unit's setter.
void editAndApply(CammerWidget* unit, int camera, Field field, int value, UnitSetter setter)
{
    if (!gpWParaBak || camera < 0 || camera >= kMaxCameras)
        return;
    (gpWParaBak->*field)[camera] = value;
    if (unit)
        (unit->*setter)();
}

}  // namespace

void WizardParaWidget::SetExposeTime(int value)
{
    editAndApply(shownUnit(), shownCamera, &WizardPara::exposeTime, value, &CammerWidget::SetExposeTime);
}

void WizardParaWidget::SetAdjust(int value)
{
    editAndApply(shownUnit(), shownCamera, &WizardPara::adjustPlus, value, &CammerWidget::SetAdjustPlus);
}

void WizardParaWidget::SetSharp(int value)
{
    editAndApply(shownUnit(), shownCamera, &WizardPara::sharp, value, &CammerWidget::SetSharp);
}

void WizardParaWidget::SetContrast(int value)
{
    editAndApply(shownUnit(), shownCamera, &WizardPara::contrast, value, &CammerWidget::SetContrast);
}

void WizardParaWidget::SetGamma(int value)
{
    editAndApply(shownUnit(), shownCamera, &WizardPara::gamma, value, &CammerWidget::SetGamma);
}

void WizardParaWidget::SetSaturation(int value)
{
    editAndApply(shownUnit(), shownCamera, &WizardPara::saturation, value, &CammerWidget::SetSaturation);
}

void WizardParaWidget::Set3DNoise(int value)
{
    editAndApply(shownUnit(), shownCamera, &WizardPara::noise3D, value, &CammerWidget::Set3DNoise);
}

void WizardParaWidget::set2DNoise()
{
    if (CammerWidget* unit = shownUnit())
        unit->Set2DNoise();
}

void WizardParaWidget::SetAutoWDR(int value)
{
    if (gpWParaBak)
        gpWParaBak->autoShading = value;
    if (CammerWidget* unit = shownUnit())
        unit->SetWDR();
}

void WizardParaWidget::SetHMirror()
{
    if (gpWParaBak && shownCamera >= 0 && shownCamera < kMaxCameras)
        editAndApply(shownUnit(), shownCamera, &WizardPara::mirrorH, gpWParaBak->mirrorH[shownCamera] ? 0 : 1,
                     &CammerWidget::SetHMirror);
}

void WizardParaWidget::SetVMirror()
{
    if (gpWParaBak && shownCamera >= 0 && shownCamera < kMaxCameras)
        editAndApply(shownUnit(), shownCamera, &WizardPara::mirrorV, gpWParaBak->mirrorV[shownCamera] ? 0 : 1,
                     &CammerWidget::SetVMirror);
}
