// The device object on the virtual board: construction failure rows with
// their log lines, the pool's bookkeeping, the capture interrupt thread and
// the teardown.  White-box: links the library's objects, so g_Zeb and its
// members are reachable.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "BoardTest.h"
#include "TestSupport.h"
#include "VYXSet.h"
#include "VYXZebApi.h"
#include "VyxBoard.h"
#include "Zeb.h"

namespace {

using vyxtest::Contains;
using vyxtest::CountOf;
using vyxtest::LogCapture;

// Every failed or finished device leaves no board descriptor or mapping.
void ExpectNothingOpen() {
    EXPECT_EQ(vb::openNodeDescriptors(), 0);
    EXPECT_EQ(vb::liveNodeMappings(), 0);
}

class DeviceFailures : public vyxtest::BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        ASSERT_TRUE(log_.ok());
        log_.Mark();
    }
    void TearDown() override {
        vb::resetBoard();
        if (g_Zeb) VYXZEB_UnInit();
        ExpectNothingOpen();
        BoardTest::TearDown();
    }
    LogCapture log_;
};

TEST_F(DeviceFailures, MissingSpiBusFailsInitWithItsMessage) {
    vb::setNodeMissing(vb::Node::Spi0, true);
    EXPECT_EQ(VYXZEB_Init(), VYXZEB_RET_FAILED);
    EXPECT_EQ(g_Zeb, nullptr);
    EXPECT_TRUE(Contains(log_.SinceMark(), "VYXERR_(CZeb::CZeb BusInitial failed!)")) << log_.SinceMark();
}

TEST_F(DeviceFailures, CameraSetThatCannotMapFailsInit) {
    vb::setNodeMissing(vb::Node::CacheOps, true);
    EXPECT_EQ(VYXZEB_Init(), VYXZEB_RET_FAILED);
    const std::string text = log_.SinceMark();
    EXPECT_TRUE(Contains(text, "VYXERR_(CZeb::CZeb SetInitial failed!)")) << text;
    // No pool and no interrupt thread were attempted after the set failed.
    EXPECT_FALSE(Contains(text, "CreatePhysicalPool")) << text;
    EXPECT_FALSE(Contains(text, "StartCaptureInterruptThread")) << text;
}

TEST_F(DeviceFailures, PoolThatCannotOpenOrMapFailsInitWithoutThread) {
    // The camera set opens /dev/cache_ops first; the pool's open is the second.
    vb::Fault secondOpen;
    secondOpen.fromCall = 2;
    std::string text;
    {
        const vyxtest::ScopedFault poolOpen(vb::Node::CacheOps, vb::Op::Open, secondOpen);
        EXPECT_EQ(VYXZEB_Init(), VYXZEB_RET_FAILED);
        text = log_.SinceMark();
    }
    EXPECT_TRUE(Contains(text, "VYXERR_(----------CreatePhysicalPool open device /dev/cache_ops failed)")) << text;
    EXPECT_TRUE(Contains(text, "VYXWARNING_(CZeb::CZeb CreatePhysicalPool failed!)")) << text;
    EXPECT_FALSE(Contains(text, "StartCaptureInterruptThread")) << text;
    EXPECT_EQ(vb::openNodeDescriptors(vb::Node::Capture), 0);
    ExpectNothingOpen();

    log_.Mark();
    vb::Fault poolMap;
    poolMap.physOffset = 0x32800000;
    const vyxtest::ScopedFault poolMapping(vb::Node::CacheOps, vb::Op::Mmap, poolMap);
    EXPECT_EQ(VYXZEB_Init(), VYXZEB_RET_FAILED);
    text = log_.SinceMark();
    EXPECT_TRUE(Contains(text, "VYXERR_(----------CreatePhysicalPool mmap m_pPhyMemPoolMapBase failed)")) << text;
    EXPECT_TRUE(Contains(text, "VYXWARNING_(CZeb::CZeb CreatePhysicalPool failed!)")) << text;
}

TEST_F(DeviceFailures, MissingGpioIsToleratedAndGpioCallsFail) {
    vb::setNodeMissing(vb::Node::Gpio, true);
    ASSERT_EQ(VYXZEB_Init(), 0);
    EXPECT_TRUE(Contains(log_.SinceMark(), "VYXWARNING_(CZeb::CZeb GPIOInitial failed!)")) << log_.SinceMark();
    bool level = false;
    EXPECT_EQ(VYXZEB_GpioGet(0, &level), VYXZEB_RET_GPIO_FAILED);
    EXPECT_EQ(VYXZEB_GpioSet(3, true), VYXZEB_RET_GPIO_FAILED);
    unsigned short levels = 0xFFFF;
    EXPECT_EQ(VYXZEB_GpioGetStatus(&levels), VYXZEB_RET_GPIO_FAILED);
    EXPECT_EQ(levels, 0);
    EXPECT_EQ(VYXZEB_GpioSetStatus(0xFF), VYXZEB_RET_GPIO_FAILED);
}

