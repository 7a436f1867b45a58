// ChildProcess.h - starting a program from a test and waiting for it within a
// bound, and re-running one test of the current binary in a new process.
//
// A test that must see the state a process starts with (globals no earlier
// test may have touched) cannot rely on running first: shuffled and repeated
// runs break that.  RunsInFreshProcess() lets such a test re-execute the test
// binary with a filter for itself alone; the child sees a marker in its
// environment and runs the checks, the parent checks that it passed.
//
// In a cross build the test binary runs under an emulator: VYX_TEST_EMULATOR
// (the emulator's command, words separated by spaces) is put in front of the
// program, exactly as ctest started the test itself.
#ifndef VYX_TEST_CHILD_PROCESS_H
#define VYX_TEST_CHILD_PROCESS_H

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace vyxtest {

struct ChildResult {
    bool bStarted = false;
    bool bFinished = false;  // ended within the bound (else killed)
    int nStatus = -1;        // as waitpid reports it
    std::string output;      // stdout and stderr together

    bool Passed() const { return bFinished && WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0; }
};

// The emulator's words from VYX_TEST_EMULATOR, empty in a native build.
inline std::vector<std::string> EmulatorPrefix() {
    std::vector<std::string> words;
    const char* e = getenv("VYX_TEST_EMULATOR");
    std::istringstream in(e ? e : "");
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

// Runs argv[0] (searched on PATH) with the extra environment entries added,
// output into a temporary file, and waits at most `bound`; an overrunning
// child is killed.
inline ChildResult RunBounded(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
                              std::chrono::milliseconds bound) {
    ChildResult r;
    char outPath[] = "/tmp/vyx_child_XXXXXX";
    const int outFd = mkstemp(outPath);
    if (outFd < 0) return r;
    unlink(outPath);

    std::vector<std::string> argStore(args);
    std::vector<char*> argv;
    for (auto& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore(extraEnv);
    for (char** e = environ; *e; ++e)
        envStore.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, outFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&fa, outFd, STDERR_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
        close(outFd);
        r.output = std::string("cannot start ") + argv[0] + ": " + std::strerror(rc);
        return r;
    }
    r.bStarted = true;
    auto waited = std::async(std::launch::async, [pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
        return status;
    });
    if (waited.wait_for(bound) == std::future_status::ready) {
        r.bFinished = true;
    } else {
        kill(pid, SIGKILL);
    }
    r.nStatus = waited.get();

    char buf[4096];
    ssize_t n;
    lseek(outFd, 0, SEEK_SET);
    while ((n = read(outFd, buf, sizeof buf)) > 0)
        r.output.append(buf, static_cast<size_t>(n));
    close(outFd);
    return r;
}

// The name of the running test as a gtest filter: "Suite.Name".
inline std::string CurrentTestName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info ? std::string(info->test_suite_name()) + "." + info->name() : std::string();
}

constexpr char kFreshProcessMarker[] = "VYX_TEST_FRESH_PROCESS";

// Inside the test body: true when this process was started for this test
// alone (run the checks).  Otherwise re-runs the test that way, adds a
// failure unless it passed within `bound`, and returns false (the caller
// returns at once).
inline bool RunsInFreshProcess(std::chrono::milliseconds bound = std::chrono::seconds(120)) {
    const std::string name = CurrentTestName();
    const char* marker = getenv(kFreshProcessMarker);
    if (marker && name == marker) return true;

    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) {
        ADD_FAILURE() << "cannot find the test binary";
        return false;
    }
    exe[n] = '\0';
    std::vector<std::string> args = EmulatorPrefix();
    args.push_back(exe);
    // The flags win over GTEST_REPEAT and GTEST_SHUFFLE in the environment.
    args.push_back("--gtest_filter=" + name);
    args.push_back("--gtest_repeat=1");
    args.push_back("--gtest_shuffle=0");
    const ChildResult r = RunBounded(args, {std::string(kFreshProcessMarker) + "=" + name}, bound);
    EXPECT_TRUE(r.bStarted) << r.output;
    EXPECT_TRUE(r.bFinished) << "the fresh run of " << name << " overran its bound:\n" << r.output;
    EXPECT_TRUE(r.Passed()) << "the fresh run of " << name << " failed (status " << r.nStatus << "):\n"
                            << r.output;
    return false;
}

}  // namespace vyxtest

#endif
