// White-box tests of CVYXSet on the virtual board: construction and its
// failure rows, frame capture, the trigger-mode hand-shake, the frame
// address translation and the release of everything a set made.
//
// Nothing announces a frame to a set here unless a test does: the interrupt
// thread belongs to the device object, so tests announce frames themselves or
// pump the capture node as that thread would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/select.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "BoardTest.h"
#include "BusSPI0.h"
#include "PLRegs.h"
#include "TestSupport.h"
#include "VYXSet.h"
#include "VyxBoard.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fpga = vyxpl::fpga;
constexpr uint32_t kBuf = vyxpl::phys::kFrameBufferSize;

// Bus arguments as the device object passes them.
std::unique_ptr<CBusSPI0> OpenBus() {
    bool ok = false;
    auto bus = std::make_unique<CBusSPI0>(&ok, 100, 8, 1);
    EXPECT_TRUE(ok);
    return bus;
}

long ElapsedMs(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

unsigned Announced(CVYXSet& set) { return set.m_Sync.AnnouncedFrames(); }

// One set shared by the suite: construction pauses a second (the PL settles).
class CameraSetTest : public vyxtest::BoardTest {
protected:
    static void SetUpTestSuite() {
        vb::resetFaults();
        s_bus = OpenBus().release();
        bool ok = false;
        s_set = new CVYXSet(&ok, s_bus, VYXZEB_SENSOR_Q210B);
        s_ok = ok;
    }
    static void TearDownTestSuite() {
        delete s_set;
        delete s_bus;
        s_set = nullptr;
        s_bus = nullptr;
    }
    void SetUp() override {
        BoardTest::SetUp();
        ASSERT_TRUE(s_ok);
        // An external trigger mode with no trigger input: the PL stays idle,
        // so only the test decides when a frame is announced.
        ASSERT_EQ(0, s_set->SetTriggerMode(VYXZEB_TRIGGER_EXTERNAL_TYPE0));
        s_set->SetTimeOut(kDefaultCaptureTimeOutMs);
    }

    static CIBus* s_bus;
    static CVYXSet* s_set;
    static bool s_ok;
};
CIBus* CameraSetTest::s_bus = nullptr;
CVYXSet* CameraSetTest::s_set = nullptr;
bool CameraSetTest::s_ok = false;

TEST_F(CameraSetTest, ConstructionMapsTheFrameBuffersAndSetsTheFullWindow) {
    CVYXSet& set = *s_set;
    EXPECT_EQ(vb::Node::CacheOps, vb::nodeOfDescriptor(set.m_nFdFrameBuffer));
    EXPECT_EQ(fpga::kPlEnable152Value, vb::fpgaReg(fpga::kPlEnable152));

    // Each mapping is the physical buffer of its index.
    for (int i = 0; i < 4; ++i) {
        const uint32_t phys = vyxpl::phys::kFrameBufferBase + i * kBuf;
        const uint8_t marker = static_cast<uint8_t>(0xA0 + i);
        ASSERT_TRUE(vb::writePhys(phys + kBuf - 1, &marker, 1));
        ASSERT_NE(nullptr, set.m_pMapBaseFrameBuffer[i]);
        EXPECT_EQ(marker, set.m_pMapBaseFrameBuffer[i][kBuf - 1]) << "buffer " << i;
    }

    int w = 0, h = 0, bits = 0;
    ASSERT_EQ(0, set.GetCaptureSize(&w, &h, &bits));
    EXPECT_EQ(1280, w);
    EXPECT_EQ(1024, h);
    EXPECT_EQ(8, bits);
    EXPECT_EQ(1280u * 1024u, vb::fpgaReg(fpga::kFramePixelsA));
    EXPECT_EQ(1280u * 1024u, vb::fpgaReg(fpga::kFramePixelsB));

    VYXZEB_SENSOR_TYPE type = VYXZEB_SENSOR_V880A;
    EXPECT_EQ(0, set.GetSensorType(&type));
    EXPECT_EQ(VYXZEB_SENSOR_Q210B, type);

    unsigned long timeOut = 0;
    EXPECT_EQ(0, set.GetTimeOut(&timeOut));
    EXPECT_EQ(kDefaultCaptureTimeOutMs, timeOut);
    EXPECT_EQ(0, set.GetTimeOut(nullptr));
}

TEST_F(CameraSetTest, FramePointersTranslateToPhysicalAddressesWithOneCacheRequest) {
    CVYXSet& set = *s_set;
    unsigned char* phys = nullptr;
    const uint64_t flushes = vb::cacheFlushCount();

    ASSERT_EQ(0, set.GetFramePhyAddress(set.m_pMapBaseFrameBuffer[2], &phys));
    EXPECT_EQ(0x31400000u, reinterpret_cast<uintptr_t>(phys));
    ASSERT_EQ(0, set.GetFramePhyAddress(set.m_pMapBaseFrameBuffer[3] + kBuf - 1, &phys));
    EXPECT_EQ(0x327FFFFFu, reinterpret_cast<uintptr_t>(phys));
    ASSERT_EQ(0, set.GetFramePhyAddress(set.m_pMapBaseFrameBuffer[0] + 0x1234, &phys));
    EXPECT_EQ(0x30001234u, reinterpret_cast<uintptr_t>(phys));
    EXPECT_EQ(flushes + 3, vb::cacheFlushCount());

    unsigned char local = 0;
    phys = nullptr;
    EXPECT_EQ(VYXZEB_RET_FAILED, set.GetFramePhyAddress(&local, &phys));
    EXPECT_EQ(VYXZEB_RET_FAILED, set.GetFramePhyAddress(nullptr, &phys));
    EXPECT_EQ(VYXZEB_RET_FAILED, set.ShowCaptureData(&local));
    EXPECT_EQ(nullptr, phys);
    EXPECT_EQ(flushes + 3, vb::cacheFlushCount());
}

TEST_F(CameraSetTest, CaptureReturnsTheBufferThePlNamesOncePerAnnouncedFrame) {
    CVYXSet& set = *s_set;
    set.SetTimeOut(100);
    unsigned char* frame = nullptr;
    EXPECT_EQ(VYXZEB_RET_BAD_PARAMETER, set.CaptureData(nullptr));

    // Three frames announced while nobody waited: three captures return at
    // once, each with the buffer register 52 names at that moment.
    for (int i = 0; i < 3; ++i) set.AnnounceFrame();
    for (uint32_t id : {2u, 0u, 3u}) {
        vb::setFpgaReg(fpga::kFrameBufStatus, id << fpga::kFrameBufIdShift);
        ASSERT_EQ(0, set.CaptureData(&frame));
        EXPECT_EQ(set.m_pMapBaseFrameBuffer[id], frame);
    }

    // The fourth finds nothing and gives up at its deadline.
    frame = reinterpret_cast<unsigned char*>(&frame);
    const auto start = Clock::now();
    EXPECT_EQ(VYXZEB_RET_CAPTURE_TIMEOUT, set.CaptureData(&frame));
    EXPECT_EQ(nullptr, frame);
    EXPECT_GE(ElapsedMs(start), 95);
}

// The wait of each capture needs a semaphore of its own; a capture that
// cannot make one says so and gives up without touching the PL.
TEST_F(CameraSetTest, CaptureThatCannotWaitGivesUpWithItsMessage) {
    CVYXSet& set = *s_set;
    vyxtest::LogCapture log;
    ASSERT_TRUE(log.ok());
    set.AnnounceFrame();
    unsigned char* frame = reinterpret_cast<unsigned char*>(&frame);
    {
        const vyxtest::ScopedServiceFault noSemaphore(vb::Service::SemInit, vb::Fault());
        EXPECT_EQ(VYXZEB_RET_CAPTURE_TIMEOUT, set.CaptureData(&frame));
    }
    EXPECT_EQ(nullptr, frame);
    EXPECT_TRUE(vyxtest::Contains(log.Text(), "VYXERR_(----------CaptureData cannot wait for a frame)")) << log.Text();
    EXPECT_EQ(1u, Announced(set));   // the frame stays for the next capture
    EXPECT_EQ(0, set.CaptureData(&frame));
    EXPECT_EQ(0, set.ReleaseFrameBuffer());
}

TEST_F(CameraSetTest, SoftwareTriggerNeedsRunningAcquisitionAndFiresOncePerCapture) {
    CVYXSet& set = *s_set;
    set.SetTimeOut(100);
    ASSERT_EQ(0, set.SetTriggerMode(VYXZEB_TRIGGER_SOFTWARE));
    EXPECT_EQ(fpga::kControlCaptureStart, vb::fpgaReg(fpga::kControl) & fpga::kControlCaptureStart);

    // Stop acquisition behind the set's back: the capture refuses at once
    // and leaves the caller's pointer alone.
    ASSERT_EQ(0, set.EmptyFrameBuffer());
    unsigned char* frame = reinterpret_cast<unsigned char*>(&frame);
    unsigned char* const untouched = frame;
    EXPECT_EQ(VYXZEB_RET_CAPTURE_NOT_STARTED, set.CaptureData(&frame));
    EXPECT_EQ(untouched, frame);

    // Running again: a capture triggers the PL, which acquires one frame and
    // raises the set's interrupt.  Read it as the interrupt thread would.
    ASSERT_EQ(0, set.SetTriggerMode(VYXZEB_TRIGGER_SOFTWARE));
    set.SetTimeOut(5000);
    const uint64_t readBefore = vb::interruptsRead();
    std::atomic<bool> stop{false};
    std::thread pump([&] {
        const int fd = open("/dev/vyx_capture_0", O_RDONLY);
        ASSERT_GE(fd, 0);
        while (!stop) {
            fd_set in;
            FD_ZERO(&in);
            FD_SET(fd, &in);
            timeval tv = {0, 50000};
            if (select(fd + 1, &in, nullptr, nullptr, &tv) <= 0) continue;
            char code[9] = {};
            if (read(fd, code, 8) > 0 && std::string(code) == "169") set.AnnounceFrame();
        }
        close(fd);
    });
    // A code raised before the pump has the node open has no reader and is
    // dropped: capture only once the pump is listening (bounded).
    for (int i = 0; i < 5000 && vb::openNodeDescriptors(vb::Node::Capture) == 0; ++i)
        usleep(1000);
    const bool listening = vb::openNodeDescriptors(vb::Node::Capture) == 1;
    EXPECT_TRUE(listening) << "the pump never opened the capture node";
    for (int i = 0; listening && i < 3; ++i) {
        const int ret = set.CaptureData(&frame);
        EXPECT_EQ(0, ret) << "capture " << i;
        if (ret != 0) break;  // the pump thread is still to be joined
        EXPECT_EQ(set.m_pMapBaseFrameBuffer[vb::fpgaReg(fpga::kFrameBufStatus) >> fpga::kFrameBufIdShift], frame);
        EXPECT_EQ(0, set.ReleaseFrameBuffer());
    }
    stop = true;
    pump.join();
    EXPECT_GE(vb::interruptsRead(), readBefore + 3);
}

// Bounded wait until `count` captures sleep in the set's hand-shake.
bool WaitForSleepingCaptures(CVYXSet& set, unsigned count) {
    for (int i = 0; i < 20000 && set.m_Sync.WaitingCaptures() != count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return set.m_Sync.WaitingCaptures() == count;
}

// Captures blocked in other threads while the trigger mode changes give up at
// once with a null pointer, however long their time-out; a frame announced
// after the change goes to the next capture.
TEST_F(CameraSetTest, ModeChangeEndsEveryBlockedCaptureAtOnce) {
    CVYXSet& set = *s_set;
    set.SetTimeOut(ULONG_MAX);
    constexpr int kCaptures = 3;
    unsigned char* frames[kCaptures];
    std::future<int> captures[kCaptures];
    for (int i = 0; i < kCaptures; ++i) {
        frames[i] = reinterpret_cast<unsigned char*>(&frames[i]);
        captures[i] = std::async(std::launch::async, [&set, &frames, i] { return set.CaptureData(&frames[i]); });
    }
    ASSERT_TRUE(WaitForSleepingCaptures(set, kCaptures));

    ASSERT_EQ(0, set.SetTriggerMode(VYXZEB_TRIGGER_EXTERNAL_TYPE1));
    for (int i = 0; i < kCaptures; ++i) {
        ASSERT_EQ(std::future_status::ready, captures[i].wait_for(std::chrono::seconds(20))) << "capture hangs";
        EXPECT_EQ(VYXZEB_RET_CAPTURE_TIMEOUT, captures[i].get());
        EXPECT_EQ(nullptr, frames[i]);
    }

    // A capture that starts after the change takes frames of the new mode.
    set.SetTimeOut(5000);
    vb::setFpgaReg(fpga::kFrameBufStatus, 1u << fpga::kFrameBufIdShift);
    set.AnnounceFrame();
    unsigned char* frame = nullptr;
    EXPECT_EQ(0, set.CaptureData(&frame));
    EXPECT_EQ(set.m_pMapBaseFrameBuffer[1], frame);
    EXPECT_EQ(0, set.ReleaseFrameBuffer());
}

TEST_F(CameraSetTest, ModeChangeForgetsAnnouncedFramesAndRestartsAcquisition) {
    CVYXSet& set = *s_set;
    for (int i = 0; i < 3; ++i) set.AnnounceFrame();
    ASSERT_EQ(3u, Announced(set));
    ASSERT_EQ(0, set.SetTriggerMode(VYXZEB_TRIGGER_CONTINUOUS));
    EXPECT_EQ(0u, Announced(set));
    EXPECT_EQ(fpga::kControlCaptureStart, vb::fpgaReg(fpga::kControl) & fpga::kControlCaptureStart);
    EXPECT_FALSE(set.m_Sync.Changing());
    VYXZEB_TRIGGER_MODE mode = VYXZEB_TRIGGER_SOFTWARE;
    EXPECT_EQ(0, set.GetTriggerMode(&mode));
    EXPECT_EQ(VYXZEB_TRIGGER_CONTINUOUS, mode);

    // Emptying the buffers forgets their frames too, and leaves acquisition
    // stopped.
    for (int i = 0; i < 2; ++i) set.AnnounceFrame();
    ASSERT_EQ(0, set.EmptyFrameBuffer());
    EXPECT_EQ(0u, Announced(set));
    EXPECT_EQ(0u, vb::fpgaReg(fpga::kControl) & fpga::kControlCaptureStart);

    // A refused mode changes nothing: acquisition stays stopped, the mode and
    // the frames announced since stay as they were.
    set.AnnounceFrame();
    const uint32_t trigger = vb::fpgaReg(fpga::kTrigger);
    EXPECT_EQ(VYXZEB_RET_BAD_PARAMETER, set.SetTriggerMode(static_cast<VYXZEB_TRIGGER_MODE>(6)));
    EXPECT_EQ(VYXZEB_RET_BAD_PARAMETER, set.SetTriggerMode(static_cast<VYXZEB_TRIGGER_MODE>(7)));
    EXPECT_EQ(0u, vb::fpgaReg(fpga::kControl) & fpga::kControlCaptureStart);
    EXPECT_EQ(trigger, vb::fpgaReg(fpga::kTrigger));
    EXPECT_EQ(1u, Announced(set));
    ASSERT_EQ(0, set.SetTriggerMode(VYXZEB_TRIGGER_EXTERNAL_TYPE0));
    EXPECT_EQ(0u, Announced(set));
}

TEST_F(CameraSetTest, OnlyWindowAndCombinedAddressModeResizeThePl) {
    CVYXSet& set = *s_set;
    const uint32_t full = 1280u * 1024u;
    ASSERT_EQ(full, vb::fpgaReg(fpga::kFramePixelsA));

    ASSERT_EQ(0, set.SetColAddressMode(VYX_ADDRESSMODE_DIV2));
    EXPECT_EQ(full, vb::fpgaReg(fpga::kFramePixelsA));
    ASSERT_EQ(0, set.SetAddressMode(VYX_ADDRESSMODE_DIV2));
    EXPECT_EQ(640u * 512u, vb::fpgaReg(fpga::kFramePixelsA));
    VYX_ADDRESSMODE mode = VYX_ADDRESSMODE_NORMAL;
    EXPECT_EQ(0, set.GetAddressMode(&mode));
    EXPECT_EQ(VYX_ADDRESSMODE_DIV2, mode);
    EXPECT_EQ(0, set.GetColAddressMode(&mode));
    EXPECT_EQ(VYX_ADDRESSMODE_DIV2, mode);

    ASSERT_EQ(0, set.SetAddressMode(VYX_ADDRESSMODE_NORMAL));
    EXPECT_EQ(full, vb::fpgaReg(fpga::kFramePixelsA));

    ASSERT_EQ(0, set.SetCaptureFieldOfView(0, 0, 640, 480));
    int w = 0, h = 0, bits = 0;
    ASSERT_EQ(0, set.GetCaptureSize(&w, &h, &bits));
    EXPECT_EQ(static_cast<uint32_t>(w * h), vb::fpgaReg(fpga::kFramePixelsA));
    ASSERT_EQ(0, set.SetCaptureFieldOfView(0, 0, 1280, 1024));
    EXPECT_EQ(full, vb::fpgaReg(fpga::kFramePixelsA));
}

// The bus fails half-way through a window change: the column count reached
// the chip, the row count did not.  The call fails, and the PL cuts frames
// by the size the chip now delivers, not by the old one.
TEST_F(CameraSetTest, BusFailureHalfWayThroughAWindowChangeLeavesThePlInStepWithTheChip) {
    CVYXSet& set = *s_set;
    ASSERT_EQ(0, set.SetCaptureFieldOfView(0, 0, 1280, 1024));
    vb::Fault fault;
    fault.fromCall = 2;  // the window's origin is unchanged: write 1 is the width, 2 the height
    {
        const vyxtest::ScopedFault heightLost(vb::Node::Spi0, vb::Op::Write, fault);
        EXPECT_NE(0, set.SetCaptureFieldOfView(0, 0, 640, 480));
    }
    int w = 0, h = 0, bits = 0;
    ASSERT_EQ(0, set.GetCaptureSize(&w, &h, &bits));
    EXPECT_EQ(640, w);
    EXPECT_EQ(1024, h);
    EXPECT_EQ(640u * 1024u, vb::fpgaReg(fpga::kFramePixelsA));
    EXPECT_EQ(640u * 1024u, vb::fpgaReg(fpga::kFramePixelsB));
    ASSERT_EQ(0, set.SetCaptureFieldOfView(0, 0, 1280, 1024));
    EXPECT_EQ(1280u * 1024u, vb::fpgaReg(fpga::kFramePixelsA));
}

TEST_F(CameraSetTest, TwoSetsHaveHandshakesOfTheirOwn) {
    std::unique_ptr<CBusSPI0> bus = OpenBus();
    bool ok = false;
    CVYXSet other(&ok, bus.get(), VYXZEB_SENSOR_Q210B);
    ASSERT_TRUE(ok);
    ASSERT_EQ(0, other.SetTriggerMode(VYXZEB_TRIGGER_EXTERNAL_TYPE0));
    ASSERT_EQ(0, s_set->SetTriggerMode(VYXZEB_TRIGGER_EXTERNAL_TYPE0));
    other.SetTimeOut(100);
    s_set->SetTimeOut(100);
    other.AnnounceFrame();
    unsigned char* frame = nullptr;
    EXPECT_EQ(VYXZEB_RET_CAPTURE_TIMEOUT, s_set->CaptureData(&frame));
    EXPECT_EQ(0, other.CaptureData(&frame));
}

// ---- construction failure rows ------------------------------------------

// Each row leaves nothing open: the fixture's tear-down checks every node.
class CameraSetFailureTest : public vyxtest::BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        bus_ = OpenBus();
        mappings_ = vb::liveNodeMappings(vb::Node::CacheOps);
    }
    void TearDown() override {
        bus_.reset();
        BoardTest::TearDown();
    }
    std::unique_ptr<CBusSPI0> bus_;
    vyxtest::LogCapture log_;
    int mappings_ = 0;
};

