#include "lostcamerawarnbox.h"

#include "colorbutton.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "shellrunner.h"

#include <QThread>

namespace {
constexpr int kRowShutDown = 209;
constexpr int kRowCameraDisconnect = 657;
constexpr int kSettleSeconds = 1;
}

LostCameraWarnBox::LostCameraWarnBox(QWidget* parent)
    : WarnBox(parent)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint);
    m_ok->setText(lanText(kRowShutDown));
    m_ok->fitText();
    setText(lanText(kRowCameraDisconnect));
}

void LostCameraWarnBox::accept()
{
    if (gpWin) {
        // The record goes in before the databases are closed.
        gpWin->InsertRecord(QStringLiteral("因丢失相机手动关闭电源"), QStringLiteral("operate"));
        gpWin->StopWTD();
        gpWin->FLushAll();
    }
    QThread::sleep(kSettleSeconds);
    runProgram(QStringLiteral("init"), {QStringLiteral("0")});
    QDialog::accept();
}
