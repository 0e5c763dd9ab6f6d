#include "receiveratemeter.h"

namespace {
constexpr double kKilo = 1024.0;
constexpr double kMega = 1024.0 * 1024.0;
constexpr double kMsPerSecond = 1000.0;
}

ReceiveRateMeter::Reading ReceiveRateMeter::sample(const QString& card, quint64 receivedBytes, qint64 nowMs)
{
    Reading reading;
    auto it = m_baselines.find(card);
    if (it != m_baselines.end() && receivedBytes >= it->bytes && nowMs > it->ms) {
        reading.measured = true;
        reading.bytesPerSecond = double(receivedBytes - it->bytes) * kMsPerSecond / double(nowMs - it->ms);
    }
    // Two readings in the same millisecond keep the older baseline.
    if (it == m_baselines.end() || nowMs > it->ms || receivedBytes < it->bytes)
        m_baselines.insert(card, Baseline{receivedBytes, nowMs});
    return reading;
}

QString ReceiveRateMeter::rateText(double bytesPerSecond)
{
    const auto fixed2 = [](double v) { return QString::number(v, 'f', 2); };
    if (int(bytesPerSecond / kMega) >= 1)
        return fixed2(bytesPerSecond / kMega) + QStringLiteral("mb/s");
    if (int(bytesPerSecond / kKilo) >= 1)
        return fixed2(bytesPerSecond / kKilo) + QStringLiteral("kb/s");
    return fixed2(bytesPerSecond) + QStringLiteral("b/s");
}
