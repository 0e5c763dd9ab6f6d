#pragma once

#include "ioframe.h"

#include <QFile>
#include <QObject>
#include <QString>

class QSocketNotifier;
class QTimer;

// The IO board on a pseudo-terminal: answers every host frame with the input
// word, keeps the output word the host sends and records each new output and
// input word with time stamps. Inputs are raised by commands (see usageText()).
class BoardSimulator : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultPulseMs = 300;

    explicit BoardSimulator(QObject* parent = nullptr);
    ~BoardSimulator() override;

    bool openPty(QString* error);
    QString slavePath() const { return m_slavePath; }
    bool setRecordFile(const QString& path, QString* error);

    // Runs one command line; returns the reply ("ok ..." or "error ...").
    QString execute(const QString& line);
    static QString usageText();

    quint16 inputs() const { return m_inputs; }
    quint16 outputs() const { return m_outputs; }

signals:
    void quitRequested();

private:
    void onReadable();
    void answer(const IOFrame::HostFrame& frame);
    // One line "<ISO time> <CLOCK_MONOTONIC ms> out|in 0x<word>": the monotonic
    // stamps of two processes on one machine can be compared (latency).
    void record(const char* direction, quint16 word);
    static qint64 monotonicMs();
    void setInputs(quint16 word);
    void setInput(int input, bool on);
    void pulse(int input, int ms);

    int m_master = -1;
    int m_slaveKeep = -1;  // held open so the master never sees a hang-up between host opens
    QString m_slavePath;
    QSocketNotifier* m_notifier = nullptr;
    IOFrameDecoder m_decoder{IOFrame::kHostFrameSize};

    quint16 m_inputs = 0;
    quint16 m_outputs = 0;
    bool m_haveOutputs = false;
    bool m_muted = false;
    int m_garbagePending = 0;
    int m_badSumPending = 0;
    quint64 m_frames = 0;

    QTimer* m_autoTimer = nullptr;
    int m_autoInput = 0;
    int m_autoPulseMs = kDefaultPulseMs;

    QFile m_record;
};
