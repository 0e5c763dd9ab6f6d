#include "productalarmwarnbox.h"

#include "globals.h"
#include "mainwindowbase.h"
#include "statecodes.h"

namespace {
constexpr int kRowProductionReached = 720;
}

ProductAlarmWarnBox::ProductAlarmWarnBox(QWidget* parent)
    : WarnBox(parent)
{
    setText(lanText(kRowProductionReached));
}

void ProductAlarmWarnBox::accept()
{
    if (gpControlIO) {
        // Output 0 interlocks the clamp and output 2 sounds the alarm; an NG or a
        // lost camera may still need either of them.
        for (int output : {kClampOutput, kAlarmOutput}) {
            if (!gpWin || !gpWin->isOutputHeld(output))
                gpControlIO->IOSetOut(output, 0);
        }
        gpControlIO->IOFlashOut();
    }
    if (gpWin)
        gpWin->prodAlarmCount = 0;
    QDialog::accept();
}
