// fault_sweep.cpp - fails every call an operation makes, one at a time.
//
// For each operation (init, a capture sequence, shows, a BMP save, the log,
// uninit) a clean run first counts the calls it makes into the board's
// device nodes and into the file calls of the storage and log folders.  Then
// the operation runs once per call number k with call k failing the way the
// kernel fails it (EIO; ENOMEM for mmap; EINTR and EIO for read, EINTR for
// select; EIO and a short count for file writes), and after each run:
//   - the run ended within the bound (a hang ends the program with status 3);
//   - 0 was returned only if the work is really there (the frame's stamp,
//     the screen, the whole file, the log line), and a failure left nothing
//     half-done behind;
//   - descriptors, threads, node descriptors and node mappings are back to
//     what they were (before VYXZEB_Init for init and uninit);
//   - a clean capture works (the device survived), and at the end of each
//     operation a clean VYXZEB_Init, capture and VYXZEB_UnInit.
// It prints per operation how many fault points there are and how many were
// exercised; exit status 0 when all were and nothing was found.  The one
// exception is the interrupt thread's idle wake-up (a select that times out
// once a second): one counted in the clean run need not come again.
#include <malloc.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "FileFaults.h"
#include "ProcessCensus.h"
#include "SweepOperations.h"
#include "VYXZebApi.h"
#include "VyxBoard.h"