TEST_F(CameraSetFailureTest, MissingFrameMemoryDeviceFailsWithNothingOpen) {
    vb::setNodeMissing(vb::Node::CacheOps, true);
    bool ok = true;
    CVYXSet set(&ok, bus_.get(), VYXZEB_SENSOR_Q210B);
    EXPECT_FALSE(ok);
    EXPECT_EQ(-1, set.m_nFdFrameBuffer);
    EXPECT_TRUE(vyxtest::Contains(log_.Text(), "VYXERR_(-----------CVYXSet open device /dev/cache_ops failed)"));

    // A failed set answers every operation with the code of what it lacks.
    unsigned char* frame = nullptr;
    unsigned long value = 0;
    VYXZEB_TRIGGER_MODE mode;
    EXPECT_EQ(VYXZEB_RET_SET_UNAVAILABLE, set.CaptureData(&frame));
    EXPECT_EQ(VYXZEB_RET_PL_UNAVAILABLE, set.SetTriggerMode(VYXZEB_TRIGGER_SOFTWARE));
    EXPECT_EQ(VYXZEB_RET_PL_UNAVAILABLE, set.GetTriggerMode(&mode));
    EXPECT_EQ(VYXZEB_RET_PL_UNAVAILABLE, set.GetTriggerDelayRange(&value, &value));
    EXPECT_EQ(VYXZEB_RET_PL_UNAVAILABLE, set.ReleaseFrameBuffer());
    EXPECT_EQ(VYXZEB_RET_SET_UNAVAILABLE, set.GetMultiFrame(&value));
    EXPECT_EQ(VYXZEB_RET_SET_UNAVAILABLE, set.WrRegFPGA(fpga::kTriggerDelay, 1));
    EXPECT_EQ(VYXZEB_RET_SET_UNAVAILABLE, set.ShowUserLoadData(nullptr, 8, 8, 8));
    EXPECT_EQ(VYXZEB_RET_SET_UNAVAILABLE, set.ShowCaptureData(nullptr));
    EXPECT_EQ(0, set.UpdatePL_WhenSensorFovChanged());
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, set.SetGain(1));
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, set.SetAddressMode(VYX_ADDRESSMODE_DIV2));
}

