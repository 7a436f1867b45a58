// Capture you can trust, on the virtual board with the library's own
// interrupt thread: every software trigger's own frame, a mode change that
// always wakes a waiting capture, captures that wait out a change instead of
// spinning, the first frame after a change handed out, and emptied buffers
// whose frames are gone.  One initialised device serves the suite.
//
// Threads meet on events: the hand-shake's count of sleeping captures, the
// board's frame and interrupt counters, the frame stamps.  Every wait is
// bounded.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <utility>

#include "BoardTest.h"
#include "VYXSet.h"
#include "SharedDevice.h"
#include "VYXZebApi.h"
#include "VyxModel.h"
#include "Zeb.h"

namespace {

constexpr int kBoundMs = 20000;   // no event here takes anywhere near this long
constexpr unsigned long kTimeOutMs = 10000;

::testing::Environment* const g_device = ::testing::AddGlobalTestEnvironment(new vyxtest::SharedDevice);

CCaptureSync& Sync() { return g_Zeb->m_pSet[0]->m_Sync; }

bool WaitSleepingCaptures(unsigned count) {
    for (int i = 0; i < kBoundMs && Sync().WaitingCaptures() != count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return Sync().WaitingCaptures() == count;
}

template <typename Pred>
bool WaitUntil(Pred done) {
    for (int i = 0; i < kBoundMs && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

uint32_t Stamp(const unsigned char* frame) {
    uint32_t counter = 0;
    EXPECT_TRUE(vb::modelFrameCounter(frame, &counter));
    return counter;
}

uint64_t FramesWritten() { return vb::modelCounters().framesWritten; }

// The board's reset also takes the trigger input low.
class Handshake : public vyxtest::BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, kTimeOutMs), 0);
        ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE), 0);
    }
    void TearDown() override {
        vb::resetBoard();  // no fault left in the way of the clean-up
        VYXZEB_CaptureSetTimeOut(0, kTimeOutMs);
        VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE);
        BoardTest::TearDown();
    }

    // One rising edge on the trigger input: its frame written, the line low
    // again.  The counter the frame carries.
    static uint32_t Edge() {
        const uint64_t written = FramesWritten();
        vb::setGpioInput(vb::kTriggerInputLine, true);
        EXPECT_TRUE(vb::modelWaitFramesWritten(written + 1, kBoundMs));
        vb::setGpioInput(vb::kTriggerInputLine, false);
        return vb::modelCounters().lastFrameCounter;
    }
};

// In software-trigger mode a capture returns the frame its own trigger
// produced, also right after a capture that gave up before its frame came:
// the late frame is released, not handed out.
TEST_F(Handshake, SoftwareCaptureReturnsTheFrameOfItsOwnTrigger) {
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        const uint32_t before = static_cast<uint32_t>(vb::modelCounters().framesExposed);
        // A time-out of 0 gives up before the PL has delivered (or, on a
        // starved machine, just after: then the frame is its own).
        ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, 0), 0);
        unsigned char* frame = nullptr;
        const int first = VYXZEB_CaptureData(0, &frame);
        if (first == 0) {
            EXPECT_EQ(Stamp(frame), before + 1);
            ASSERT_EQ(VYXZEB_ReleaseBuffer(0), 0);
        } else {
            ASSERT_EQ(first, VYXZEB_RET_CAPTURE_TIMEOUT);
            EXPECT_EQ(frame, nullptr);
        }
        ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, kTimeOutMs), 0);
        ASSERT_EQ(VYXZEB_CaptureData(0, &frame), 0);
        EXPECT_EQ(Stamp(frame), before + 2);
        ASSERT_EQ(VYXZEB_ReleaseBuffer(0), 0);
    }
    // Nothing was left filled: four frames in a row find four free buffers.
    ASSERT_TRUE(vb::modelWaitTick(kBoundMs));
    for (int k = 0; k < 4; ++k) {
        unsigned char* frame = nullptr;
        ASSERT_EQ(VYXZEB_CaptureData(0, &frame), 0) << k;
    }
    for (int k = 0; k < 4; ++k) {
        // Two releases between two samples of the PL count once on the board.
        ASSERT_TRUE(vb::modelWaitTick(kBoundMs));
        ASSERT_EQ(VYXZEB_ReleaseBuffer(0), 0);
    }
}

// A frame given up on while the application holds another: releasing it at
// once would free the application's frame (the PL frees the oldest first),
// so it waits until the application has given its frames back.
TEST_F(Handshake, LateFrameBehindAHeldFrameIsReleasedAfterIt) {
    unsigned char* held = nullptr;
    ASSERT_EQ(VYXZEB_CaptureData(0, &held), 0);
    const uint32_t heldStamp = Stamp(held);
    ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, 0), 0);
    unsigned char* frame = nullptr;
    const int first = VYXZEB_CaptureData(0, &frame);
    ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, kTimeOutMs), 0);
    const uint64_t releases = vb::modelCounters().releases;
    if (first == 0) {
        ASSERT_EQ(VYXZEB_ReleaseBuffer(0), 0);   // it was in time after all
    }

    unsigned char* own = nullptr;
    ASSERT_EQ(VYXZEB_CaptureData(0, &own), 0);
    EXPECT_EQ(Stamp(own), heldStamp + 2);
    ASSERT_TRUE(vb::modelWaitTick(kBoundMs));
    if (first != 0) {
        EXPECT_EQ(vb::modelCounters().releases, releases) << "the held frame's buffer was freed";
    }
    EXPECT_EQ(Stamp(held), heldStamp);
    ASSERT_EQ(VYXZEB_ReleaseBuffer(0), 0);
    ASSERT_TRUE(vb::modelWaitTick(kBoundMs));
    ASSERT_EQ(VYXZEB_ReleaseBuffer(0), 0);
    EXPECT_TRUE(WaitUntil([&] { return vb::modelCounters().releases >= releases + 2; }));
}