namespace {

using Clock = std::chrono::steady_clock;
using vyxsweep::FileCall;
using vyxsweep::Operation;
using vyxsweep::Outcome;

constexpr int kHangExit = 3;
constexpr int kSettleMs = 5000;

struct Options {
    std::vector<std::string> operations;
    double boundSeconds = 60;
    bool json = false;
    bool verbose = false;
};

// One kind of failing call: where it is counted and how it is made to fail.
struct Site {
    std::string name;
    std::function<unsigned()> calls;
    std::function<void(unsigned k)> arm;
    std::function<void()> disarm;
    // Also called on its own timer, whatever the operation does: the
    // interrupt thread's select wakes once a second when no frame comes.
    bool idle = false;
};

const char* ErrorName(int error) {
    switch (error) {
        case EIO: return "EIO";
        case ENOMEM: return "ENOMEM";
        case EINTR: return "EINTR";
        case EPERM: return "EPERM";
        case vyxsweep::kShortCount: return "short";
        default: return "error";
    }
}

const char* NodeName(vb::Node node) {
    static const char* const kNames[] = {"mem", "cache_ops", "spi0", "spi1", "capture", "gpio"};
    return kNames[static_cast<int>(node)];
}

const char* OpName(vb::Op op) {
    static const char* const kNames[] = {"open", "mmap", "ioctl", "write", "read", "select"};
    return kNames[static_cast<int>(op)];
}

// The errors a node operation fails with, as the kernel's drivers would.
std::vector<int> NodeErrors(vb::Op op) {
    switch (op) {
        case vb::Op::Mmap: return {ENOMEM};
        case vb::Op::Read: return {EINTR, EIO};
        case vb::Op::Select: return {EINTR};
        default: return {EIO};
    }
}

std::vector<int> FileErrors(FileCall call) {
    switch (call) {
        case FileCall::Write: return {EIO, vyxsweep::kShortCount};
        case FileCall::Fchmod:
        case FileCall::Fchown: return {EPERM};
        default: return {EIO};
    }
}

std::vector<Site> AllSites() {
    std::vector<Site> sites;
    for (int n = 0; n < vb::kNodeCount; ++n) {
        for (int o = 0; o < static_cast<int>(vb::Op::Count); ++o) {
            const auto node = static_cast<vb::Node>(n);
            const auto op = static_cast<vb::Op>(o);
            for (int error : NodeErrors(op)) {
                sites.push_back({std::string(NodeName(node)) + " " + OpName(op) + " " + ErrorName(error),
                                 [=] { return vb::callCount(node, op); },
                                 [=](unsigned k) {
                                     vb::Fault f;
                                     f.error = error;
                                     f.fromCall = k;
                                     f.times = 1;
                                     vb::setFault(node, op, f);
                                 },
                                 [=] { vb::clearFault(node, op); },
                                 node == vb::Node::Capture && op == vb::Op::Select});
            }
        }
    }
    for (int c = 0; c < static_cast<int>(FileCall::Count); ++c) {
        const auto call = static_cast<FileCall>(c);
        for (int error : FileErrors(call)) {
            sites.push_back({std::string("file ") + vyxsweep::FileCallName(call) + " " + ErrorName(error),
                             [=] { return vyxsweep::FileCalls(call); },
                             [=](unsigned k) { vyxsweep::ArmFileFault(call, k, error); },
                             [] { vyxsweep::DisarmFileFaults(); }});
        }
    }
    return sites;
}

void ResetAllCounters() {
    vb::resetCounters();
    vyxsweep::ResetFileCalls();
}

// What must be back after a run.
struct Held {
    int descriptors = 0;
    int threads = 0;
    int nodeDescriptors = 0;
    int nodeMappings = 0;
    bool operator==(const Held& o) const {
        return descriptors == o.descriptors && threads == o.threads && nodeDescriptors == o.nodeDescriptors &&
               nodeMappings == o.nodeMappings;
    }
    std::string Text() const {
        return "fds " + std::to_string(descriptors) + ", threads " + std::to_string(threads) + ", node fds " +
               std::to_string(nodeDescriptors) + ", node mappings " + std::to_string(nodeMappings);
    }
};

Held TakeHeld() {
    const vyxtest::Census c = vyxtest::TakeCensus();
    return {c.descriptors, c.threads, vb::openNodeDescriptors(), vb::liveNodeMappings()};
}

// Threads end and descriptors close shortly after the calls that end them
// return: wait for the census to come back, bounded.
bool SettlesTo(const Held& want, Held* got) {
    const auto end = Clock::now() + std::chrono::milliseconds(kSettleMs);
    for (;;) {
        *got = TakeHeld();
        if (*got == want || Clock::now() >= end) return *got == want;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

struct Report {
    std::string operation;
    unsigned points = 0;
    unsigned exercised = 0;
    unsigned idle = 0;         // idle wake-ups counted once but not met again
    unsigned runs = 0;
    unsigned failedRuns = 0;   // runs that returned an error (as they should)
    double seconds = 0;
    std::vector<std::pair<std::string, unsigned>> sites;   // points per site
    std::vector<std::string> findings;
    std::vector<std::string> notes;   // runs that completed with less than all
};

class Sweep {
public:
    explicit Sweep(const Options& opt) : m_opt(opt), m_sites(AllSites()) {}

    // A clean Init, capture and UnInit; the census after it is the one every
    // operation must come back to.
    bool Start() {
        std::string why;
        if (VYXZEB_Init() != 0) return Fatal("VYXZEB_Init fails without faults");
        const bool captured = vyxsweep::CleanCapture(&why);
        if (VYXZEB_UnInit() != 0 || !captured) return Fatal("clean capture: " + why);
        Held ignored;
        SettlesTo(TakeHeld(), &ignored);
        m_baseline = TakeHeld();
        m_heap = mallinfo2().uordblks;
        return true;
    }

    Report Run(const Operation& op) {
        Report r;
        r.operation = op.name;
        const auto start = Clock::now();
        if (op.needsDevice && VYXZEB_Init() != 0) {
            r.findings.push_back("VYXZEB_Init fails without faults");
            return r;
        }
        std::vector<unsigned> counts;
        if (!Count(op, r, &counts)) {
            if (op.needsDevice) VYXZEB_UnInit();
            return r;
        }
        for (size_t s = 0; s < m_sites.size(); ++s) {
            if (counts[s] == 0) continue;
            r.points += counts[s];
            r.sites.emplace_back(m_sites[s].name, counts[s]);
            for (unsigned k = 1; k <= counts[s]; ++k) Once(op, m_sites[s], k, r);
        }
        if (op.needsDevice && VYXZEB_UnInit() != 0) r.findings.push_back("VYXZEB_UnInit after the sweep failed");
        CheckBack(m_baseline, "after the sweep's VYXZEB_UnInit", r);
        FinalCheck(r);
        r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        return r;
    }

private:
    bool Fatal(const std::string& what) {
        fprintf(stderr, "fault_sweep: %s\n", what.c_str());
        return false;
    }

    // Runs `work` on a thread of its own and waits at most the bound: a run
    // that does not end is a hang, and the program cannot go on.
    void Bounded(const std::string& label, const std::function<void()>& work) {
        std::packaged_task<void()> task(work);
        std::future<void> done = task.get_future();
        std::thread worker(std::move(task));
        if (done.wait_for(std::chrono::duration<double>(m_opt.boundSeconds)) != std::future_status::ready) {
            fprintf(stderr, "fault_sweep: %s did not end within %.0f s (hang)\n", label.c_str(), m_opt.boundSeconds);
            fflush(stdout);
            _exit(kHangExit);
        }
        worker.join();
    }

    // The clean run: counts calls per site; it must succeed.
    bool Count(const Operation& op, Report& r, std::vector<unsigned>* counts) {
        Outcome o;
        std::string why;
        bool confirmed = false;
        Bounded(std::string(op.name) + " without faults", [&] {
            if (!op.prepare()) return;
            ResetAllCounters();
            o = op.run();
            for (const Site& s : m_sites) counts->push_back(s.calls());
            confirmed = o.ret == 0 && o.completed && op.confirm(&why);
            op.finish(o);
        });
        if (!confirmed) {
            r.findings.push_back(std::string(op.name) + " without faults: returned " + std::to_string(o.ret) + " " +
                                 o.what + why);
            return false;
        }
        return counts->size() == m_sites.size();
    }

    void Once(const Operation& op, const Site& site, unsigned k, Report& r) {
        const std::string label = std::string(op.name) + ", " + site.name + " at call " + std::to_string(k);
        if (m_opt.verbose) {
            printf("  %s", label.c_str());
            fflush(stdout);
        }
        const Held before = TakeHeld();
        Outcome o;
        std::string why;
        bool prepared = false, reached = false, confirmed = true;
        Bounded(label, [&] {
            prepared = op.prepare();
            if (!prepared) return;
            ResetAllCounters();
            site.arm(k);
            o = op.run();
            reached = site.calls() >= k;
            site.disarm();
            if (o.ret == 0) confirmed = o.completed && op.confirm(&why);
            op.finish(o);
        });
        ++r.runs;
        if (m_opt.verbose) printf(": returned %d%s%s\n", o.ret, o.what.empty() ? "" : ", ", o.what.c_str());
        if (!prepared) {
            r.findings.push_back(label + ": the operation cannot even start after the previous run");
            return;
        }
        if (reached) ++r.exercised;
        else if (site.idle) ++r.idle;
        if (o.ret != 0) ++r.failedRuns;
        if (o.ret == 0 && !confirmed) r.findings.push_back(label + ": returned 0 but " + o.what + why);
        if (o.broken) r.findings.push_back(label + ": returned " + std::to_string(o.ret) + ", " + o.what);
        const std::string note = vyxsweep::TakeNote();
        if (!note.empty()) r.notes.push_back(label + ": " + note);
        CheckBack(op.needsDevice ? before : m_baseline, label, r);
        if (op.needsDevice) {
            std::string failed;
            if (!vyxsweep::CleanCapture(&failed))
                r.findings.push_back(label + ": a clean capture afterwards failed: " + failed);
        }
    }

    void CheckBack(const Held& want, const std::string& label, Report& r) {
        Held got;
        if (!SettlesTo(want, &got))
            r.findings.push_back(label + ": holds " + got.Text() + " instead of " + want.Text());
    }

    // A clean life after the sweep, and the heap where it was.
    void FinalCheck(Report& r) {
        std::string why;
        if (VYXZEB_Init() != 0) {
            r.findings.push_back("a clean VYXZEB_Init after the sweep failed");
            return;
        }
        if (!vyxsweep::CleanCapture(&why)) r.findings.push_back("a clean capture after the sweep failed: " + why);
        if (VYXZEB_UnInit() != 0) r.findings.push_back("a clean VYXZEB_UnInit after the sweep failed");
        CheckBack(m_baseline, "after a clean life", r);
        // The sanitizer's allocator reports no heap here; LeakSanitizer
        // checks at exit instead.
        const size_t heap = mallinfo2().uordblks;
        if (heap > m_heap + kHeapSlackBytes)
            r.findings.push_back("heap grew by " + std::to_string(heap - m_heap) + " bytes over the sweep");
    }

    static constexpr size_t kHeapSlackBytes = 256 * 1024;
    const Options& m_opt;
    std::vector<Site> m_sites;
    Held m_baseline;
    size_t m_heap = 0;
};

void Print(const Report& r, bool json) {
    if (json) {
        nlohmann::json sites = nlohmann::json::object();
        for (const auto& [name, count] : r.sites) sites[name] = count;
        const nlohmann::json j = {{"operation", r.operation}, {"fault_points", r.points},
                                  {"exercised", r.exercised}, {"idle", r.idle}, {"runs", r.runs},
                                  {"failed_runs", r.failedRuns}, {"seconds", r.seconds},
                                  {"sites", sites},           {"findings", r.findings},
                                  {"notes", r.notes}};
        printf("%s\n", j.dump().c_str());
    } else {
        printf("%-8s %4u fault points, %4u exercised, %u idle, %4u runs returned an error, %zu findings (%.1f s)\n",
               r.operation.c_str(), r.points, r.exercised, r.idle, r.failedRuns, r.findings.size(), r.seconds);
        for (const auto& [name, count] : r.sites) printf("           %-24s %4u\n", name.c_str(), count);
        for (const std::string& n : r.notes) printf("  degraded: %s\n", n.c_str());
        for (const std::string& f : r.findings) printf("  FOUND: %s\n", f.c_str());
    }
    fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    CLI::App app{"Fails every call into the board and every file call an operation makes, one at a time, and "
                 "checks that nothing crashes, hangs, leaks or reports success it did not have"};
    std::vector<std::string> names;
    for (const Operation& op : vyxsweep::Operations()) names.push_back(op.name);
    app.add_option("-o,--operation", opt.operations, "operations to sweep (default: all)")
        ->check(CLI::IsMember(names));
    app.add_option("--bound", opt.boundSeconds, "seconds a run may take before it counts as a hang")
        ->check(CLI::PositiveNumber)->capture_default_str();
    app.add_flag("--json", opt.json, "one JSON object per operation");
    app.add_flag("-v,--verbose", opt.verbose, "name every run before it starts");
    CLI11_PARSE(app, argc, argv);
    if (opt.operations.empty()) opt.operations = names;

    vyxsweep::WatchPrefix("/picture/");
    vyxsweep::WatchPrefix("/tmp/vyx_test_");
    Sweep sweep(opt);
    if (!sweep.Start()) return 1;
    bool clean = true;
    for (const std::string& name : opt.operations) {
        const Report r = sweep.Run(*vyxsweep::FindOperation(name));
        Print(r, opt.json);
        clean = clean && r.findings.empty() && r.exercised + r.idle == r.points;
    }
    return clean ? 0 : 1;
}
