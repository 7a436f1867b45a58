// SignalTrace.cpp - the VCD writer (see SignalTrace.h).
#include "SignalTrace.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "PlTiming.h"

namespace vb {
namespace model {

namespace {

constexpr int64_t kNsPerUs = 1000;
constexpr int kSignals = static_cast<int>(Sig::Count);

struct SignalName {
    const char* name;
    int width;
};

// In the order of Sig.
constexpr SignalName kSignalNames[kSignals] = {
    {"trigger_in", 1},    {"soft_trigger", 1},  {"exposure", 1},     {"readout", 1},
    {"strobe", 1},        {"frame_written", 1}, {"write_buffer", 2}, {"frame_done_irq", 1},
    {"frame_dropped", 1}, {"buffers_full", 1},  {"capture_read", 1}, {"gpio_out3", 1},
    {"gpio_out4", 1},     {"gpio_out5", 1},     {"gpio_out6", 1},    {"gpio_out7", 1},
    {"gpio_out8", 1},     {"gpio_out9", 1},
};

char code(int signal) { return static_cast<char>('!' + signal); }

std::string change(int signal, uint32_t value) {
    if (kSignalNames[signal].width == 1) return std::string(1, value ? '1' : '0') + code(signal) + "\n";
    std::string bits;
    for (int b = kSignalNames[signal].width - 1; b >= 0; --b) bits += (value >> b) & 1u ? '1' : '0';
    return "b" + bits + " " + code(signal) + "\n";
}

}  // namespace

bool SignalTrace::open(const std::string& path, int64_t startNs, Floor floor, std::string& error) {
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        error = std::string("cannot write the trace ") + path + ": " + std::strerror(errno);
        return false;
    }
    m_startNs = startNs;
    m_floor = std::move(floor);
    std::string h = "$version vyxboard signal trace $end\n$timescale 1us $end\n$scope module camera $end\n";
    for (int s = 0; s < kSignals; ++s)
        h += "$var wire " + std::to_string(kSignalNames[s].width) + " " + code(s) + " " +
             kSignalNames[s].name + " $end\n";
    h += "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
    for (int s = 0; s < kSignals; ++s) h += change(s, 0);
    h += "$end\n";
    put(h);
    m_queue.reserve(1024);
    m_active.store(true, std::memory_order_release);
    m_thread = std::thread([this] { run(); });
    return true;
}

void SignalTrace::stop() {
    if (!m_thread.joinable()) return;
    {
        std::lock_guard<std::mutex> g(m_mu);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void SignalTrace::record(int64_t atNs, Sig sig, uint32_t value) {
    if (!active()) return;
    std::lock_guard<std::mutex> g(m_mu);
    if (m_queue.size() >= kMaxQueuedEvents) {
        m_lost.fetch_add(1);
        return;
    }
    m_queue.push_back(Event{atNs, value, sig});
}

void SignalTrace::pulse(int64_t atNs, Sig sig) {
    record(atNs, sig, 1);
    record(atNs + kNsPerUs, sig, 0);
}

void SignalTrace::put(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(m_fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // disk full: the trace ends here
        done += static_cast<size_t>(n);
    }
}

void SignalTrace::writeUpTo(int64_t untilNs, bool all) {
    const auto end = all ? m_held.end()
                         : std::upper_bound(m_held.begin(), m_held.end(), untilNs,
                                            [](int64_t t, const Event& e) { return t < e.atNs; });
    std::string out;
    for (auto e = m_held.begin(); e != end; ++e) {
        const int s = static_cast<int>(e->sig);
        if (m_values[s] == e->value) continue;
        // Late events are shown now: time only moves forward.
        const int64_t us = std::max(m_lastUs, (e->atNs - m_startNs) / kNsPerUs);
        if (us != m_lastUs) out += "#" + std::to_string(us) + "\n";
        m_lastUs = us;
        m_values[s] = e->value;
        out += change(s, e->value);
    }
    m_held.erase(m_held.begin(), end);
    const uint64_t lost = m_lost.load();
    if (lost != m_lostWritten) {
        out += "$comment " + std::to_string(lost - m_lostWritten) +
               " events lost: the trace queue was full $end\n";
        m_lostWritten = lost;
    }
    if (!out.empty()) put(out);
}

void SignalTrace::run() {
    std::vector<Event> taken;
    for (;;) {
        bool stop;
        {
            std::unique_lock<std::mutex> g(m_mu);
            m_wake.wait_for(g, std::chrono::nanoseconds(kTraceFlushNs), [&] { return m_stop; });
            stop = m_stop;
            taken.swap(m_queue);
        }
        const size_t before = m_held.size();
        m_held.insert(m_held.end(), taken.begin(), taken.end());
        taken.clear();
        std::stable_sort(m_held.begin() + static_cast<std::ptrdiff_t>(before), m_held.end(),
                         [](const Event& a, const Event& b) { return a.atNs < b.atNs; });
        std::inplace_merge(m_held.begin(), m_held.begin() + static_cast<std::ptrdiff_t>(before), m_held.end(),
                           [](const Event& a, const Event& b) { return a.atNs < b.atNs; });
        if (!stop) {
            writeUpTo(m_floor(), false);
            continue;
        }
        m_active.store(false, std::memory_order_release);
        {
            std::lock_guard<std::mutex> g(m_mu);
            m_held.insert(m_held.end(), m_queue.begin(), m_queue.end());
            m_queue.clear();
        }
        std::stable_sort(m_held.begin(), m_held.end(),
                         [](const Event& a, const Event& b) { return a.atNs < b.atNs; });
        writeUpTo(0, true);
        // The end of the run, so that a viewer shows the last levels.
        const int64_t endUs = std::max(m_lastUs, (boardClockNs() - m_startNs) / kNsPerUs);
        put("#" + std::to_string(endUs) + "\n");
        ::close(m_fd);
        m_fd = -1;
        return;
    }
}

}  // namespace model
}  // namespace vb
