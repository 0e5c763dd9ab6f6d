#pragma once

#include "controlportbase.h"
#include "iothread.h"

#include <QObject>
#include <QString>

#include <deque>
#include <limits>
#include <memory>
#include <vector>

class QTimer;
class WizardPara;

// One deferred output change, applied through ControlPort::IOSetOut when its pulse timer ends.
// A switch-off that comes due while the main window holds the output on (an NG
// alarm, the stop or lost-camera interlock, the pre-cut) is dropped: the holder
// switches it off when it lets go.
struct stru_outputInfo
{
    int output = 0;
    int state = 0;
};

// The IO board as the GUI thread sees it: the wanted output word, the input
// levels and latched trigger edges, pulse outputs, and the IO thread that
// carries the words to and from the board. Lives in the GUI thread.
// Set-up by its owner: configure(*gpWPara) (or the single setters), then
// InitIOThread().
// The detection cycle stamps the watchdog at every pass and takes triggers;
// StopWTD clears the watchdog flag.
class ControlPort : public QObject, public ControlPortBase
{
    Q_OBJECT
public:
    static constexpr int kOutputCount = 16;
    static constexpr int kInputCount = 16;
    static constexpr int kPulseTickMs = 100;  // pulse lengths are given in tenths of a second
    // The board's port for a port number; MM_IO_DEVICE in the environment
    // overrides it (a simulator's pseudo-terminal in tests and the demo).
    static constexpr const char* kPortPattern = "/dev/ttyS%1";
    static constexpr const char* kDeviceOverrideEnv = "MM_IO_DEVICE";

    explicit ControlPort(QObject* parent = nullptr);
    ~ControlPort() override;

    // gpControlIO as the ControlPort it is (null when it is none).
    static ControlPort* fromGlobal();

    static QString devicePathForPort(int port);

    // Outputs (logical state: 1 = the function is active).
    void IOSetOut(int output, int state) override;
    void IOFlashOut() override;
    int IOGetOut(int output) const;
    // The output as the board last reported it applied (logical state); the
    // wanted state before the IO thread runs. Shown while the link is down.
    int appliedOut(int output) const;
    quint16 outputWord() const { return m_outputs; }
    // The word on the line: logical outputs with the inverted ones flipped.
    quint16 lineOutputWord() const { return quint16(m_outputs ^ m_inversion); }
    // Switches an output to state now and back after tenths x 100 ms; tenths <= 0
    // leaves it switched. A new pulse of the same output replaces its pending end.
    void IOPulseOut(int output, int state, int tenths);
    // Applies a change after delayMs (in order with other changes due at the same time).
    void IODelayOut(int output, int state, int delayMs);
    int pendingOutputChanges() const { return int(m_deferred.size()); }
    // A pulse (or delayed change) of this output has yet to end; output 3
    // also counts while the output it is coupled to pulses.
    bool isPulsing(int output) const;

    // Inputs as last reported by the board (input 4 mapping applied).
    int IOGetIn(int input) const;
    quint16 inputWord() const { return m_inputs; }
    // Monotonic ms of the last level change of an input (0 = never changed),
    // as the IO thread saw it.
    qint64 inputChangedAt(int input) const;
    // Every rising edge of an input is latched until taken (trigger inputs),
    // with the times the IO thread saw it rise and fall, so that a pulse is
    // judged by its own length however late the GUI thread looks at it.
    // takeTrigger takes the oldest pulse whatever its length.
    bool takeTrigger(int input);
    // Takes the oldest pulse that lasted steadyMs (or has been high that long by
    // nowMs); shorter pulses before it are dropped as flicker. False when none
    // is due (a pulse still high but not yet steady stays latched).
    bool takeSteadyTrigger(int input, qint64 steadyMs, qint64 nowMs);
    // Whether the oldest pulse is steady, without taking it; *roseAt tells the earliest it
    // can have risen (its length is judged by the times it was seen). Flicker before it is dropped.
    bool hasSteadyTrigger(int input, qint64 steadyMs, qint64 nowMs, qint64* roseAt = nullptr);
    // When the oldest pulse, still high, will have lasted steadyMs; -1 when none waits.
    qint64 steadyAt(int input, qint64 steadyMs) const;
    bool hasTrigger(int input) const;
    void clearTriggers();
    // Pulses kept per input for the GUI thread; an older one is dropped (and logged) beyond this.
    static constexpr int kMaxLatchedPulses = 32;
    // No read before is known (monotonic times may be below 0 in a test's clock).
    static constexpr qint64 kUnknownRead = std::numeric_limits<qint64>::min();

