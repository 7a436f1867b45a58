// VcdReader.h - a small reader of Value Change Dump files for the tests of
// the board's signal trace: it checks the structure as it reads (every
// signal declared once, time only moving forward, changes only of declared
// signals) and gives each signal's changes.
#ifndef VYX_TEST_VCD_READER_H
#define VYX_TEST_VCD_READER_H

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace vcdtest {

struct Change {
    int64_t time;
    uint32_t value;
};

struct Vcd {
    std::string error;  // empty when the file is well formed
    std::string timescale;
    std::map<std::string, std::vector<Change>> signals;  // by name, in time order
    int64_t endTime = -1;                                // the last time stamp

    // Times at which `name` rose to 1 (or took `value`), in order.
    std::vector<int64_t> when(const std::string& name, uint32_t value = 1) const {
        std::vector<int64_t> out;
        auto it = signals.find(name);
        if (it == signals.end()) return out;
        for (const Change& c : it->second)
            if (c.value == value) out.push_back(c.time);
        return out;
    }
    // First time at or after `from` when `name` took `value`, or -1.
    int64_t first(const std::string& name, uint32_t value, int64_t from) const {
        for (int64_t t : when(name, value))
            if (t >= from) return t;
        return -1;
    }
};

inline Vcd readVcd(const std::string& path) {
    Vcd v;
    std::ifstream in(path);
    if (!in) {
        v.error = "cannot open " + path;
        return v;
    }
    std::map<std::string, std::string> names;  // code -> name
    bool definitions = true, inComment = false;
    int64_t now = -1;
    std::string line;
    int lineNo = 0;
    auto fail = [&](const std::string& why) {
        if (v.error.empty()) v.error = "line " + std::to_string(lineNo) + ": " + why + ": " + line;
    };
    while (std::getline(in, line)) {
        ++lineNo;
        if (line.empty()) continue;
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (inComment || first == "$comment") {
            inComment = line.find("$end") == std::string::npos;
            continue;
        }
        if (definitions) {
            if (first == "$timescale") {
                words >> v.timescale;
            } else if (first == "$var") {
                std::string type, width, code, name;
                words >> type >> width >> code >> name;
                if (names.count(code) || v.signals.count(name)) fail("declared twice");
                names[code] = name;
                v.signals[name];
            } else if (first == "$enddefinitions") {
                definitions = false;
            }
            continue;
        }
        if (first == "$dumpvars" || first == "$end") continue;
        if (first[0] == '#') {
            const int64_t t = std::stoll(first.substr(1));
            if (t <= now) fail("time goes back or stands");
            now = t;
            v.endTime = t;
            continue;
        }
        std::string code, value;
        if (first[0] == 'b') {
            value = first.substr(1);
            words >> code;
        } else {
            value = first.substr(0, 1);
            code = first.substr(1);
        }
        auto it = names.find(code);
        if (it == names.end()) {
            fail("change of an undeclared signal");
            continue;
        }
        if (now < 0) fail("change before the first time stamp");
        uint32_t number = 0;
        for (char c : value)
            number = number * 2 + (c == '1' ? 1 : 0);
        v.signals[it->second].push_back(Change{now, number});
    }
    if (definitions) fail("no $enddefinitions");
    return v;
}

}  // namespace vcdtest

#endif
