// ProcessCensus.h - what the process holds right now, read from /proc:
// resident memory, descriptors, threads and mappings.  The reliability tools
// compare a census before and after an operation, or over hours.
#ifndef VYX_TESTS_PROCESS_CENSUS_H
#define VYX_TESTS_PROCESS_CENSUS_H

#include <fstream>
#include <string>

#include "TestSupport.h"

namespace vyxtest {

struct Census {
    long rssKiB = 0;
    int descriptors = 0;
    int threads = 0;
    int mappings = 0;
};

// Resident set size from /proc/self/status (0 when it cannot be read).
inline long ResidentKiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0) return std::stol(line.substr(6));
    }
    return 0;
}

inline Census TakeCensus() {
    Census c;
    c.rssKiB = ResidentKiB();
    c.descriptors = CountEntries("fd");
    c.threads = CountEntries("task");
    c.mappings = CountMappings();
    return c;
}

}  // namespace vyxtest

#endif
