#pragma once

#include <QMap>
#include <QString>

// Receive rate of each card from successive byte counters. The first reading
// of a card and a counter that went back (card reset, counter wrap) only set
// the baseline, so no reading is ever taken against 0 or across a reset; the
// rate is divided by the time that really passed between the two readings.
class ReceiveRateMeter
{
public:
    struct Reading
    {
        bool measured = false;  // false: baseline set, no rate yet
        double bytesPerSecond = 0.0;
    };

    Reading sample(const QString& card, quint64 receivedBytes, qint64 nowMs);

    // "1.00kb/s" style text: mb/s from 1 MiB/s, kb/s from 1 KiB/s, else b/s.
    static QString rateText(double bytesPerSecond);

private:
    struct Baseline
    {
        quint64 bytes = 0;
        qint64 ms = 0;
    };
    QMap<QString, Baseline> m_baselines;
};
