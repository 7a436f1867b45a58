// Faults.cpp - fault slots, call counters and the plug-in override.
#include "Faults.h"

#include <mutex>

namespace vb {
namespace faults {

namespace {

constexpr int kOpCount = static_cast<int>(Op::Count);
constexpr int kServiceCount = static_cast<int>(Service::Count);

struct Slot {
    bool active = false;
    Fault fault;
    unsigned seen = 0;
    unsigned failed = 0;
};

struct State {
    std::mutex mu;
    Slot nodes[kNodeCount][kOpCount];
    Slot services[kServiceCount];
    unsigned calls[kNodeCount][kOpCount] = {};
    bool missing[kNodeCount] = {};
    bool pluginMissing = false;
    std::string pluginPath;
};

// Never destroyed: late calls during exit still find it.
State& state() {
    static State* s = new State;
    return *s;
}

// Decides whether a slot makes this call fail (lock held).
int fires(Slot& s) {
    if (!s.active) return 0;
    s.seen++;
    if (s.seen < s.fault.fromCall) return 0;
    if (s.fault.times != 0 && s.failed >= s.fault.times) return 0;
    s.failed++;
    return s.fault.error;
}

Slot armed(const Fault& fault) {
    Slot s;
    s.active = true;
    s.fault = fault;
    if (s.fault.fromCall == 0) s.fault.fromCall = 1;
    return s;
}

bool validService(Service service) {
    int i = static_cast<int>(service);
    return i >= 0 && i < kServiceCount;
}

}  // namespace

int check(Node node, Op op, int64_t physOffset, unsigned long request) {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mu);
    int n = static_cast<int>(node), o = static_cast<int>(op);
    st.calls[n][o]++;
    Slot& s = st.nodes[n][o];
    if (!s.active) return 0;
    if (op == Op::Mmap && s.fault.physOffset >= 0 && physOffset != s.fault.physOffset) return 0;
    if (op == Op::Ioctl && s.fault.request != 0 && request != s.fault.request) return 0;
    return fires(s);
}

int service(Service service) {
    if (!validService(service)) return 0;
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mu);
    return fires(st.services[static_cast<int>(service)]);
}

bool missing(Node node) {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mu);
    return st.missing[static_cast<int>(node)];
}

const char* pluginTarget(const char* fallback, std::string& keep) {
    State& st = state();
    {
        std::lock_guard<std::mutex> lock(st.mu);
        if (st.pluginMissing) return nullptr;
        keep = st.pluginPath;
    }
    return keep.empty() ? fallback : keep.c_str();
}

void set(Node node, Op op, const Fault& fault) {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mu);
    st.nodes[static_cast<int>(node)][static_cast<int>(op)] = armed(fault);
}

void clear(Node node, Op op) {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mu);
    st.nodes[static_cast<int>(node)][static_cast<int>(op)] = Slot{};
}

unsigned calls(Node node, Op op) {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mu);
    return st.calls[static_cast<int>(node)][static_cast<int>(op)];
}

void resetCalls() {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mu);
    for (auto& row : st.calls)
        for (unsigned& c : row) c = 0;
}

void setMissing(Node node, bool missing) {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mu);
    st.missing[static_cast<int>(node)] = missing;
}

void setService(Service service, const Fault& fault) {
    if (!validService(service)) return;
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mu);
    st.services[static_cast<int>(service)] = armed(fault);
}

void clearService(Service service) {
    if (!validService(service)) return;
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mu);
    st.services[static_cast<int>(service)] = Slot{};
}

void setPluginMissing(bool missing) {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mu);
    st.pluginMissing = missing;
}

void setPluginPath(const std::string& hostPath) {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mu);
    st.pluginPath = hostPath;
}

void resetAll() {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mu);
    for (auto& row : st.nodes)
        for (Slot& s : row) s = Slot{};
    for (Slot& s : st.services) s = Slot{};
    for (bool& m : st.missing) m = false;
    st.pluginMissing = false;
    st.pluginPath.clear();
}

}  // namespace faults
}  // namespace vb
