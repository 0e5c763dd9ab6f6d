#include "shellfixture.h"

#include "clock.h"
#include "controlport.h"
#include "detectioncycle.h"
#include "globals.h"
#include "savefialimagethread.h"
#include "statecodes.h"
#include "wizardpara.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QMutex>

void CycleWindow::CheckNG(bool ng)
{
    cycle->CheckNG(ng);
}

bool CycleWindow::isOutputHeld(int output) const
{
    return cycle && (cycle->heldOutputs() & (1u << output));
}

void setMultiDetection(WizardPara& para, const std::vector<int>& delays, const std::vector<int>& inputs)
{
    para.trigMode = kAllGroupsTrigMode;
    gDNum = int(delays.size());
    for (int d = 0; d < gDNum; ++d) {
        para.detectEnable[d] = 1;
        para.trigInDelay[d] = delays[size_t(d)];
        para.trigInput[d] = inputs.empty() ? 0 : inputs[size_t(d)];
    }
}

void resetShellGlobals()
{
    for (int c = 0; c < kMaxCameras; ++c) {
        gAllNum[c] = gFailNum[c] = gAllCycleNum[c] = gFailCycleNum[c] = 0;
        for (int d = 0; d < kMaxDetections; ++d) {
            gFailIndex[c][d] = 0;
            gisSaveFail[c][d][0] = gisSaveFail[c][d][1] = 0;
            gpFailImage[c][d][0] = gpFailImage[c][d][1] = nullptr;
            gSaveFailCycleId[c][d][0].clear();
            gSaveFailCycleId[c][d][1].clear();
        }
    }
    gSyncNGNum = gSyncNGCycleNum = 0;
    if (!pMutexSaveFail)
        pMutexSaveFail = new QMutex;
    if (!pMutexIO)
        pMutexIO = new QMutex;
    SaveFialImageThread::clearQueue();
}

void CycleTest::SetUp()
{
    resetShellGlobals();
    para = std::make_unique<WizardPara>();
    gpWPara = para.get();
    gDNum = 2;
    para->detectEnable[0] = 0;
    para->detectEnable[1] = 1;
    para->trigInput[0] = 0;
    para->trigInput[1] = 0;
    para->ngRecordNum = 5;
    para->okRecordNum = 0;
    gPicNumNG = 5;
    gPicNumOK = 0;

    io = std::make_unique<RecordingPort>();
    gpControlIO = io.get();
    win = std::make_unique<CycleWindow>();
    cycle = std::make_unique<DetectionCycle>(win.get(), io.get());
    win->cycle = cycle.get();
    units.push_back(std::make_unique<FakeUnit>(0));
    units.push_back(std::make_unique<FakeUnit>(1));
    cam0 = units[0].get();
    cam1 = units[1].get();
    cycle->setUnits({cam0, cam1});
}

void CycleTest::TearDown()
{
    cycle.reset();
    win.reset();
    gpControlIO = nullptr;
    io.reset();
    gpWPara = nullptr;
}

void CycleTest::pressInput(int input)
{
    // The press comes after what the test did before it: in a later millisecond than any
    // NG decided so far (one of the signal's own millisecond may have come after it).
    for (const qint64 before = MonotonicClock::ms(); MonotonicClock::ms() == before;) {
    }
    const int word = int(io->inputWord()) | (1 << input);
    QMetaObject::invokeMethod(io.get(), "SlotIOChange", Qt::DirectConnection, Q_ARG(int, word));
}

void CycleTest::releaseInputs()
{
    QMetaObject::invokeMethod(io.get(), "SlotIOChange", Qt::DirectConnection, Q_ARG(int, 0));
}

void CycleTest::reportInputs(int word, qint64 seenAtMs, qint64 lastReadMs)
{
    QMetaObject::invokeMethod(io.get(), "SlotInputsSeen", Qt::DirectConnection, Q_ARG(int, word),
                              Q_ARG(qint64, seenAtMs), Q_ARG(qint64, lastReadMs));
}

void CycleTest::twoStages(int secondInput)
{
    para->trigMode = 1;
    para->stageGroups = 2;
    gDNum = 4;
    for (int d = 0; d < 4; ++d)
        para->detectEnable[d] = 1;
    para->trigInput[0] = 0;
    para->trigInput[1] = secondInput;
    win->stageFlag = 1;
}

void CycleTest::runPass()
{
    cycle->Run();
}

int CycleTest::outputWord() const
{
    return io->outputWord();
}
