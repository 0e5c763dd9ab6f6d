#pragma once

// Runs the registered benchmarks and, after the usual table, prints the time
// ratio of each named pair (measured / reference) from the same run. Unless the
// command line says otherwise, every case is repeated 5 times in random
// interleaving (so load changes hit both sides alike) and the ratio is taken of
// the medians. The ratio of CPU times follows (the one to read for a
// single-thread case on a loaded machine, where waiting for the core inflates real time).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
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
            const std::string name = run.run_name.str();
            if (run.iterations <= 0)
                continue;
            const Time t{run.real_accumulated_time / double(run.iterations),
                         run.cpu_accumulated_time / double(run.iterations)};  // seconds
            if (run.run_type == Run::RT_Iteration && !medians.count(name))
                times[name] = t;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[name] = t;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    struct Time
    {
        double real = 0;
        double cpu = 0;
    };
    Time timeOf(const std::string& name) const
    {
        const auto m = medians.find(name);
        if (m != medians.end())
            return m->second;
        const auto t = times.find(name);
        return t != times.end() ? t->second : Time();
    }
    std::map<std::string, Time> times;
    std::map<std::string, Time> medians;
};

inline bool hasFlag(int argc, char** argv, const char* flag)
{
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0)
            return true;
    return false;
}

// pairs: (measured benchmark name, reference benchmark name), names as printed.
inline int run(int argc, char** argv, const std::vector<std::pair<std::string, std::string>>& pairs)
{
    std::vector<char*> args(argv, argv + argc);
    static char repetitions[] = "--benchmark_repetitions=5";
    static char interleaving[] = "--benchmark_enable_random_interleaving=true";
    static char aggregatesOnly[] = "--benchmark_display_aggregates_only=true";
    if (!hasFlag(argc, argv, "--benchmark_repetitions")) {
        args.push_back(repetitions);
        args.push_back(aggregatesOnly);
        if (!hasFlag(argc, argv, "--benchmark_enable_random_interleaving"))
            args.push_back(interleaving);
    }
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto& [measured, reference] : pairs) {
        const RecordingReporter::Time m = reporter.timeOf(measured);
        const RecordingReporter::Time r = reporter.timeOf(reference);
        if (m.real > 0 && r.real > 0 && r.cpu > 0)
            std::printf("ratio %s / %s = %.2f (cpu %.2f)\n", measured.c_str(), reference.c_str(), m.real / r.real,
                        m.cpu / r.cpu);
    }
    benchmark::Shutdown();
    return 0;
}

} // namespace benchratio
