// Switching the log off and on while other threads write: no crash, no use of
// a destroyed log, and every entry that lands is whole.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "LogTestUtil.h"

using namespace logtest;

namespace {

constexpr int kWriters = 4;
constexpr int kSwitchRounds = 40;
// Writers run until the rounds are over; the cap only bounds a runaway.
constexpr long kMaxWritesPerThread = 50000000;
constexpr int kWritesPerHandle = 8;

// Spins (yielding) until `done` holds; false after the bound.
template <typename Pred>
bool WaitFor(Pred done, std::chrono::seconds bound = std::chrono::seconds(30))
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

TEST(LogThreads, SwitchingOffWhileOthersWrite)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    VYXLOG_LogSet(false, nullptr);

    std::atomic<bool> stop{false};
    std::atomic<long> written{0};
    std::atomic<long> badResults{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < kWriters; ++t) {
        writers.emplace_back([&, t] {
            for (long i = 0; i < kMaxWritesPerThread && !stop.load();) {
                // Callers pass hVYXLog by value and may keep using the value
                // while another thread switches the log off.  (The word is read
                // atomically here; on the board a plain aligned word read is.)
                HANDLE h = __atomic_load_n(&hVYXLog, __ATOMIC_RELAXED);
                for (int k = 0; k < kWritesPerHandle; ++k, ++i) {
                    const int r = (k % 2 == 0)
                        ? VYXLOG_OutputStringEx(h, 1, "VYXLOG_(writer %d entry %ld)", t, i)
                        : VYXLOG_OutputString(h, "VYXLOG_(plain entry)", 1);
                    if (r == 0)
                        written.fetch_add(1);
                    else if (r != 1)
                        badResults.fetch_add(1);
                }
            }
        });
    }

    // Each round switches on, waits until some writer has written through the
    // new log, and switches off again while the writers keep going.
    int rounds = 0;
    for (; rounds < kSwitchRounds; ++rounds) {
        const long before = written.load();
        if (VYXLOG_LogSet(true, dir.path().c_str()) != 0) {
            ADD_FAILURE() << "switching on failed";
            break;
        }
        const bool progressed = WaitFor([&] { return written.load() > before; });
        EXPECT_EQ(VYXLOG_LogSet(false, nullptr), 0);
        if (!progressed)
            break;
    }
    stop = true;
    for (auto& w : writers)
        w.join();
    EXPECT_EQ(rounds, kSwitchRounds) << "writers made no progress through a fresh log";
    EXPECT_EQ(badResults.load(), 0);

    // Every line of every file is one whole entry.
    long lines = 0;
    auto whole = [](const std::string& line) {
        if (!ParsePrefix(line, 0))
            return false;
        const std::string text = line.substr(kPrefixLen);
        int t = -1;
        long i = -1;
        char end = 0;
        return text == "VYXLOG_(plain entry)" ||
               (sscanf(text.c_str(), "VYXLOG_(writer %d entry %ld%c", &t, &i, &end) == 3 && end == ')' &&
                text == "VYXLOG_(writer " + std::to_string(t) + " entry " + std::to_string(i) + ")");
    };
    for (const std::string& name : ListFolder(dir.path())) {
        for (const std::string& line : Lines(ReadFile(dir.path() + "/" + name))) {
            ++lines;
            ASSERT_TRUE(whole(line)) << name << ": " << line;
        }
    }
    EXPECT_EQ(lines, written.load());
}

} // namespace
