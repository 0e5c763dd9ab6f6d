#include "mainwindowbase.h"

#include "globals.h"

#include <QSqlDatabase>

MainWindowBase::MainWindowBase(QWidget* parent)
    : QWidget(parent)
{
    greyColorTable.reserve(256);
    for (int i = 0; i < 256; ++i)
        greyColorTable.append(qRgb(i, i, i));
}

MainWindowBase::~MainWindowBase()
{
    // The children (edits, keypads, dialogs) are destroyed after the members:
    // they must not reach this window through gpWin any more.
    if (gpWin == this)
        gpWin = nullptr;
}

QSqlDatabase MainWindowBase::recordDatabase() const { return QSqlDatabase(); }
void MainWindowBase::InsertRecord(QString, QString) {}
void MainWindowBase::LCDOnOff(int on) { lcdOff = on ? 0 : 1; }
void MainWindowBase::StopWTD() {}
void MainWindowBase::FLushAll() {}
int MainWindowBase::CheckPassword() { return loginLevel; }
bool MainWindowBase::CheckRoot() { return loginLevel == 2; }
void MainWindowBase::LostCamera() {}
int MainWindowBase::CameraCheck() { return 1; }
void MainWindowBase::CameraRestart() {}
void MainWindowBase::CameraSetSpeed() {}
void MainWindowBase::ChangeCammer() {}
void MainWindowBase::CheckNG(bool) {}
void MainWindowBase::RunAlgorithm(int, int) {}
void MainWindowBase::CountWrite() {}
void MainWindowBase::syncTemplates(int, int) {}
QStringList MainWindowBase::getPathContext() const { return {}; }

QStringList MainWindowBase::getExportPathByContext(const QStringList& chosen) const
{
    // The select-all box answers with its own label: every item.
    const QStringList items = getPathContext();
    for (const QString& item : chosen)
        if (!items.contains(item))
            return items;
    return chosen;
}
void MainWindowBase::MScale(float) {}
void MainWindowBase::MScaleSetToMin() {}
void MainWindowBase::updateMScale(int, int) {}
void MainWindowBase::StopDetect() {}
bool MainWindowBase::isOutputHeld(int) const { return false; }
void MainWindowBase::rebootSystem() {}
void MainWindowBase::changeLanguage(int) {}
void MainWindowBase::SlotReturn() {}
void MainWindowBase::SlotStartStop() {}
void MainWindowBase::SlotSystemPara() {}
void MainWindowBase::SlotReTrain() {}
void MainWindowBase::SlotAdjustArea() {}
void MainWindowBase::SlotManualTrig0() { SlotManualTrig(0); }
void MainWindowBase::SlotManualTrig1() { SlotManualTrig(1); }
void MainWindowBase::SlotManualTrig(int) {}
void MainWindowBase::SlotMuliManualTrig() {}
