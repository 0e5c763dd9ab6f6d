#pragma once

// wrk on loopback (keep-alive, --latency) and the figures read from its report.

#include "shellrunner.h"

#include <QRegularExpression>
#include <QString>
#include <cstdio>

namespace wrkrun {

struct Figures
{
    double rps = 0;
    double p50ms = 0;
    double p99ms = 0;
    double errorShare = 0;   // answers other than 2xx/3xx
};

inline double toMs(const QString& value, const QString& unit)
{
    const double v = value.toDouble();
    return unit == "us" ? v / 1000.0 : unit == "s" ? v * 1000.0 : v;
}

inline Figures run(const QString& url, int connections, int seconds)
{
    const int threads = connections == 1 ? 1 : 4;
    const ShellResult r = runProgram("wrk", {"-t", QString::number(threads), "-c", QString::number(connections), "-d",
                                             QStringLiteral("%1s").arg(seconds), "--latency", url},
                                     (seconds + 30) * 1000);
    Figures f;
    const QString out = QString::fromUtf8(r.stdOut);
    const auto rps = QRegularExpression("Requests/sec:\\s+([0-9.]+)").match(out);
    const auto p50 = QRegularExpression("\\s50%\\s+([0-9.]+)(us|ms|s)").match(out);
    const auto p99 = QRegularExpression("\\s99%\\s+([0-9.]+)(us|ms|s)").match(out);
    if (rps.hasMatch())
        f.rps = rps.captured(1).toDouble();
    if (p50.hasMatch())
        f.p50ms = toMs(p50.captured(1), p50.captured(2));
    if (p99.hasMatch())
        f.p99ms = toMs(p99.captured(1), p99.captured(2));
    if (!r.ok() || !rps.hasMatch())
        std::fprintf(stderr, "wrk failed on %s: %s\n", qPrintable(url), r.stdErr.constData());
    const auto total = QRegularExpression("(\\d+) requests in").match(out);
    const auto errors = QRegularExpression("Non-2xx or 3xx responses:\\s+(\\d+)").match(out);
    if (total.hasMatch() && errors.hasMatch() && total.captured(1).toDouble() > 0)
        f.errorShare = errors.captured(1).toDouble() / total.captured(1).toDouble();
    return f;
}

} // namespace wrkrun
