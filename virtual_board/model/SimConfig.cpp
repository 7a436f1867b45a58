// SimConfig.cpp - reading the board's run settings from the environment
// (see SimConfig.h).
#include "SimConfig.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vb {
namespace model {

bool parseNonNegative(const char* text, double& value) {
    if (text == nullptr || *text == '\0' || std::isspace(static_cast<unsigned char>(*text))) return false;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (*end != '\0' || !std::isfinite(v) || v < 0) return false;
    value = v;
    return true;
}

bool parsePositive(const char* text, double& value) {
    double v = 0;
    if (!parseNonNegative(text, v) || v <= 0) return false;
    value = v;
    return true;
}

bool parseCount(const char* text, uint64_t& value) {
    if (text == nullptr || !std::isdigit(static_cast<unsigned char>(*text))) return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (*end != '\0' || errno == ERANGE) return false;
    value = v;
    return true;
}

bool parseSwitch(const char* text, bool& value) {
    if (text == nullptr) return false;
    for (const char* on : {"1", "yes", "on", "true"})
        if (std::strcmp(text, on) == 0) return value = true;
    for (const char* off : {"0", "no", "off", "false"})
        if (std::strcmp(text, off) == 0) return !(value = false);
    return false;
}

namespace {

void complain(const char* name, const char* text, const char* what) {
    std::fprintf(stderr, "vyxboard: %s=%s is not %s; using the default\n", name, text, what);
}

template <typename T, typename Parse>
void read(const char* name, T& value, Parse parse, const char* what) {
    const char* text = std::getenv(name);
    if (text != nullptr && !parse(text, value)) complain(name, text, what);
}

}  // namespace

SimConfig readSimConfig() {
    SimConfig c;
    if (const char* scene = std::getenv(env::kScene)) c.scene = scene;
    read(env::kSceneFps, c.sceneFps, parseNonNegative, "a picture rate (0 or more per second)");
    read(env::kLight, c.light, parseNonNegative, "a light factor (0 or more)");
    read(env::kStamp, c.stamp, parseSwitch, "a switch (1 or 0)");
    read(env::kNoise, c.noise, parseSwitch, "a switch (1 or 0)");
    read(env::kSeed, c.seed, parseCount, "a seed (a decimal number)");
    read(env::kTriggerEvery, c.triggerEveryMs, parsePositive, "a period in milliseconds");
    read(env::kTriggerOnSignal, c.triggerOnSignal, parseSwitch, "a switch (1 or 0)");
    if (const char* trace = std::getenv(env::kTrace)) c.trace = trace;
    read(env::kHdmiEvery, c.hdmiEveryMs, parsePositive, "a period in milliseconds");
    read(env::kPoll, c.poll, parsePollMode, "auto, on or off");
    return c;
}

}  // namespace model
}  // namespace vb