TEST_F(DeviceFailures, MissingCaptureNodeLeavesCapturesTimingOut) {
    vb::setNodeMissing(vb::Node::Capture, true);
    ASSERT_EQ(VYXZEB_Init(), 0);
    ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, 100), 0);
    ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_CONTINUOUS), 0);
    unsigned char* frame = reinterpret_cast<unsigned char*>(0x1);
    EXPECT_EQ(VYXZEB_CaptureData(0, &frame), VYXZEB_RET_CAPTURE_TIMEOUT);
    EXPECT_EQ(frame, nullptr);
}

TEST_F(DeviceFailures, InterruptThreadThatCannotStartFailsInit) {
    // Without its interrupt thread no capture could ever complete.
    {
        const vyxtest::ScopedServiceFault noThread(vb::Service::ThreadCreate, vb::Fault{});
        EXPECT_EQ(VYXZEB_Init(), VYXZEB_RET_FAILED);
    }
    EXPECT_EQ(g_Zeb, nullptr);
    const std::string text = log_.SinceMark();
    EXPECT_TRUE(Contains(text, "VYXLOG_(++++++++++StartCaptureInterruptThread)")) << text;
    EXPECT_TRUE(Contains(text, "VYXLOG_(++++++++++StartCaptureInterruptThread nRet(-1001))")) << text;
}

// ---- one shared device for the pool and the interrupt thread ----
class SharedDevice : public vyxtest::BoardTest {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(VYXZEB_Init(), 0);
        // Codes raised before the interrupt thread has its node open have no
        // reader; wait for the open, bounded.
        for (int i = 0; i < 5000 && vb::openNodeDescriptors(vb::Node::Capture) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(vb::openNodeDescriptors(vb::Node::Capture), 1);
    }
    static void TearDownTestSuite() {
        EXPECT_EQ(VYXZEB_UnInit(), 0);
        ExpectNothingOpen();
    }
    static unsigned Announced() { return g_Zeb->m_pSet[0]->m_Sync.AnnouncedFrames(); }
    // The set forgets its announcements when it empties its buffers.
    static void ForgetAnnounced() { ASSERT_EQ(VYXZEB_EmptyFrameBuffer(0), 0); }
};

TEST_F(SharedDevice, PoolCounterMessageAppearsOnlyAfterTheSpareCount) {
    LogCapture log;
    ASSERT_TRUE(log.ok());
    unsigned char* blocks[24] = {};
    for (auto& b : blocks) ASSERT_EQ(VYXZEB_Malloc(1, &b), 0);
    unsigned char* p = nullptr;
    log.Mark();
    for (int k = 0; k < 3; ++k) EXPECT_EQ(VYXZEB_Malloc(1, &p), VYXZEB_RET_FAILED);
    EXPECT_EQ(log.SinceMark(), "");   // the three spare counts go silently
    EXPECT_EQ(VYXZEB_Malloc(1, &p), VYXZEB_RET_FAILED);
    EXPECT_EQ(VYXZEB_Malloc(1, &p), VYXZEB_RET_FAILED);
    EXPECT_EQ(CountOf(log.SinceMark(), "VYXERR_(----------MallocPhyPoolBlk m_unPhyPlBlkFree(0))"), 2u)
        << log.SinceMark();
    log.Mark();
    EXPECT_EQ(VYXZEB_Malloc(8388609, &p), VYXZEB_RET_FAILED);
    EXPECT_TRUE(Contains(log.SinceMark(), "VYXERR_(----------MallocPhyPoolBlk size(8388609))")) << log.SinceMark();
    for (auto& b : blocks) ASSERT_EQ(VYXZEB_Free(&b), 0);
    EXPECT_EQ(g_Zeb->m_unPhyPlBlkFree, 24u);   // three below the start: the spares were spent
}

TEST_F(SharedDevice, PoolTranslatesEveryBlockStartAndFlushes) {
    unsigned char* phy = nullptr;
    const uint64_t flushes = vb::cacheFlushCount();
    ASSERT_EQ(g_Zeb->GetLoadDataPhyAddress(g_Zeb->m_PhyPlBlk[5].pVirAddr, &phy), 0);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(phy), 0x35000000u);
    // Block 26 is never handed out, yet it translates.
    ASSERT_EQ(g_Zeb->GetLoadDataPhyAddress(g_Zeb->m_PhyPlBlk[26].pVirAddr, &phy), 0);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(phy), 0x3F800000u);
    EXPECT_EQ(vb::cacheFlushCount(), flushes + 2);
    phy = nullptr;
    EXPECT_EQ(g_Zeb->GetLoadDataPhyAddress(g_Zeb->m_PhyPlBlk[5].pVirAddr + 1, &phy), VYXZEB_RET_FAILED);
    EXPECT_EQ(phy, nullptr);
    EXPECT_EQ(vb::cacheFlushCount(), flushes + 2);
}

