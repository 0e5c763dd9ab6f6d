#pragma once

#include "controlportbase.h"
#include "mainwindowbase.h"
#include "modalanswerer.h"
#include "qttesthelpers.h"
#include "tempappdir.h"
#include "wizardpara.h"

#include <QStringList>
#include <QVector>
#include <gtest/gtest.h>
#include <memory>

class QTimer;

// The main window as the widgets see it, recording what they call.
class StandInWindow : public MainWindowBase
{
public:
    StandInWindow();

    void InsertRecord(QString text, QString type) override;
    void LCDOnOff(int on) override;
    void StopWTD() override;
    void FLushAll() override;
    bool isOutputHeld(int output) const override;
    void SlotReturn() override { calls << "SlotReturn"; }
    void SlotStartStop() override { calls << "SlotStartStop"; }
    void SlotSystemPara() override { calls << "SlotSystemPara"; }
    void SlotReTrain() override { calls << "SlotReTrain"; }
    void SlotAdjustArea() override { calls << "SlotAdjustArea"; }
    void SlotManualTrig(int detect) override { calls << QStringLiteral("SlotManualTrig %1").arg(detect); }
    void SlotMuliManualTrig() override { calls << "SlotMuliManualTrig"; }

    QStringList calls;
    QVector<int> heldOutputs;
};

// The IO outputs, recording every change.
class RecordingOutputs : public ControlPortBase
{
public:
    void IOSetOut(int output, int state) override { calls << QStringLiteral("set %1 %2").arg(output).arg(state); }
    void IOFlashOut() override { calls << QStringLiteral("flash"); }
    QStringList calls;
};

// Every widget test: its own application folder (no pictures: plain fills),
// the language table, a shown stand-in main window of the screen size, a
// fresh parameter record, and no keypad left from an earlier test.
class WidgetTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Sets the screen size and resizes the stand-in window to it.
    void setScreen(int width, int height);

    TempAppDir appDir;
    std::unique_ptr<StandInWindow> win;
    std::unique_ptr<WizardPara> para;
    RecordingOutputs outputs;
};

// Presses a widget at a point (mouse press and release), as a touch does.
void touchAt(QWidget* widget, const QPoint& pos);

