#pragma once

#include "controlport.h"
#include "detectionunit.h"
#include "mainwindowbase.h"
#include "tempappdir.h"

#include <QStringList>
#include <QVector>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class ControlPort;
class DetectionCycle;
class WizardPara;

// A camera unit whose check results the test sets.
class FakeUnit : public DetectionUnit
{
public:
    explicit FakeUnit(int camera) : m_camera(camera) {}

    bool ok = true;
    QVector<int> outputs;  // outputs of the NG ROIs
    bool connected = true;
    int checks = 0;
    int updates = 0;
    int blinks = 0;
    QStringList imageCalls;
    QVector<int> shown;               // detections whose checked frame was shown
    std::function<void()> onShow;     // called as a checked frame is shown
    std::function<bool(int)> judge;   // the verdict per detection, when set (else `ok`)

    int cameraIndex() const override { return m_camera; }
    bool isConnected() const override { return connected; }
    bool updateImage() override { ++updates; return true; }
    bool runAlgorithm(int d) override
    {
        ++checks;
        const bool verdict = judge ? judge(d) : ok;
        lastOk[d & 7] = verdict;
        return verdict;
    }
    void showCheck(int d) override
    {
        shown << d;
        if (onShow)
            onShow();
    }
    // The outputs of the NG ROIs of the unit's last check of detection d.
    QVector<int> ngOutputs(int d) const override { return lastOk[d & 7] ? QVector<int>() : outputs; }
    int detectTimeMs() const override { return 1; }
    void saveFailImage(int d, int slot) override { imageCalls << QStringLiteral("save %1 %2").arg(d).arg(slot); }
    void updateFailImage(int d, int slot) override { imageCalls << QStringLiteral("update %1 %2").arg(d).arg(slot); }
    void startAlarmBlink() override { ++blinks; }
    bool reconnect() override { connected = true; return true; }
    void setSpeed() override {}
    void manualUpdate() override {}
    int imageWidth() const override { return 64; }
    int imageHeight() const override { return 48; }
    QWidget* view() override { return nullptr; }

private:
    int m_camera;
    bool lastOk[8] = {true, true, true, true, true, true, true, true};
};

// The main window as the cycle sees it, recording what the cycle asks of it.
class CycleWindow : public MainWindowBase
{
public:
    DetectionCycle* cycle = nullptr;
    QStringList records;
    int countWrites = 0;

    void InsertRecord(QString text, QString type) override { records << type + ": " + text; }
    void CountWrite() override { ++countWrites; }
    void CheckNG(bool ng) override;
    bool isOutputHeld(int output) const override;
};

// A detection cycle with fake cameras, a real ControlPort (no IO thread) and
// a live parameter record in mould-only mode 0: detection 1 on input 0.
// The board as the cycle drives it, counting every switch-off of each output: an off
// between two ons is a gap the machine sees however short.
class RecordingPort : public ControlPort
{
public:
    void IOSetOut(int output, int state) override
    {
        if (!state && output >= 0 && output < kOutputCount && IOGetOut(output))
            ++offs[output];
        ControlPort::IOSetOut(output, state);
        words.push_back({nowNs(), outputWord()});
    }
    static qint64 nowNs()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    int offs[kOutputCount] = {};
    // The word after every set, stamped as it was made: no switch is missed, however short.
    struct Word
    {
        qint64 ns;
        quint16 word;
    };
    std::vector<Word> words;
};

class CycleTest : public AppDirTest
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Raises input n as the board would report it (a rising edge).
    void pressInput(int input);
    void releaseInputs();
    // The board's input word as the IO thread read it at seenAtMs (monotonic ms), the read
    // before having come at lastReadMs.
    void reportInputs(int word, qint64 seenAtMs, qint64 lastReadMs = ControlPort::kUnknownRead);
    // One pass of the cycle.
    void runPass();
    // Mode 1, stage groups 2: detections 0-3 on, detection 0 on input 0, detection 1 on
    // secondInput, the stage of detections 0 and 1 first.
    void twoStages(int secondInput);
    int outputWord() const;

    std::unique_ptr<WizardPara> para;
    std::unique_ptr<RecordingPort> io;
    std::unique_ptr<CycleWindow> win;
    std::unique_ptr<DetectionCycle> cycle;
    std::vector<std::unique_ptr<FakeUnit>> units;
    FakeUnit* cam0 = nullptr;
    FakeUnit* cam1 = nullptr;
};

// Multi-detection: one detection per delay (tenths), on input 0 or the inputs given.
void setMultiDetection(WizardPara& para, const std::vector<int>& delays, const std::vector<int>& inputs = {});

// Resets the shared counters and the NG image table between tests.
void resetShellGlobals();
