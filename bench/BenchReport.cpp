// BenchReport.cpp - ratio lines and their JSON form for the benchmarks.
#include "BenchReport.h"

#include <sys/utsname.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace vyxbench {

bool TakeJsonFlag(int& argc, char** argv)
{
    bool found = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            found = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return found;
}

nlohmann::json MachineState()
{
    double load[3] = {-1, -1, -1};
    const int n = getloadavg(load, 3);
    nlohmann::json state;
    state["cpus"] = std::thread::hardware_concurrency();
    state["load_average"] = nlohmann::json();
    if (n == 3) {
        for (double l : load) {
            state["load_average"].push_back(std::round(l * 100.0) / 100.0);
        }
    }
    return state;
}

std::string LoadText(const nlohmann::json& state)
{
    const nlohmann::json& avg = state["load_average"];
    char text[96];
    if (avg.is_array() && avg.size() == 3) {
        std::snprintf(text, sizeof(text), "%.2f %.2f %.2f on %u CPUs", avg[0].get<double>(),
                      avg[1].get<double>(), avg[2].get<double>(), state["cpus"].get<unsigned>());
    } else {
        std::snprintf(text, sizeof(text), "unknown on %u CPUs", state["cpus"].get<unsigned>());
    }
    return text;
}

namespace {

bool Met(const Ratio& r, double value)
{
    return r.goal == Goal::AtLeast ? value >= r.target : value <= r.target;
}

// Three decimals: 0.1 % of a ratio, well under what a run can resolve.
nlohmann::json Rounded(const std::optional<double>& v)
{
    return v ? nlohmann::json(std::round(*v * 1000.0) / 1000.0) : nlohmann::json();
}

const char* GoalName(Goal g)
{
    switch (g) {
    case Goal::AtLeast: return "at_least";
    case Goal::Within: return "within";
    case Goal::Information: break;
    }
    return "information";
}

}  // namespace

void PrintRatio(std::FILE* out, const Ratio& r)
{
    const std::optional<double>& v = r.paired ? r.paired : r.fastest;
    if (!v) {
        return;
    }
    switch (r.goal) {
    case Goal::AtLeast:
        std::fprintf(out, "%-52s %6.2fx  (target %.2fx: %s)\n", r.what.c_str(), *v, r.target,
                     Met(r, *v) ? "met" : "NOT met");
        break;
    case Goal::Within:
        std::fprintf(out, "%-52s %6.1f%%  (target within %.0f%%: %s)\n", r.what.c_str(), *v * 100.0,
                     r.target * 100.0, Met(r, *v) ? "met" : "NOT met");
        break;
    case Goal::Information:
        std::fprintf(out, "%-52s %6.2fx\n", r.what.c_str(), *v);
        break;
    }
}

nlohmann::json RatiosJson(const std::string& benchmark, const nlohmann::json& machineBefore,
                          const nlohmann::json& machineAfter, const std::vector<Ratio>& ratios,
                          const nlohmann::json& extra)
{
    nlohmann::json out = extra;
    out["benchmark"] = benchmark;
    out["machine_before"] = machineBefore;
    out["machine_after"] = machineAfter;
    utsname host{};
    out["build"] = {{"compiler", __VERSION__}, {"arch", uname(&host) == 0 ? host.machine : "unknown"}};
    nlohmann::json all = nlohmann::json::object();
    for (const Ratio& r : ratios) {
        nlohmann::json j;
        j["what"] = r.what;
        j["goal"] = GoalName(r.goal);
        j["fastest"] = Rounded(r.fastest);
        j["paired"] = Rounded(r.paired);
        if (r.goal != Goal::Information) {
            j["target"] = r.target;
            const std::optional<double>& v = r.paired ? r.paired : r.fastest;
            j["met"] = v ? nlohmann::json(Met(r, *v)) : nlohmann::json();
        }
        all[r.key] = j;
    }
    out["ratios"] = all;
    return out;
}

}  // namespace vyxbench