TEST_F(CameraSetFailureTest, ThirdMappingFailureKeepsTheFirstTwoUntilDestroyed) {
    vb::Fault fault;
    fault.fromCall = 3;
    fault.times = 1;
    const vyxtest::ScopedFault thirdMapping(vb::Node::CacheOps, vb::Op::Mmap, fault);
    bool ok = true;
    {
        CVYXSet set(&ok, bus_.get(), VYXZEB_SENSOR_Q210B);
        EXPECT_FALSE(ok);
        EXPECT_NE(nullptr, set.m_pMapBaseFrameBuffer[0]);
        EXPECT_NE(nullptr, set.m_pMapBaseFrameBuffer[1]);
        EXPECT_EQ(nullptr, set.m_pMapBaseFrameBuffer[2]);
        EXPECT_EQ(nullptr, set.m_pMapBaseFrameBuffer[3]);
        EXPECT_EQ(mappings_ + 2, vb::liveNodeMappings(vb::Node::CacheOps));
    }
    EXPECT_TRUE(vyxtest::Contains(log_.Text(), "VYXERR_(-----------CVYXSet m_pMapBaseFrameBuffer[2] mmap failed)"));
}

TEST_F(CameraSetFailureTest, PluginFailuresFailTheSet) {
    struct Row {
        void (*inject)();
        VYXZEB_SENSOR_TYPE type;
        const char* message;
    };
    const Row rows[] = {
        {[] { vb::setPluginMissing(true); }, VYXZEB_SENSOR_Q210B,
         "VYXERR_(CVYXSet dlopen the sensor dll /usr/lib/libvyxSensorQ210B.so failed)"},
        {[] {}, VYXZEB_SENSOR_V880A, "VYXERR_(CVYXSet dlopen the sensor dll /usr/lib/libvyxSensorV880A.so failed)"},
        // A library without the factory (the board itself, already loaded).
        {[] { vb::setPluginPath(VYX_BOARD_LIBRARY); }, VYXZEB_SENSOR_Q210B,
         "VYXERR_(CVYXSet dlsym the new sensor object interface[newSensor] failed)"},
    };
    for (const Row& row : rows) {
        vb::resetBoard();
        row.inject();
        log_.Mark();
        bool ok = true;
        {
            CVYXSet set(&ok, bus_.get(), row.type);
            EXPECT_EQ(nullptr, set.m_pSensor);
            EXPECT_EQ(nullptr, set.m_pPL);
        }
        EXPECT_FALSE(ok) << row.message;
        EXPECT_TRUE(vyxtest::Contains(log_.SinceMark(), row.message)) << row.message;
        EXPECT_EQ(mappings_, vb::liveNodeMappings(vb::Node::CacheOps)) << row.message;
    }
}