// Every capture waiting when a mode change starts returns -1011 at once,
// however long its time-out.
TEST_F(Handshake, ModeChangeWakesEveryWaitingCapture) {
    ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_EXTERNAL_TYPE0), 0);   // no edge: nothing comes
    ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, 60000), 0);
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        unsigned char* frame = reinterpret_cast<unsigned char*>(&frame);
        auto waiting = std::async(std::launch::async, [&frame] { return VYXZEB_CaptureData(0, &frame); });
        ASSERT_TRUE(WaitSleepingCaptures(1));
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_EXTERNAL_TYPE0), 0);
        ASSERT_EQ(waiting.wait_for(std::chrono::milliseconds(kBoundMs)), std::future_status::ready);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_EQ(waiting.get(), VYXZEB_RET_CAPTURE_TIMEOUT);
        EXPECT_EQ(frame, nullptr);
    }
}

// A capture that starts while a mode change is running waits for its end,
// then fires its own software trigger and returns that frame: no frame of
// the old mode, no time-out.  The change is held open from the test.
TEST_F(Handshake, CaptureStartedDuringAModeChangeGetsItsOwnTriggersFrame) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const uint64_t written = FramesWritten();
        std::future<std::pair<int, uint32_t>> capture;
        {
            CCaptureSync::CChange change(Sync());
            capture = std::async(std::launch::async, [] {
                unsigned char* frame = nullptr;
                const int ret = VYXZEB_CaptureData(0, &frame);
                return std::make_pair(ret, ret == 0 ? Stamp(frame) : 0u);
            });
            ASSERT_TRUE(WaitSleepingCaptures(1));
            EXPECT_EQ(FramesWritten(), written) << "no trigger while the change runs";
        }
        ASSERT_EQ(capture.wait_for(std::chrono::milliseconds(kBoundMs)), std::future_status::ready);
        const auto [ret, stamp] = capture.get();
        ASSERT_EQ(ret, 0);
        EXPECT_EQ(stamp, vb::modelCounters().lastFrameCounter);
        EXPECT_EQ(FramesWritten(), written + 1);
        ASSERT_EQ(VYXZEB_ReleaseBuffer(0), 0);
    }
}

// A capture-and-retry loop during mode changes: each change ends at most
// one capture; captures that start during a change wait for its end and
// then for a frame, instead of returning at once.
TEST_F(Handshake, CaptureDuringAModeChangeWaitsInsteadOfSpinning) {
    ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_CONTINUOUS), 0);
    std::atomic<bool> stop{false};
    std::atomic<long> frames{0}, failures{0};
    std::thread loop([&] {
        while (!stop) {
            unsigned char* frame = nullptr;
            if (VYXZEB_CaptureData(0, &frame) == 0) {
                ++frames;
                VYXZEB_ReleaseBuffer(0);
            } else {
                ++failures;
            }
        }
    });
    constexpr int kChanges = 5;
    bool flowing = WaitUntil([&] { return frames > 0; });
    for (int i = 0; i < kChanges && flowing; ++i) {
        const long before = frames;
        EXPECT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_CONTINUOUS), 0);
        flowing = WaitUntil([&] { return frames > before; });   // frames flow again
    }
    stop = true;
    loop.join();
    EXPECT_TRUE(flowing);
    EXPECT_LE(failures.load(), kChanges);
}

// The frame of the first trigger edge after a mode change reaches the
// application: the capture waiting across the change gives up, its retry
// gets the frame, and no buffer is left filled behind it.
TEST_F(Handshake, FirstFrameAfterAModeChangeIsHandedOut) {
    ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_EXTERNAL_TYPE0), 0);
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        std::atomic<int> failures{0};
        auto loop = std::async(std::launch::async, [&failures] {
            for (int attempt = 0; attempt < 5; ++attempt) {
                unsigned char* frame = nullptr;
                if (VYXZEB_CaptureData(0, &frame) == 0) {
                    const uint32_t stamp = Stamp(frame);
                    VYXZEB_ReleaseBuffer(0);
                    return stamp;
                }
                ++failures;
            }
            return 0u;
        });
        ASSERT_TRUE(WaitSleepingCaptures(1));
        ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_EXTERNAL_TYPE0), 0);   // re-armed
        // The edge comes at once, whether or not the waiting capture has
        // noticed the change yet.
        const uint32_t edge = Edge();
        ASSERT_EQ(loop.wait_for(std::chrono::milliseconds(kBoundMs)), std::future_status::ready);
        EXPECT_EQ(loop.get(), edge);
        EXPECT_EQ(failures, 1);
    }
}

// Emptying the buffers with acquisition stopped: the frames announced before
// are gone, and so are their announcements.
TEST_F(Handshake, EmptiedBuffersLeaveNoFrameToCapture) {
    ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_EXTERNAL_TYPE0), 0);
    for (int k = 0; k < 3; ++k) Edge();
    ASSERT_TRUE(WaitUntil([] { return Sync().AnnouncedFrames() == 3; }));
    ASSERT_EQ(VYXZEB_EmptyFrameBuffer(0), 0);
    ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, 100), 0);
    for (int k = 0; k < 4; ++k) {
        unsigned char* frame = reinterpret_cast<unsigned char*>(&frame);
        EXPECT_EQ(VYXZEB_CaptureData(0, &frame), VYXZEB_RET_CAPTURE_TIMEOUT) << k;
        EXPECT_EQ(frame, nullptr);
    }
}

}  // namespace
