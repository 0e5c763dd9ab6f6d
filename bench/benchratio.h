#pragma once

// Runs the registered benchmarks and, after the usual table, prints the time
// ratio of each named pair (measured / reference) from the same run.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace benchratio {

class RecordingReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !medians.count(run.run_name.str()))
                times[run.run_name.str()] = run.real_accumulated_time / double(run.iterations); // seconds
            // With repetitions the median of the runs stands for the benchmark.
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                times[run.run_name.str()] = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
                medians.insert(run.run_name.str());
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
    std::set<std::string> medians;
};

// pairs: (measured benchmark name, reference benchmark name), names as printed.
inline int run(int argc, char** argv, const std::vector<std::pair<std::string, std::string>>& pairs)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto& [measured, reference] : pairs) {
        const auto m = reporter.times.find(measured);
        const auto r = reporter.times.find(reference);
        if (m != reporter.times.end() && r != reporter.times.end() && r->second > 0)
            std::printf("ratio %s / %s = %.2f\n", measured.c_str(), reference.c_str(), m->second / r->second);
    }
    benchmark::Shutdown();
    return 0;
}

} // namespace benchratio
