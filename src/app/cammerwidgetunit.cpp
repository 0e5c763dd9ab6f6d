#include "cammerwidgetunit.h"

#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "clock.h"
#include "globals.h"
#include "wizardpara.h"

#include <QElapsedTimer>
#include <QTimer>

#include <utility>

namespace {
constexpr int kBlinkMs = 1000;
constexpr int kOutputChoices = 4;  // N1..N4
}

int CammerWidgetUnit::cameraIndex() const { return m_widget->camIndex; }
bool CammerWidgetUnit::isConnected() const { return m_widget->isConnected; }
bool CammerWidgetUnit::updateImage() { return m_widget->UpdateImage(); }
int CammerWidgetUnit::detectTimeMs() const { return m_widget->detectTimeMs; }
void CammerWidgetUnit::saveFailImage(int detection, int slot) { m_widget->SaveFailImage(detection, slot); }
void CammerWidgetUnit::updateFailImage(int detection, int slot) { m_widget->UpdateFailImage(detection, slot); }
void CammerWidgetUnit::startAlarmBlink() { m_widget->pTimerShowAlarm->start(kBlinkMs); }
void CammerWidgetUnit::setSpeed() { m_widget->SetSpeed(); }
void CammerWidgetUnit::manualUpdate()
{
    std::fill(std::begin(m_widget->groupPassed), std::end(m_widget->groupPassed), false);
    m_widget->ManualUpdateImage();
}
int CammerWidgetUnit::imageWidth() const { return m_widget->imageW; }
int CammerWidgetUnit::imageHeight() const { return m_widget->imageH; }
QWidget* CammerWidgetUnit::view() { return m_widget; }

bool CammerWidgetUnit::reconnect()
{
    CammerWidget* w = m_widget;
    if (!w->isConnected && w->pCamera)
        w->isConnected = w->pCamera->reconnect();
    return w->isConnected;
}

bool CammerWidgetUnit::runAlgorithm(int detection)
{
    CammerWidget* w = m_widget;
    if (detection < 0 || detection >= CammerRecong::kGroups || !w->pRecong)
        return true;
    if (w->reTrainPending[detection]) {
        if (gpWPara && gpWPara->detectEnable[detection]) {
            w->SaveReTrainImage(detection);
            // The new template 0 is learnt at once, as after an editor save.
            w->pRecong->CreateHomoShape(detection);
            w->pRecong->CreateShape(detection);
            w->pRecong->VarTrain(detection);
        }
        w->reTrainPending[detection] = false;
        w->camOK = true;
        w->groupPassed[detection] = true;
        return true;
    }
    QElapsedTimer timer;
    timer.start();
    w->pRecong->HomoTransShape(detection);
    w->pRecong->ShapeMatch(detection);
    w->pRecong->Run(detection);
    w->detectTimeMs = int(timer.elapsed());
    m_frameChecked = true;
    return w->camOK;
}

void CammerWidgetUnit::showCheck(int detection)
{
    // Two full-frame copies per camera: done here rather than in the check,
    // so that eight cameras checked at once do not hold up the outputs with them.
    if (std::exchange(m_frameChecked, false)) {
        m_widget->showFrame(m_widget->pCheckBuf);
        keepHistory(detection);
    }
    m_widget->update();
}

void CammerWidgetUnit::keepHistory(int detection)
{
    CammerWidget* w = m_widget;
    HistoryRing& frames = w->pHistory[detection];
    if (!frames.isOn())
        return;
    // Newest first: shift the times down by one.
    for (int i = CammerWidget::kHistoryFrames - 1; i > 0; --i)
        w->historyTime[detection][i] = w->historyTime[detection][i - 1];
    frames.push(w->pCheckBuf);
    w->historyTime[detection][0] = Clock::now().toString("hh:mm:ss");
    w->historyCount[detection] = qMin(w->historyCount[detection] + 1, CammerWidget::kHistoryFrames);
}

QVector<int> CammerWidgetUnit::ngOutputs(int detection) const
{
    QVector<int> outputs;
    const CammerWidget* w = m_widget;
    if (!w->pSingleton || detection < 0 || detection >= CammerRecong::kGroups)
        return outputs;
    const int count = qBound(0, w->pSingleton->roiCount[detection], CammerSingleton::kMaxRois);
    for (int r = 0; r < count; ++r) {
        if (w->roiResult[detection][r])
            continue;
        const int output = w->pSingleton->roiOutput[r];
        if (output >= 0 && output < kOutputChoices && !outputs.contains(output))
            outputs.append(output);
    }
    return outputs;
}
