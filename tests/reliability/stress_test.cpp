// Concurrent use of the public API: several threads issue random calls that
// the header allows to run at the same time, for a bounded time, then
// VYXZEB_UnInit; three rounds.  One thread captures, shows and releases
// frames of camera set 0 (one capturing thread per set); the others change
// trigger modes and empty the buffers, change sensor settings, drive GPIO,
// flash and the log, and show user images.  Every result must be one the
// header lists for the call; every thread must end in time (a deadlock
// fails the test at once); the process holds no more descriptors or threads
// afterwards.  The sanitizer builds run the same test.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "BoardTest.h"
#include "ProcessCensus.h"
#include "TestSupport.h"
#include "VYXZebApi.h"
#include "VyxBoard.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long each round's threads run: VYX_STRESS_SECONDS, 2 by default.
double RoundSeconds() {
    const char* env = getenv("VYX_STRESS_SECONDS");
    const double s = env ? atof(env) : 0;
    return s > 0 ? s : 2.0;
}

// Every result by call, and those that were not among the results the
// header lists.
class Findings {
public:
    void Check(const char* call, int ret, std::initializer_list<int> allowed) {
        bool bAllowed = false;
        for (int a : allowed) bAllowed = bAllowed || ret == a;
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_results[call][ret];
        if (!bAllowed) ++m_unexpected[std::string(call) + " returned " + std::to_string(ret)];
    }
    std::string Unexpected() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::string text;
        for (const auto& [what, count] : m_unexpected) text += what + " (" + std::to_string(count) + "x)\n";
        return text;
    }
    // "call: result x count, ..." for the calls named.
    std::string Results(std::initializer_list<const char*> calls) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::string text;
        for (const char* call : calls) {
            const auto it = m_results.find(call);
            if (it == m_results.end()) continue;
            text += std::string("  ") + call + ":";
            for (const auto& [ret, count] : it->second) text += " " + std::to_string(ret) + " x" + std::to_string(count);
        }
        return text;
    }

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::map<int, unsigned long>> m_results;
    std::map<std::string, unsigned> m_unexpected;
};

// What a round's threads share: the end time, the findings, a user image.
// The round's time runs from the moment its last thread is ready to walk: a
// slow machine (qemu) may take longer than the round to start the threads.
struct Round {
    Round(double seconds, unsigned threads) : seconds(seconds), waiting(threads) {}
    const double seconds;
    Findings findings;
    unsigned char* pBlock = nullptr;
    std::string logFolder;

    void Ready() {
        std::unique_lock<std::mutex> lock(mutex);
        if (--waiting == 0) {
            end = Clock::now() +
                  std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
            started.notify_all();
        }
        started.wait(lock, [this] { return waiting == 0; });
    }
    // Only after Ready(): `end` is written once, before any thread returns
    // from it.
    bool Running() const { return Clock::now() < end; }

private:
    std::mutex mutex;
    std::condition_variable started;
    unsigned waiting;
    Clock::time_point end;
};

// One thread's random walk: weighted actions until the round ends.
class Walker {
public:
    Walker(Round& round, unsigned seed) : m_round(round), m_rng(seed) {}
    void Add(unsigned weight, std::function<void()> action) { m_actions.push_back({weight, std::move(action)}); }
    // Pauses of up to `ms` milliseconds between calls, about every other
    // action: the threads then leave the board's model time to deliver
    // frames on a loaded machine.
    void Pace(unsigned ms) {
        unsigned total = 0;
        for (const Action& a : m_actions) total += a.weight;
        Add(total, [this, ms] { std::this_thread::sleep_for(std::chrono::microseconds(Below(ms * 1000 + 1))); });
    }
    unsigned long Run() {
        unsigned total = 0;
        for (const Action& a : m_actions) total += a.weight;
        unsigned long calls = 0;
        m_round.Ready();
        // At least one call, however late the thread runs after the start.
        do {
            unsigned pick = m_rng() % total;
            for (const Action& a : m_actions) {
                if (pick < a.weight) {
                    a.run();
                    break;
                }
                pick -= a.weight;
            }
            ++calls;
        } while (m_round.Running());
        return calls;
    }
    unsigned Below(unsigned n) { return m_rng() % n; }
    bool Coin() { return (m_rng() & 1) != 0; }

private:
    struct Action {
        unsigned weight;
        std::function<void()> run;
    };
    Round& m_round;
    std::mt19937 m_rng;
    std::vector<Action> m_actions;
};