    // Set-up before InitIOThread: port number, inverted outputs (initial
    // state 1), output 4 and input 4 use, all from the parameter record.
    void configure(const WizardPara& para);
    void setPortNumber(int port) { m_devicePath = devicePathForPort(port); }
    void setDevicePath(const QString& path) { m_devicePath = path; }
    QString devicePath() const { return m_devicePath; }
    void setTiming(const IOThread::Timing& timing) { m_timing = timing; }
    // Bit n set: output n is driven inverted, so it is on while idle.
    void setOutputInversion(quint16 mask);
    // k = 1..3: output 3 is switched together with output k - 1; 0: alone.
    void setOutput4Use(int k) { m_output4Use = k; }
    // k = 1..3: the level of input 3 also counts as input k - 1; 0: alone.
    void setInput4Use(int k) { m_input4Use = k; }
    // A wait between two answers of the board longer than this is logged: the
    // shake-erase time (a trigger must last it), at least kMinReadGapWarningMs.
    static constexpr int kMinReadGapWarningMs = 50;
    void setReadGapWarningMs(int ms);
    int readGapWarningMs() const { return m_readGapWarningMs; }

    // Starts the IO thread once; the published word is the current one.
    void InitIOThread();
    void stampWatchdog();
    void setWatchdogFlag(bool on);
    bool watchdogFlag() const { return m_watchdogFlag; }
    bool isLinkUp() const { return m_linkUp; }
    IOThread* ioThread() const { return m_thread.get(); }

signals:
    // In the GUI thread, after the levels are stored and the edges latched.
    void sigIOChange(int inputWord);
    void sigLinkChanged(bool up);

private slots:
    // A change of the board's inputs now / at the time the IO thread read it.
    void SlotIOChange(int rawInputs);
    // lastReadMs: the read before, which showed the old levels (kUnknownRead: seenAtMs is taken).
    void SlotInputsSeen(int rawInputs, qint64 seenAtMs, qint64 lastReadMs = kUnknownRead);
    void SlotPulseTimeout();
    void SlotLinkChanged(bool up);

private:
    struct Deferred
    {
        qint64 dueMs;
        quint64 sequence;
        stru_outputInfo info;
    };

    static bool validOutput(int output);
    bool isCoupledToOutput4(int output) const;
    void schedule(int output, int state, qint64 delayMs);
    void armPulseTimer();

    QString m_devicePath;
    IOThread::Timing m_timing;
    std::unique_ptr<IOThread> m_thread;

    quint16 m_outputs = 0;
    quint16 m_inversion = 0;
    int m_output4Use = 0;
    bool m_flushQueued = false;

    quint16 m_rawInputs = 0;
    quint16 m_inputs = 0;
    int m_input4Use = 0;
    int m_readGapWarningMs = kMinReadGapWarningMs;
    qint64 m_inputChangedAt[kInputCount] = {};
    struct Pulse
    {
        qint64 roseAt = 0;
        qint64 fellAt = 0;
        bool high = true;
        qint64 earliest = 0;  // the read before its rise: the edge came after it
    };
    std::deque<Pulse> m_pulses[kInputCount];
    bool m_linkUp = false;
    bool m_watchdogFlag = true;

    std::vector<Deferred> m_deferred;  // by due time, then by sequence
    quint64 m_sequence = 0;
    QTimer* m_pulseTimer = nullptr;
};
