#include "standingalarm.h"

#include "storedfile.h"

#include <QFile>
#include <QStringList>

namespace {

QList<int> numbers(const QString& text)
{
    QList<int> list;
    for (const QString& word : text.split(' ', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int n = word.toInt(&ok, 0);
        if (ok)
            list << n;
    }
    return list;
}

QByteArray cameraText(const QList<int>& cameras)
{
    QStringList words;
    for (int camera : cameras)
        words << QString::number(camera + 1);
    return words.join(' ').toLatin1();
}

// Screen numbers back to indexes; numbers of no camera are dropped.
QList<int> cameraIndexes(const QString& text)
{
    QList<int> list;
    for (int n : numbers(text))
        if (n >= 1 && n <= kMaxCameras && !list.contains(n - 1))
            list << n - 1;
    return list;
}

} // namespace

bool StandingAlarm::State::stands() const
{
    for (const Detection& d : detections)
        if (!d.cameras.isEmpty() || d.outputs)
            return true;
    return false;
}

StandingAlarm::StandingAlarm(const QString& path)
    : m_path(path)
{
}

bool StandingAlarm::save(const State& state)
{
    const QByteArray text = toText(state);
    if (text == m_written)
        return true;
    // A failed write is written again by the stored files' retry, with the latest content.
    if (!StoredFile::write(m_path, text))
        return false;
    m_written = text;
    return true;
}

StandingAlarm::State StandingAlarm::load()
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return State();
    m_written = file.readAll();
    return fromText(m_written);
}

QByteArray StandingAlarm::toText(const State& state)
{
    QByteArray text = "[alarm]\n";
    if (!state.stands())
        return text;
    text += "position=" + QByteArray::number(state.position) + '\n';
    text += "cameras=" + cameraText(state.cameras) + '\n';
    for (int d = 0; d < kMaxDetections; ++d) {
        const Detection& detection = state.detections[size_t(d)];
        if (detection.cameras.isEmpty() && !detection.outputs)
            continue;
        const QByteArray key = "detection" + QByteArray::number(d + 1);
        text += key + ".cameras=" + cameraText(detection.cameras) + '\n';
        text += key + ".outputs=" + QByteArray::number(detection.outputs) + '\n';
    }
    return text;
}

StandingAlarm::State StandingAlarm::fromText(const QByteArray& text)
{
    State state;
    const unsigned outputMask = 0xFFFF;
    for (const QByteArray& raw : text.split('\n')) {
        const QString line = QString::fromLatin1(raw).trimmed();
        const int eq = line.indexOf('=');
        if (eq <= 0 || line.startsWith('[') || line.startsWith('#'))
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("position")) {
            state.position = qMax(0, value.toInt());
        } else if (key == QLatin1String("cameras")) {
            state.cameras = cameraIndexes(value);
        } else if (key.startsWith(QLatin1String("detection"))) {
            const int dot = key.indexOf('.');
            bool ok = false;
            const int d = key.mid(9, dot - 9).toInt(&ok) - 1;
            if (!ok || dot < 0 || d < 0 || d >= kMaxDetections)
                continue;
            Detection& detection = state.detections[size_t(d)];
            const QString field = key.mid(dot + 1);
            if (field == QLatin1String("cameras"))
                detection.cameras = cameraIndexes(value);
            else if (field == QLatin1String("outputs"))
                detection.outputs = value.toUInt() & outputMask;
        }
    }
    return state;
}
