#pragma once
// A console reporter that also keeps each benchmark's real time per
// iteration and its counters, so that a benchmark program can print the
// comparisons it exists for once all runs are done.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

class SummaryReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, as the library's own reporter does.
    SummaryReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            times[run.benchmark_name()] = run.GetAdjustedRealTime();
            for (const auto& [name, counter] : run.counters) counters[run.benchmark_name()][name] = counter.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Real time per iteration of a benchmark that ran, in its own unit; 0 if it did not run.
    double time(const std::string& name) const
    {
        const auto it = times.find(name);
        return it == times.end() ? 0.0 : it->second;
    }

    std::map<std::string, std::map<std::string, double>> counters;

private:
    std::map<std::string, double> times;
};
