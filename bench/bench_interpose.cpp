// bench_interpose - what the virtual board costs a program on calls that are
// not the board's: open+close of an ordinary file, a 4 KiB read from one and
// stat of one, each through the board's interposed entry point against
// libc's own entry point called directly, in one process.
//
// The two are measured paired: short batches of each, alternating, many
// rounds; the figure is the median of the per-round ratios, so that load
// from other processes hits both sides alike.  The board is linked ahead of
// libc (as in the tests), so nothing here can reach a device node.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "BenchReport.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 31;
constexpr int kBatch = 2000;

struct Libc {
    int (*open)(const char*, int, ...);
    int (*close)(int);
    ssize_t (*read)(int, void*, size_t);
    int (*stat)(const char*, struct stat*);
};

// libc's own definitions, past the board's.
Libc PlainLibc()
{
    void* libc = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
    if (!libc) {
        std::fprintf(stderr, "bench_interpose: libc.so.6 is not loaded\n");
        std::exit(1);
    }
    Libc l;
    l.open = reinterpret_cast<int (*)(const char*, int, ...)>(dlsym(libc, "open"));
    l.close = reinterpret_cast<int (*)(int)>(dlsym(libc, "close"));
    l.read = reinterpret_cast<ssize_t (*)(int, void*, size_t)>(dlsym(libc, "read"));
    l.stat = reinterpret_cast<int (*)(const char*, struct stat*)>(dlsym(libc, "stat"));
    if (!l.open || !l.close || !l.read || !l.stat ||
        reinterpret_cast<void*>(l.open) == reinterpret_cast<void*>(&open)) {
        std::fprintf(stderr, "bench_interpose: cannot reach libc's own entry points past the board\n");
        std::exit(1);
    }
    return l;
}

double BatchSeconds(const std::function<void()>& call)
{
    auto start = Clock::now();
    for (int i = 0; i < kBatch; ++i)
        call();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Median over the rounds of (board time / plain time) - 1.
double PairedOverhead(const std::function<void()>& plain, const std::function<void()>& board)
{
    std::vector<double> ratios;
    for (int r = 0; r < kRounds; ++r) {
        double p, b;
        if (r % 2) {
            p = BatchSeconds(plain);
            b = BatchSeconds(board);
        } else {
            b = BatchSeconds(board);
            p = BatchSeconds(plain);
        }
        ratios.push_back(b / p);
    }
    std::nth_element(ratios.begin(), ratios.begin() + kRounds / 2, ratios.end());
    return ratios[kRounds / 2] - 1.0;
}

void Check(bool ok, const char* what)
{
    if (ok)
        return;
    std::perror(what);
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv)
{
    const bool json = vyxbench::TakeJsonFlag(argc, argv);
    const Libc libc = PlainLibc();
    char dir[] = "/tmp/bench-interpose-XXXXXX";
    Check(mkdtemp(dir) != nullptr, "mkdtemp");
    const std::string file = std::string(dir) + "/ordinary.dat";
    std::vector<char> data(4096, 'x');
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Check(fd >= 0 && ::write(fd, data.data(), data.size()) == 4096, file.c_str());
    ::close(fd);
    const char* path = file.c_str();
    int reader = ::open(path, O_RDONLY);
    Check(reader >= 0, path);
    char buf[4096];
    struct stat st;

    const nlohmann::json machineBefore = vyxbench::MachineState();
    std::vector<vyxbench::Ratio> ratios;
    auto add = [&](const char* key, const char* what, double overhead) {
        vyxbench::Ratio r;
        r.key = key;
        r.what = what;
        r.goal = vyxbench::Goal::Within;
        r.target = 0.30;
        r.paired = overhead;
        ratios.push_back(r);
    };
    add("open_close_overhead", "open+close of an ordinary file, extra on the board",
        PairedOverhead([&] { libc.close(libc.open(path, O_RDONLY)); },
                       [&] { ::close(::open(path, O_RDONLY)); }));
    add("read_4k_overhead", "4 KiB read of an ordinary file, extra on the board",
        PairedOverhead(
            [&] {
                Check(lseek(reader, 0, SEEK_SET) == 0 && libc.read(reader, buf, sizeof buf) == 4096, "read");
            },
            [&] {
                Check(lseek(reader, 0, SEEK_SET) == 0 && ::read(reader, buf, sizeof buf) == 4096, "read");
            }));
    add("stat_overhead", "stat of an ordinary file, extra on the board",
        PairedOverhead([&] { libc.stat(path, &st); }, [&] { ::stat(path, &st); }));
    const nlohmann::json machineAfter = vyxbench::MachineState();

    ::close(reader);
    unlink(path);
    rmdir(dir);

    FILE* out = json ? stderr : stdout;
    std::fprintf(out, "bench_interpose: %d rounds of %d calls each way, paired; load %s\n", kRounds, kBatch,
                 vyxbench::LoadText(machineBefore).c_str());
    for (const vyxbench::Ratio& r : ratios)
        vyxbench::PrintRatio(out, r);
    if (json)
        std::cout << vyxbench::RatiosJson("bench_interpose", machineBefore, machineAfter, ratios,
                                          nlohmann::json::object())
                  << "\n";
    return 0;
}