// A sensor that does not answer on its bus and a PL whose registers cannot be
// reached still make a set: each operation reports what is missing.
TEST_F(CameraSetFailureTest, SilentSensorAndUnreachablePlStillMakeASet) {
    vb::setSpiTransferReturnsZero(0);
    vb::setNodeMissing(vb::Node::Mem, true);
    bool ok = false;
    CVYXSet set(&ok, bus_.get(), VYXZEB_SENSOR_Q210B);
    EXPECT_TRUE(ok);
    EXPECT_EQ(nullptr, set.m_pSensor);
    EXPECT_NE(nullptr, set.m_pPL);
    EXPECT_TRUE(vyxtest::Contains(log_.Text(), "VYXERR_(CVYXSet craete new sensor object failed)"));

    VYXZEB_SENSOR_TYPE type = VYXZEB_SENSOR_V880A;
    unsigned long x = 0;
    bool b = false;
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, set.GetSensorType(&type));
    EXPECT_EQ(VYXZEB_SENSOR_V880A, type);
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, set.SetCaptureFieldOfView(0, 0, 640, 480));
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, set.GetCaptureFieldOfView(&x, &x, &x, &x));
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, set.FlashGetInvert(&b));
    EXPECT_EQ(VYXZEB_RET_REGISTER_ACCESS_FAILED, set.RdRegFPGA(fpga::kVersion, &x));
    EXPECT_EQ(VYXZEB_RET_REGISTER_ACCESS_FAILED, set.SetTriggerDelay(5));
}

