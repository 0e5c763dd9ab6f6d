#pragma once

// wrk on loopback (keep-alive, --latency) and the figures read from its report.

#include "shellrunner.h"

#include <QRegularExpression>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace wrkrun {

struct Figures
{
    double rps = 0;          // every answer
    double okRps = 0;        // 2xx/3xx answers only: a 503 is not a request served
    double p50ms = 0;
    double p99ms = 0;
    double errorShare = 0;   // answers other than 2xx/3xx
};

// The median of a series (0 when empty).
inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

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
    const double requests = total.hasMatch() ? total.captured(1).toDouble() : 0;
    const double failed = errors.hasMatch() ? errors.captured(1).toDouble() : 0;
    if (requests > 0) {
        f.errorShare = failed / requests;
        f.okRps = f.rps * (1 - f.errorShare);
    }
    return f;
}

// wrk figures of several rounds against one server.
struct Series
{
    std::vector<double> okRps, p99ms;
    double errors = 0;  // mean share of answers other than 2xx/3xx
    double medianRps() const { return median(okRps); }
    double medianP99() const { return median(p99ms); }
    double minRps() const { return okRps.empty() ? 0 : *std::min_element(okRps.begin(), okRps.end()); }
    double maxRps() const { return okRps.empty() ? 0 : *std::max_element(okRps.begin(), okRps.end()); }
};

// Runs every url `rounds` times, the urls in turn and the first one changing
// every round, so that a change of load on the machine falls on all alike.
inline std::vector<Series> interleaved(const QStringList& urls, int rounds,
                                       const std::function<Figures(const QString&)>& runOne)
{
    std::vector<Series> series(size_t(urls.size()));
    for (int round = 0; round < rounds; ++round)
        for (int k = 0; k < urls.size(); ++k) {
            const int i = (k + round) % urls.size();
            const Figures f = runOne(urls.at(i));
            Series& s = series[size_t(i)];
            s.okRps.push_back(f.okRps);
            s.p99ms.push_back(f.p99ms);
            s.errors += f.errorShare / rounds;
        }
    return series;
}

// Warms every url up once with `runOne` (not counted), then runs them interleaved.
inline std::vector<Series> warmedInterleaved(const QStringList& urls, int rounds,
                                             const std::function<Figures(const QString&)>& runOne)
{
    for (const QString& url : urls)
        runOne(url);
    return interleaved(urls, rounds, runOne);
}

// Warms every url up once (not counted), then runs them interleaved at
// `connections`; each wrk run happens inside `around` (e.g. one that keeps the
// calling thread serving events meanwhile).
inline std::vector<Series> measure(const QStringList& urls, int connections, int seconds, int rounds,
                                   const std::function<void(const std::function<void()>&)>& around)
{
    return warmedInterleaved(urls, rounds, [&](const QString& url) {
        Figures f;
        around([&] { f = run(url, connections, seconds); });
        return f;
    });
}

} // namespace wrkrun
