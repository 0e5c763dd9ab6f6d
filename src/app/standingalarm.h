#pragma once

#include "globals.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>

// The NG alarm that stands, kept in "alarm.ini" each time it changes: a restart, a
// crash or a power cut raises it again at the next start, until a release or an OK
// check of its cameras lifts it. Cameras are written as the screen numbers them
// (from 1), outputs as a mask (bit n = output n + 1).
class StandingAlarm
{
public:
    static constexpr const char* kFileName = "alarm.ini";

    struct Detection
    {
        QList<int> cameras;    // camera indexes (from 0) whose NG the detection holds
        unsigned outputs = 0;  // outputs it holds on
        bool operator==(const Detection& other) const { return cameras == other.cameras && outputs == other.outputs; }
    };
    struct State
    {
        std::array<Detection, kMaxDetections> detections;
        QList<int> cameras;  // cameras of the running alarm
        int position = 0;    // position in its machine cycle of the NG shown (0: the first detection)
        bool stands() const;
        bool operator==(const State& other) const
        {
            return detections == other.detections && cameras == other.cameras && position == other.position;
        }
    };

    explicit StandingAlarm(const QString& path = QString::fromLatin1(kFileName));

    // Writes the state when it differs from what the file last got; false when the write failed.
    bool save(const State& state);
    // The state in the file; nothing stands when it is missing or unreadable.
    State load();

    static QByteArray toText(const State& state);
    static State fromText(const QByteArray& text);

private:
    QString m_path;
    QByteArray m_written;
};