// ---- the threads --------------------------------------------------------

unsigned long CaptureThread(Round& r, unsigned seed) {
    Walker w(r, seed);
    Findings& f = r.findings;
    w.Add(8, [&] {
        unsigned char* frame = nullptr;
        const int ret = VYXZEB_CaptureData(0, &frame);
        // -1011: no frame in time or a mode change; -1027: software trigger
        // after another thread emptied the buffers (acquisition stopped).
        f.Check("VYXZEB_CaptureData", ret,
                {VYXZEB_RET_SUCCESS, VYXZEB_RET_CAPTURE_TIMEOUT, VYXZEB_RET_CAPTURE_NOT_STARTED});
        if (ret != 0) {
            // Until the mode thread ends its change or restarts acquisition.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return;
        }
        if (w.Below(4) == 0) f.Check("VYXZEB_ShowCaptureData", VYXZEB_ShowCaptureData(0, frame), {0});
        f.Check("VYXZEB_ReleaseBuffer", VYXZEB_ReleaseBuffer(0), {0});
    });
    w.Add(1, [&] {
        int width = 0, height = 0, bits = 0;
        f.Check("VYXZEB_GetCaptureSize", VYXZEB_GetCaptureSize(0, &width, &height, &bits), {0});
    });
    return w.Run();
}

unsigned long ModeThread(Round& r, unsigned seed) {
    Walker w(r, seed);
    Findings& f = r.findings;
    // Mostly modes that deliver frames on their own.
    w.Add(3, [&] {
        static const VYXZEB_TRIGGER_MODE kModes[] = {VYXZEB_TRIGGER_CONTINUOUS, VYXZEB_TRIGGER_SOFTWARE,
                                                     VYXZEB_TRIGGER_CONTINUOUS, VYXZEB_TRIGGER_SOFTWARE,
                                                     VYXZEB_TRIGGER_EXTERNAL_TYPE0, VYXZEB_TRIGGER_EXTERNAL_TYPE3};
        f.Check("VYXZEB_SetTriggerMode", VYXZEB_SetTriggerMode(0, kModes[w.Below(6)]), {0});
    });
    w.Add(1, [&] { f.Check("VYXZEB_EmptyFrameBuffer", VYXZEB_EmptyFrameBuffer(0), {0}); });
    // A change blocks about 100 ms; pauses let frames flow in between.
    w.Add(8, [&] { std::this_thread::sleep_for(std::chrono::milliseconds(w.Below(200))); });
    w.Add(4, [&] {
        VYXZEB_TRIGGER_MODE mode;
        f.Check("VYXZEB_GetTriggerMode", VYXZEB_GetTriggerMode(0, &mode), {0});
    });
    w.Add(2, [&] { f.Check("VYXZEB_SetTriggerDelay", VYXZEB_SetTriggerDelay(0, w.Below(100)), {0}); });
    w.Add(2, [&] {
        f.Check("VYXZEB_SetTriggerFilter", VYXZEB_SetTriggerFilter(0, static_cast<unsigned short>(w.Below(100))),
                {0});
    });
    w.Add(2, [&] { f.Check("VYXZEB_CaptureSetTimeOut", VYXZEB_CaptureSetTimeOut(0, 50 + w.Below(150)), {0}); });
    return w.Run();
}

