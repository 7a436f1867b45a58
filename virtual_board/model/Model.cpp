// Model.cpp - the board's hardware models put together: the Q210B on SPI bus
// 0, the PL thread that samples the register blocks about once a millisecond
// and runs acquisition and display, the HDMI screen, and the control
// functions tests use (VyxModel.h).
//
// The PL thread starts when the board comes up and is stopped and joined at
// process exit (only in the process that started it: a forked child has no
// such thread and must not wait for it).  Everything the thread touches is
// allocated once and never freed, so late callers during exit stay safe.
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#ifdef VYX_BOARD_HAVE_PNG
#include <png.h>
#endif

#include "AcquisitionModel.h"
#include "BoardModel.h"
#include "DisplayModel.h"
#include "ModelCommon.h"
#include "PLRegs.h"
#include "Scene.h"
#include "SensorModel.h"
#include "VyxModel.h"

namespace vb {
namespace model {
namespace {

static_assert(kTriggerInputLine == vb::kTriggerInputLine, "one trigger input line");
static_assert(kFrameStampBytes == vb::kFrameStampBytes, "one frame stamp size");
static_assert(kScreenWidth == vb::kScreenWidth && kScreenHeight == vb::kScreenHeight, "one screen size");
static_assert(kArrayColumns == vb::kSensorColumns && kArrayRows == vb::kSensorRows, "one pixel array");

constexpr int kSensorBus = 0;
constexpr auto kTickPeriod = std::chrono::milliseconds(1);
constexpr int64_t kStalledFramePeriodUs = 2000000;   // no pixel clock

int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Model {
    SensorChip sensor;

    std::mutex sceneLock;
    std::vector<uint8_t> scene = makeTestPatternScene();
    double light = 1.0;               // scene illumination, VYXSIM_LIGHT

    HardwareView hw{};
    std::unique_ptr<AcquisitionModel> acquisition;
    std::thread thread;
    pid_t owner = 0;
    std::atomic<bool> stop{false};

    // Guarded by lock; `changed` is signalled after every tick.
    std::mutex lock;
    std::condition_variable changed;
    uint64_t ticks = 0;
    uint64_t shows = 0;
    uint64_t screenUpdates = 0;
    bool haveWritten = false;
    StoreWindow lastWritten;          // where the last show put its picture
    bool screenShowsLastWrite = false;
    std::vector<uint8_t> screen = std::vector<uint8_t>(kScreenBytes, 0);

    // PL thread only.
    ReadSide shownSide;
    bool screenComposed = false;
    std::vector<uint8_t> work = std::vector<uint8_t>(kScreenBytes, 0);
};

Model& theModel()
{
    static Model* m = new Model;   // lives until the process ends
    return *m;
}

int64_t sensorFramePeriodUs(const SensorReadout& r)
{
    if (!(r.frameTimeS > 0) || !std::isfinite(r.frameTimeS)) return kStalledFramePeriodUs;
    return static_cast<int64_t>(std::min(r.frameTimeS * 1e6, static_cast<double>(kStalledFramePeriodUs)));
}

// One frame as the sensor currently delivers it, in the PL's frame layout.
void renderFrame(Model& m, uint8_t* dst, uint32_t bytes, uint32_t lineWidth)
{
    SensorReadout r = sensorReadout(m.sensor.snapshot());
    r.brightness *= m.light;
    const uint32_t lines = bytes / lineWidth;
    const uint32_t rest = bytes % lineWidth;
    std::lock_guard<std::mutex> g(m.sceneLock);
    renderSensorImage(r, m.scene.data(), dst, static_cast<int>(lineWidth), static_cast<int>(lines), lineWidth);
    if (rest != 0) {
        // A pixel count that is not a whole number of lines ends mid-line.
        std::vector<uint8_t> tail(static_cast<size_t>(lineWidth) * (lines + 1));
        renderSensorImage(r, m.scene.data(), tail.data(), static_cast<int>(lineWidth), static_cast<int>(lines + 1),
                          lineWidth);
        std::memcpy(dst + static_cast<size_t>(lines) * lineWidth, tail.data() + static_cast<size_t>(lines) * lineWidth,
                    rest);
    }
}

void displayTick(Model& m)
{
    const bool strobe = consumeReg(m.hw.fpga, vyxpl::fpga::kShowStrobe) != 0;
    StoreWindow written;
    const bool wrote = strobe && runShowPipeline(m.hw, &written);
    const ReadSide rs = readSide(m.hw);
    const bool recompose = wrote || !m.screenComposed || rs != m.shownSide;
    if (recompose) {
        composeScreen(m.hw, rs, m.work.data());
        m.shownSide = rs;
        m.screenComposed = true;
    }
    std::lock_guard<std::mutex> g(m.lock);
    if (strobe) ++m.shows;
    if (wrote) {
        m.lastWritten = written;
        m.haveWritten = true;
    }
    if (recompose) {
        m.screen.swap(m.work);
        ++m.screenUpdates;
    }
    m.screenShowsLastWrite = m.haveWritten && m.shownSide.running && m.shownSide.window == m.lastWritten;
}

void plThread(Model* m)
{
    while (!m->stop.load()) {
        m->acquisition->tick(nowUs());
        displayTick(*m);
        {
            std::lock_guard<std::mutex> g(m->lock);
            ++m->ticks;
        }
        m->changed.notify_all();
        std::this_thread::sleep_for(kTickPeriod);
    }
}

// fork() copies the models' locks in whatever state the PL thread left them,
// but not the thread itself: hold them across the fork so that the child
// gets them unlocked.  The child runs no PL thread of its own; the parent's
// keeps serving the shared register blocks, RAM and interrupt node.
void lockForFork()
{
    Model& m = theModel();
    m.sceneLock.lock();
    m.lock.lock();
    if (m.acquisition) m.acquisition->lockForFork();
    m.sensor.lockForFork();
}

void unlockAfterFork()
{
    Model& m = theModel();
    m.sensor.unlockAfterFork();
    if (m.acquisition) m.acquisition->unlockAfterFork();
    m.lock.unlock();
    m.sceneLock.unlock();
}

void stopAtExit()
{
    Model& m = theModel();
    if (m.owner != getpid() || !m.thread.joinable()) return;
    m.stop.store(true);
    m.thread.join();
}

ModelCounters counters(Model& m)
{
    ModelCounters c;
    if (m.acquisition) {
        const AcquisitionCounters a = m.acquisition->counters();
        c.framesExposed = a.framesExposed;
        c.framesWritten = a.framesWritten;
        c.framesDelivered = a.framesDelivered;
        c.framesDropped = a.framesDropped;
        c.buffersFilled = a.buffersFilled;
        c.interruptsWithheld = a.interruptsWithheld;
        c.releases = a.releases;
        c.lastFrameCounter = a.lastFrameCounter;
    }
    c.showsEvaluated = m.shows;
    c.screenUpdates = m.screenUpdates;
    return c;
}

template <typename Pred>
bool waitUntil(int timeoutMs, Pred done)
{
    Model& m = theModel();
    std::unique_lock<std::mutex> g(m.lock);
    return m.changed.wait_for(g, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                              [&] { return done(m); });
}

}  // namespace
}  // namespace model

// ================================================================ board seam

namespace {

void start(const HardwareView& hw, const BoardPort& port)
{
    using namespace model;
    Model& m = theModel();
    if (m.acquisition) return;
    m.hw = hw;
    if (const char* path = std::getenv(kSceneEnvironmentVariable)) {
        if (*path != '\0' && !loadSceneFromPng(path, m.scene))
            std::fprintf(stderr, "vyxboard: cannot read the scene %s; the camera sees the test pattern\n", path);
    }
    if (const char* light = std::getenv(kLightEnvironmentVariable)) {
        char* end = nullptr;
        const double value = std::strtod(light, &end);
        if (end != light && std::isfinite(value) && value >= 0)
            m.light = value;
        else
            std::fprintf(stderr, "vyxboard: %s=%s is not a light factor; using 1\n", kLightEnvironmentVariable, light);
    }
    const auto raise = port.raiseCaptureInterrupt;
    m.acquisition = std::make_unique<AcquisitionModel>(
        hw, [&m](uint8_t* dst, uint32_t bytes, uint32_t lineWidth) { renderFrame(m, dst, bytes, lineWidth); },
        [&m] { return sensorFramePeriodUs(sensorReadout(m.sensor.snapshot())); },
        [raise] { return raise(0); });
    m.acquisition->powerOn();
    m.owner = getpid();
    pthread_atfork(lockForFork, unlockAfterFork, unlockAfterFork);
    m.thread = std::thread(plThread, &m);
    std::atexit(stopAtExit);
}

uint16_t sensorRead(int bus, uint8_t addr)
{
    return bus == model::kSensorBus ? model::theModel().sensor.read(addr) : 0;
}

void sensorWrite(int bus, uint8_t addr, uint16_t value)
{
    if (bus == model::kSensorBus) model::theModel().sensor.write(addr, value);
}

void gpioInput(int line, bool level)
{
    model::Model& m = model::theModel();
    if (line == kTriggerInputLine && m.acquisition) m.acquisition->inputLevel(level, model::nowUs());
}

void sync() {}

bool saveScreenPng(const char* path)
{
#ifdef VYX_BOARD_HAVE_PNG
    if (path == nullptr) return false;
    std::vector<uint8_t> rgb = modelScreen();
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = kScreenWidth;
    image.height = kScreenHeight;
    image.format = PNG_FORMAT_RGB;
    const bool ok = png_image_write_to_file(&image, path, 0, rgb.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return ok;
#else
    (void)path;
    return false;
#endif
}

uint64_t framesDelivered()
{
    model::Model& m = model::theModel();
    return m.acquisition ? m.acquisition->counters().framesDelivered : 0;
}

const ModelOps kModelOps = {start, sensorRead, sensorWrite, gpioInput, sync, saveScreenPng, framesDelivered};

}  // namespace

// ================================================================ test control

uint16_t modelSensorRegister(uint8_t addr) { return model::theModel().sensor.read(addr); }

int64_t modelSensorFramePeriodUs()
{
    return model::sensorFramePeriodUs(model::sensorReadout(model::theModel().sensor.snapshot()));
}

double modelSensorBrightness() { return model::sensorReadout(model::theModel().sensor.snapshot()).brightness; }

uint8_t modelPatternValue(int x, int y) { return model::sceneTestPattern(x, y); }

bool modelLoadScene(const std::string& pngPath)
{
    std::vector<uint8_t> scene;
    if (!model::loadSceneFromPng(pngPath, scene)) return false;
    model::Model& m = model::theModel();
    std::lock_guard<std::mutex> g(m.sceneLock);
    m.scene.swap(scene);
    return true;
}

void modelUsePattern()
{
    std::vector<uint8_t> scene = model::makeTestPatternScene();
    model::Model& m = model::theModel();
    std::lock_guard<std::mutex> g(m.sceneLock);
    m.scene.swap(scene);
}

bool modelFrameCounter(const uint8_t* frame, uint32_t* counter)
{
    if (frame == nullptr) return false;
    uint32_t value = 0, check = 0;
    for (int b = 0; b < 4; ++b) {
        value |= static_cast<uint32_t>(frame[b]) << (8 * b);
        check |= static_cast<uint32_t>(frame[4 + b]) << (8 * b);
    }
    if (check != ~value) return false;
    if (counter != nullptr) *counter = value;
    return true;
}

ModelCounters modelCounters()
{
    model::Model& m = model::theModel();
    std::lock_guard<std::mutex> g(m.lock);
    return model::counters(m);
}

bool modelWaitFor(bool (*done)(const ModelCounters&, const void*), const void* arg, int timeoutMs)
{
    return model::waitUntil(timeoutMs, [&](model::Model& m) { return done(model::counters(m), arg); });
}

bool modelWaitFramesWritten(uint64_t atLeast, int timeoutMs)
{
    return model::waitUntil(timeoutMs, [&](model::Model& m) { return model::counters(m).framesWritten >= atLeast; });
}

bool modelWaitFramesDropped(uint64_t atLeast, int timeoutMs)
{
    return model::waitUntil(timeoutMs, [&](model::Model& m) { return model::counters(m).framesDropped >= atLeast; });
}

bool modelWaitTick(int timeoutMs)
{
    uint64_t start;
    {
        model::Model& m = model::theModel();
        std::lock_guard<std::mutex> g(m.lock);
        start = m.ticks;
    }
    // The tick running during the call may have sampled before it; the one
    // after surely sees every earlier store.
    return model::waitUntil(timeoutMs, [&](model::Model& m) { return m.ticks >= start + 2; });
}

bool modelWaitShow(uint64_t showsBefore, int timeoutMs)
{
    return model::waitUntil(timeoutMs,
                            [&](model::Model& m) { return m.shows > showsBefore && m.screenShowsLastWrite; });
}

std::vector<uint8_t> modelScreen()
{
    model::Model& m = model::theModel();
    std::lock_guard<std::mutex> g(m.lock);
    return m.screen;
}

uint32_t modelScreenPixel(int x, int y)
{
    if (x < 0 || y < 0 || x >= kScreenWidth || y >= kScreenHeight) return 0;
    model::Model& m = model::theModel();
    std::lock_guard<std::mutex> g(m.lock);
    const uint8_t* p = &m.screen[(static_cast<size_t>(y) * kScreenWidth + x) * 3];
    return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
}

bool modelSaveScreenPng(const std::string& path) { return saveScreenPng(path.c_str()); }

}  // namespace vb

// The PL and the sensor stand behind the board's nodes from the moment the
// library is loaded.
__attribute__((constructor)) static void vyxboardModelLoaded() { vb::registerModel(&vb::kModelOps); }
