// BenchReport.h - what every benchmark under bench/ reports besides Google
// Benchmark's own table: named ratios (reference time / own time, or a
// relative difference), the conditions they were measured under, and the
// same as one JSON object with --json, so that a script can compare runs.
#ifndef VYX_BENCH_REPORT_H
#define VYX_BENCH_REPORT_H

#include <nlohmann/json.hpp>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace vyxbench {

// How a ratio is judged against its target.
enum class Goal {
    AtLeast,      // the ratio must reach the target (1.5 means "1.5 times as fast")
    Within,       // a relative difference that must stay at or under the target (0.10 = 10 %)
    Information,  // no target: shown to explain the others
};

struct Ratio {
    std::string key;                  // stable JSON name, e.g. "histogram_camera_vs_cv_calchist"
    std::string what;                 // the line printed for people
    Goal goal = Goal::Information;
    double target = 0;
    std::optional<double> fastest;    // from the fastest repetitions of separate benchmarks
    std::optional<double> paired;     // from the alternating measurement (the figure judged)
};

// Removes every "--json" from argv; true when there was one.
bool TakeJsonFlag(int& argc, char** argv);

// Load averages over 1, 5 and 15 minutes, and the number of CPUs.
nlohmann::json MachineState();

// "0.52 0.61 0.70 on 2 CPUs": the load averages of MachineState() for people.
std::string LoadText(const nlohmann::json& state);

// Prints one ratio as a line: value, target and verdict.
void PrintRatio(std::FILE* out, const Ratio& r);

// {"benchmark": name, "machine_before": ..., "machine_after": ..., "build": {...},
//  "ratios": {key: {...}}} plus the caller's extra fields; the machine states
// are MachineState() taken before and after the run.
nlohmann::json RatiosJson(const std::string& benchmark, const nlohmann::json& machineBefore,
                          const nlohmann::json& machineAfter, const std::vector<Ratio>& ratios,
                          const nlohmann::json& extra);

}  // namespace vyxbench

#endif
