// A console reporter that also remembers each benchmark's time, so a bench can print how
// it compares with the bare operation it stands on.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

// Keeps the console output and remembers each benchmark's time for the ratios: the median
// when repetitions were asked for, else the single run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.str()] = run.GetAdjustedRealTime();
            else if (run.run_type == Run::RT_Iteration)
                times[run.run_name.str()] = run.GetAdjustedRealTime();
        }
    }
    double Time(const std::string& name) const {
        if (auto found = medians.find(name); found != medians.end()) return found->second;
        if (auto found = times.find(name); found != times.end()) return found->second;
        return 0;
    }

private:
    std::map<std::string, double> medians;
    std::map<std::string, double> times;
};