unsigned long SettingsThread(Round& r, unsigned seed) {
    Walker w(r, seed);
    Findings& f = r.findings;
    unsigned long minLines = 0, maxLines = 0, minGain = 0, maxGain = 0;
    f.Check("VYXZEB_GetExposureLinesRange", VYXZEB_GetExposureLinesRange(0, &minLines, &maxLines), {0});
    f.Check("VYXZEB_GetGainRange", VYXZEB_GetGainRange(0, &minGain, &maxGain), {0});
    // Short exposures keep the frame rate up.
    const unsigned long lines = std::min(maxLines, minLines + 2000);
    w.Add(4, [&] { f.Check("VYXZEB_SetExposureLines", VYXZEB_SetExposureLines(0, minLines + w.Below(lines - minLines + 1)), {0}); });
    w.Add(4, [&] { f.Check("VYXZEB_SetGain", VYXZEB_SetGain(0, minGain + w.Below(maxGain - minGain + 1)), {0}); });
    w.Add(2, [&] { f.Check("VYXZEB_SetMirror", VYXZEB_SetMirror(0, w.Coin()), {0}); });
    w.Add(2, [&] { f.Check("VYXZEB_SetFlip", VYXZEB_SetFlip(0, w.Coin()), {0}); });
    w.Add(1, [&] {
        const unsigned long width = 64 + 4 * w.Below(305), height = 64 + 4 * w.Below(241);
        f.Check("VYXZEB_SetCaptureFieldOfView", VYXZEB_SetCaptureFieldOfView(0, 4 * w.Below(64), 4 * w.Below(64), width, height), {0});
    });
    w.Add(1, [&] {
        f.Check("VYXZEB_SetAddressMode", VYXZEB_SetAddressMode(0, static_cast<VYX_ADDRESSMODE>(w.Below(2))), {0});
    });
    w.Add(4, [&] {
        unsigned long value = 0;
        float ms = 0;
        bool b = false;
        f.Check("VYXZEB_GetGain", VYXZEB_GetGain(0, &value), {0});
        f.Check("VYXZEB_GetExposureTime", VYXZEB_GetExposureTime(0, &ms), {0});
        f.Check("VYXZEB_GetMirror", VYXZEB_GetMirror(0, &b), {0});
        unsigned long x, y, width, height;
        f.Check("VYXZEB_GetCaptureFieldOfView", VYXZEB_GetCaptureFieldOfView(0, &x, &y, &width, &height), {0});
    });
    w.Pace(2);
    return w.Run();
}

unsigned long IoThread(Round& r, unsigned seed) {
    Walker w(r, seed);
    Findings& f = r.findings;
    w.Add(4, [&] { f.Check("VYXZEB_GpioSet", VYXZEB_GpioSet(3 + w.Below(5), w.Coin()), {0}); });
    w.Add(4, [&] {
        bool level = false;
        f.Check("VYXZEB_GpioGet", VYXZEB_GpioGet(w.Below(8), &level), {0});
    });
    w.Add(2, [&] {
        unsigned short levels = 0;
        f.Check("VYXZEB_GpioGetStatus", VYXZEB_GpioGetStatus(&levels), {0});
        f.Check("VYXZEB_GpioSetStatus", VYXZEB_GpioSetStatus(static_cast<unsigned short>(w.Below(256))), {0});
    });
    w.Add(2, [&] { f.Check("VYXZEB_FlashSetEnable", VYXZEB_FlashSetEnable(0, w.Coin()), {0}); });
    w.Add(2, [&] { f.Check("VYXZEB_FlashSetInvert", VYXZEB_FlashSetInvert(0, w.Coin()), {0}); });
    w.Add(2, [&] {
        bool b = false;
        f.Check("VYXZEB_FlashGetEnable", VYXZEB_FlashGetEnable(0, &b), {0});
        f.Check("VYXZEB_FlashGetInvert", VYXZEB_FlashGetInvert(0, &b), {0});
    });
    // The log is switched on and off while the other threads write to it.
    w.Add(1, [&] {
        bool on = false;
        VYXZEB_LogGet(&on, nullptr);
        f.Check("VYXZEB_LogSet", on ? VYXZEB_LogSet(false, nullptr) : VYXZEB_LogSet(true, r.logFolder.c_str()),
                {0});
    });
    w.Pace(2);
    return w.Run();
}