TEST_F(SharedDevice, EachCodeOfSetZeroAnnouncesOnceAndOtherTextsAreIgnored) {
    ForgetAnnounced();
    const uint64_t read0 = vb::interruptsRead();
    ASSERT_TRUE(vb::raiseInterruptText("169"));
    ASSERT_TRUE(vb::waitInterruptsRead(read0 + 1, 5000));
    // The announcement follows right after the read; wait for it, bounded.
    for (int i = 0; i < 5000 && Announced() < 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(Announced(), 1u);

    // No set 1, and texts that are not exactly a code: nothing is announced.
    // A short text after a long one must not pick up the long one's tail.
    ASSERT_TRUE(vb::raiseInterruptText("170"));
    ASSERT_TRUE(vb::raiseInterruptText("1690", false));
    ASSERT_TRUE(vb::raiseInterruptText("169", false));   // without terminator: still a code
    ASSERT_TRUE(vb::raiseInterruptText("16", false));
    ASSERT_TRUE(vb::raiseInterruptText("16"));
    ASSERT_TRUE(vb::waitInterruptsRead(read0 + 6, 5000));
    for (int i = 0; i < 5000 && Announced() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(Announced(), 2u);
    ForgetAnnounced();
}

// ---- teardown ----

// The interrupt thread waits in a select of one second; UnInit must wake it
// through its pipe rather than wait that out.  The proof needs no bound on a
// loaded machine: the test makes the thread start a new select after the
// moment t0 (one ignored code read), so without the wake the thread could
// not end before t0 + 1 s.  A slow machine may miss that window by itself,
// never on three runs in a row; a missing wake misses it every time.
using Teardown = vyxtest::BoardTest;

TEST_F(Teardown, UnInitWakesTheInterruptThreadInsteadOfWaitingOutItsSelect) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kThreadWait = std::chrono::seconds(1);
    bool bWokenEarly = false;
    for (int run = 0; run < 3 && !bWokenEarly; ++run) {
        // Selects on the node are counted as they begin; only the thread makes them.
        auto selects = [] { return vb::callCount(vb::Node::Capture, vb::Op::Select); };
        auto waitSelects = [&](unsigned count) {
            for (int i = 0; i < 20000 && selects() < count; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return selects() >= count;
        };
        const unsigned beforeInit = selects();
        ASSERT_EQ(VYXZEB_Init(), 0);
        ASSERT_TRUE(waitSelects(beforeInit + 1)) << "the thread never waited";
        const unsigned selects0 = selects();
        const uint64_t read0 = vb::interruptsRead();
        const auto t0 = Clock::now();
        ASSERT_TRUE(vb::raiseInterruptText("170"));  // no set 1: read and ignored
        ASSERT_TRUE(vb::waitInterruptsRead(read0 + 1, 20000));
        // The thread is back in a select begun after t0.
        ASSERT_TRUE(waitSelects(selects0 + 1));
        ASSERT_EQ(VYXZEB_UnInit(), 0);
        bWokenEarly = Clock::now() - t0 < kThreadWait;
        // The thread has closed its node before UnInit returned: it was joined.
        EXPECT_EQ(vb::openNodeDescriptors(vb::Node::Capture), 0);
        ExpectNothingOpen();
    }
    EXPECT_TRUE(bWokenEarly) << "UnInit waited out the interrupt thread's select three times";
}

// Init/UnInit cycles while interrupts keep arriving: the thread must never
// touch a destroyed camera set, and nothing may accumulate.
TEST_F(Teardown, RepeatedCyclesUnderInterruptsLeaveNothingBehind) {
    std::atomic<bool> stop{false};
    std::thread storm([&] {
        while (!stop) {
            vb::raiseInterruptText("169");
            std::this_thread::sleep_for(std::chrono::microseconds(200));   // pace the storm, not a wait
        }
    });
    ASSERT_EQ(VYXZEB_Init(), 0);
    ASSERT_EQ(VYXZEB_UnInit(), 0);
    const int fds = vyxtest::CountEntries("fd");
    const int threads = vyxtest::CountEntries("task");
    for (int cycle = 0; cycle < 20; ++cycle) {
        ASSERT_EQ(VYXZEB_Init(), 0) << cycle;
        ASSERT_EQ(VYXZEB_UnInit(), 0) << cycle;
        EXPECT_EQ(vb::openNodeDescriptors(), 0) << cycle;
        EXPECT_EQ(vb::liveNodeMappings(), 0) << cycle;
    }
    EXPECT_EQ(vyxtest::CountEntries("fd"), fds);
    // No interrupt thread left behind (a joined one may take a moment to
    // leave the thread list, under qemu).
    EXPECT_LE(vyxtest::ThreadsSettledTo(threads), threads);
    stop = true;
    storm.join();
}

}  // namespace