// ---- repeated construction ------------------------------------------------

// Bytes the process holds on the heap, large blocks (mapped singly) included.
size_t HeapBytes() {
    const struct mallinfo2 mi = mallinfo2();
    return mi.uordblks + mi.hblkhd;
}

using CameraSetCycles = vyxtest::BoardTest;

TEST_F(CameraSetCycles, RepeatedSetsLeaveDescriptorsMappingsAndMemoryFlat) {
    std::unique_ptr<CBusSPI0> bus = OpenBus();
    auto once = [&] {
        bool ok = false;
        CVYXSet set(&ok, bus.get(), VYXZEB_SENSOR_Q210B);
        ASSERT_TRUE(ok);
        ASSERT_NE(nullptr, set.m_pSensor);
    };
    once();  // the plug-in loads and stays loaded
    const int nodeFds = vb::openNodeDescriptors();
    const int nodeMaps = vb::liveNodeMappings();
    const int fds = vyxtest::CountEntries("fd");
    const int maps = vyxtest::CountMappings();
    const size_t heap = HeapBytes();
    for (int i = 0; i < 20; ++i) {
        once();
        ASSERT_EQ(nodeFds, vb::openNodeDescriptors()) << "cycle " << i;
        ASSERT_EQ(nodeMaps, vb::liveNodeMappings()) << "cycle " << i;
    }
    EXPECT_EQ(fds, vyxtest::CountEntries("fd"));
    // The board counts its own mappings exactly; the process as a whole may
    // gain a few from the allocator (and the sanitizer's), never one a cycle.
    EXPECT_LT(vyxtest::CountMappings(), maps + 10);
    // A sensor object alone is 256 KiB: twenty leaked ones would show.
    EXPECT_LT(HeapBytes(), heap + 256 * 1024);
}

}  // namespace