unsigned long ShowThread(Round& r, unsigned seed) {
    Walker w(r, seed);
    Findings& f = r.findings;
    w.Add(3, [&] {
        f.Check("VYXZEB_SetVideoWidgetPos",
                VYXZEB_SetVideoWidgetPos(0, 4 * w.Below(160), 4 * w.Below(90), 64 + 4 * w.Below(304),
                                         64 + 4 * w.Below(164)),
                {0});
    });
    w.Add(3, [&] {
        f.Check("VYXZEB_SetPosition",
                VYXZEB_SetPosition(0, 4 * static_cast<int>(w.Below(64)) - 128, 4 * static_cast<int>(w.Below(64)) - 128,
                                   64 + 4 * w.Below(304), 64 + 4 * w.Below(164)),
                {0});
    });
    w.Add(4, [&] {
        f.Check("VYXZEB_ShowUserLoadData", VYXZEB_ShowUserLoadData(0, r.pBlock, 640, 480, w.Coin() ? 8 : 24), {0});
    });
    w.Pace(2);
    return w.Run();
}

// ---- the rounds -------------------------------------------------------------

using ThreadBody = unsigned long (*)(Round&, unsigned);

struct Role {
    const char* name;
    ThreadBody body;
};

const Role kRoles[] = {{"capture", CaptureThread},
                       {"mode", ModeThread},
                       {"settings", SettingsThread},
                       {"io", IoThread},
                       {"show", ShowThread}};

using Stress = vyxtest::BoardTest;

TEST_F(Stress, ConcurrentCallsThreeRoundsThenUnInit) {
    vyxtest::TempDir logDir;
    const double seconds = RoundSeconds();
    // Generous: a thread ends at most one capture time-out after the round.
    const auto bound = std::chrono::duration<double>(seconds + 60);
    vyxtest::Census before;
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(VYXZEB_Init(), 0) << "round " << round;
        Round r(seconds, static_cast<unsigned>(std::size(kRoles)));
        r.logFolder = logDir.path();
        ASSERT_EQ(VYXZEB_Malloc(1280 * 720 * 3, &r.pBlock), 0);
        ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, 100), 0);
        ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_CONTINUOUS), 0);

        std::string calls = "round " + std::to_string(round) + " calls:";
        std::vector<std::future<unsigned long>> threads;
        for (size_t i = 0; i < std::size(kRoles); ++i)
            threads.push_back(std::async(std::launch::async, kRoles[i].body, std::ref(r),
                                         static_cast<unsigned>(round * 100 + i)));
        for (size_t i = 0; i < threads.size(); ++i) {
            if (threads[i].wait_for(bound) != std::future_status::ready) {
                // A deadlock cannot be recovered from: the threads cannot be
                // joined, so stop here with the name of the one that hung.
                fprintf(stderr, "stress: the %s thread did not finish within %.0f s of round %d: deadlock\n",
                        kRoles[i].name, bound.count(), round);
                std::abort();
            }
            const unsigned long n = threads[i].get();
            EXPECT_GT(n, 0u) << kRoles[i].name << " thread made no call";
            calls += std::string(" ") + kRoles[i].name + " " + std::to_string(n);
        }
        printf("%s\n%s\n", calls.c_str(),
               r.findings.Results({"VYXZEB_CaptureData", "VYXZEB_ShowCaptureData", "VYXZEB_SetTriggerMode"}).c_str());
        VYXZEB_LogSet(false, nullptr);
        EXPECT_EQ(r.findings.Unexpected(), "") << "round " << round;
        EXPECT_EQ(VYXZEB_Free(&r.pBlock), 0);
        ASSERT_EQ(VYXZEB_UnInit(), 0) << "round " << round;
        // The first round also warms up what stays: the board's own nodes,
        // the C library's thread stacks and arenas.
        if (round == 0) before = vyxtest::TakeCensus();
    }
    // Two rounds later the process holds no more descriptors or threads than
    // after the first, and no device node is open or mapped.  (The count of
    // all mappings moves with the allocator's own arenas.)
    // Joined threads may take a moment to leave the thread list.
    vyxtest::ThreadsSettledTo(before.threads);
    const vyxtest::Census after = vyxtest::TakeCensus();
    EXPECT_EQ(after.descriptors, before.descriptors);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_EQ(vb::openNodeDescriptors(), 0);
    EXPECT_EQ(vb::liveNodeMappings(), 0);
}

}  // namespace
