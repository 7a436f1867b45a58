// Model.cpp - the board's hardware models put together: the Q210B on SPI bus
// 0, the frames it delivers, the PL's acquisition and display driven by the
// timing engine, the operations the model registers with the board, and the
// control functions tests use (VyxModel.h).
//
// The PL thread starts when the board starts the model and is stopped and
// joined at process exit (only in the process that started it: a forked
// child has no such thread and must not wait for it).  Everything the thread
// touches is allocated once and never freed, so late callers during exit
// stay safe.
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "AcquisitionModel.h"
#include "BoardModel.h"
#include "DisplayModel.h"
#include "FrameSource.h"
#include "PlTiming.h"
#include "Scene.h"
#include "ScreenFile.h"
#include "MovingScene.h"
#include "SensorModel.h"
#include "SensorNoise.h"
#include "Nodes.h"
#include "Q210BRegs.h"
#include "SignalTrace.h"
#include "SimConfig.h"
#include "TriggerInput.h"
#include "VyxModel.h"

namespace vb {
namespace model {
namespace {

static_assert(kTriggerInputLine == vb::kTriggerInputLine, "one trigger input line");
static_assert(kFrameStampBytes == vb::kFrameStampBytes, "one frame stamp size");
static_assert(kScreenWidth == vb::kScreenWidth && kScreenHeight == vb::kScreenHeight, "one screen size");
static_assert(kArrayColumns == vb::kSensorColumns && kArrayRows == vb::kSensorRows, "one pixel array");
static_assert(moving::kSquareSide == vb::kMovingSquareSide && moving::kSquareX0 == vb::kMovingSquareX0 &&
                  moving::kSquareY == vb::kMovingSquareY && moving::kSquareSpeed == vb::kMovingSquareSpeed &&
                  moving::kSquareValue == vb::kMovingSquareValue,
              "one moving square");

constexpr int kSensorBus = 0;
constexpr double kNsPerS = 1e9;

struct Model {
    SensorChip sensor;
    FrameSource frames{sensor};
    std::unique_ptr<AcquisitionModel> acquisition;
    std::unique_ptr<Display> display;
    std::unique_ptr<PlTiming> timing;
    std::unique_ptr<TriggerInput> trigger;  // the world on the trigger input
    // The signal trace being written.  Every trace started stays allocated
    // until the process ends (the PL thread and the drivers may still hold
    // one that was just stopped); traces holds them, under startMu.
    std::atomic<SignalTrace*> trace{nullptr};
    std::vector<std::unique_ptr<SignalTrace>> traces;
    pid_t owner = 0;
    bool stamp = true;  // until the acquisition exists
    // timing is set under startMu; startCv tells the waits that began before.
    std::mutex startMu;
    std::condition_variable startCv;
};

Model& theModel()
{
    static Model* m = new Model;   // lives until the process ends
    return *m;
}

bool started() { return theModel().timing != nullptr; }

SensorTiming sensorTiming(const SensorReadout& r) {
    auto ns = [](double s) {
        if (!(s > 0) || !std::isfinite(s)) return kMaxFramePeriodNs;
        return static_cast<int64_t>(std::min(s * kNsPerS, static_cast<double>(kMaxFramePeriodNs)));
    };
    SensorTiming t;
    t.exposureNs = r.lineTimeS > 0 ? ns(r.exposureS) : 0;
    t.readoutNs = r.lineTimeS > 0 ? ns(r.readoutS) : 0;
    t.periodNs = ns(r.frameTimeS);
    return t;
}

SensorTiming currentTiming() {
    const SensorRegisters regs = theModel().sensor.snapshot();
    SensorTiming t = sensorTiming(sensorReadout(regs));
    t.flash = (regs[q210b::kRegLineOptions] & q210b::kFlashEnableMask) == q210b::kFlashEnableOn;
    t.flashInverted = (regs[q210b::kRegControl] & q210b::kControlFlashInvert) != 0;
    return t;
}

// Stops the trace being written (it writes out what it holds); the models
// stop recording into it.
void stopTrace(Model& m) {
    SignalTrace* trace = m.trace.exchange(nullptr);
    if (trace == nullptr) return;
    if (m.acquisition) m.acquisition->setTrace(nullptr);
    if (m.timing) m.timing->setTrace(nullptr);
    trace->stop();
}

// Starts a trace into `path`; false with the reason on standard error.
bool startTrace(Model& m, const std::string& path) {
    stopTrace(m);
    auto owned = std::make_unique<SignalTrace>();
    SignalTrace* trace = owned.get();
    std::string error;
    PlTiming* timing = m.timing.get();
    if (!trace->open(
            path, boardClockNs(), [timing] { return timing->traceFloorNs(); }, error)) {
        std::fprintf(stderr, "vyxboard: %s\n", error.c_str());
        return false;
    }
    {
        std::lock_guard<std::mutex> g(m.startMu);
        m.traces.push_back(std::move(owned));
    }
    m.acquisition->setTrace(trace);
    m.timing->setTrace(trace);
    m.trace.store(trace);
    return true;
}

// fork() copies the models' locks in whatever state the PL thread left them,
// but not the thread itself: hold them across the fork so that the child
// gets them unlocked.
void lockForFork()
{
    Model& m = theModel();
    m.startMu.lock();
    if (m.timing) m.timing->lockForFork();
    m.frames.lockForFork();
    if (m.acquisition) m.acquisition->lockForFork();
    if (m.display) m.display->lockForFork();
    m.sensor.lockForFork();
}

void unlockAfterFork(bool child) {
    Model& m = theModel();
    m.sensor.unlockAfterFork();
    if (m.display) m.display->unlockAfterFork();
    if (m.acquisition) m.acquisition->unlockAfterFork();
    m.frames.unlockAfterFork();
    if (m.timing) m.timing->unlockAfterFork(child);
    m.startMu.unlock();
}

void stopAtExit()
{
    Model& m = theModel();
    if (m.owner != getpid()) return;
    if (m.trigger) m.trigger->stop();
    if (m.timing) m.timing->stop();
    stopTrace(m);
}

ModelCounters counters() {
    Model& m = theModel();
    ModelCounters c;
    if (!started()) return c;
    const AcquisitionCounters a = m.acquisition->counters();
    c.framesExposed = a.framesExposed;
    c.framesWritten = a.framesWritten;
    c.framesDelivered = a.framesDelivered;
    c.framesDropped = a.framesDropped;
    c.buffersFilled = a.buffersFilled;
    c.interruptsWithheld = a.interruptsWithheld;
    c.releases = a.releases;
    c.lastFrameCounter = a.lastFrameCounter;
    c.showsEvaluated = m.display->shows();
    c.screenUpdates = m.display->screenUpdates();
    const FrameSource::Stats f = m.frames.stats();
    c.framesRendered = f.rendered;
    c.renderNs = f.renderNs;
    c.noiseNs = f.noiseNs;
    if (m.trigger) c.triggerPulses = m.trigger->pulses();
    return c;
}

// A test may start waiting before the program's first call into the board
// starts the model (a preloaded helper does): the wait then covers the start.
bool waitUntil(int timeoutMs, const std::function<bool()>& done) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    Model& m = theModel();
    {
        std::unique_lock<std::mutex> g(m.startMu);
        if (!m.startCv.wait_until(g, deadline, [&] { return m.timing != nullptr; })) return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return m.timing->waitUntil(static_cast<int>(std::max<int64_t>(left.count(), 0)), done);
}

// A scene by name (SimConfig.h); reported on standard error when it cannot
// be read.
bool loadScene(Model& m, const std::string& path) {
    Scene scene;
    std::string error, warnings;
    const bool ok = Scene::load(path, scene, error, warnings);
    if (!warnings.empty()) std::fprintf(stderr, "vyxboard: %s", warnings.c_str());
    if (!ok) {
        std::fprintf(stderr, "vyxboard: %s; the camera sees the test pattern\n", error.c_str());
        return false;
    }
    m.frames.setScene(std::move(scene));
    return true;
}

void setStamp(Model& m, bool on) {
    m.stamp = on;
    if (m.acquisition) m.acquisition->setStamp(on);
}

// The run's settings, before the PL runs.
void applyConfig(Model& m, const SimConfig& c) {
    if (!c.scene.empty()) loadScene(m, c.scene);
    m.frames.setSceneFps(c.sceneFps);
    m.frames.setLight(c.light);
    if (c.noise) m.frames.setNoise(std::make_shared<SensorNoise>(c.seed));
    setStamp(m, c.stamp);
}

// ---------------------------------------------------------------- board seam

void start(const HardwareView& hw, const BoardPort& port) {
    Model& m = theModel();
    if (m.timing) return;
    const SimConfig config = readSimConfig();
    applyConfig(m, config);
    const auto raise = port.raiseCaptureInterrupt;
    m.acquisition = std::make_unique<AcquisitionModel>(
        hw,
        [&m](uint8_t* dst, uint32_t bytes, uint32_t lineWidth, uint32_t counter, int64_t doneNs) {
            m.frames.render(dst, bytes, lineWidth, FrameTime{counter, doneNs});
        },
        currentTiming, [raise] { return raise(0); });
    m.acquisition->setStamp(m.stamp);
    m.acquisition->powerOn();
    m.display = std::make_unique<Display>(hw);
    m.owner = getpid();
    pthread_atfork(
        lockForFork, [] { unlockAfterFork(false); }, [] { unlockAfterFork(true); });
    auto timing = std::make_unique<PlTiming>(hw, *m.acquisition, *m.display);
    timing->setPollMode(config.poll);
    timing->start();
    {
        std::lock_guard<std::mutex> g(m.startMu);
        m.timing = std::move(timing);
    }
    m.startCv.notify_all();
    if (!config.trace.empty()) startTrace(m, config.trace);
    const auto drive = port.driveGpioInput;
    m.trigger = std::make_unique<TriggerInput>([drive](bool level) { drive(kTriggerInputLine, level); });
    if (config.triggerEveryMs > 0) m.trigger->setPeriod(static_cast<int64_t>(config.triggerEveryMs * 1e6));
    if (config.triggerOnSignal && !m.trigger->setOnSignal(true))
        std::fprintf(stderr, "vyxboard: cannot take SIGUSR1 for trigger pulses\n");
    std::atexit(stopAtExit);
}

uint16_t sensorRead(int bus, uint8_t addr) { return bus == kSensorBus ? theModel().sensor.read(addr) : 0; }

void sensorWrite(int bus, uint8_t addr, uint16_t value) {
    if (bus == kSensorBus) theModel().sensor.write(addr, value);
}

void gpioInput(int line, bool level) {
    if (line == kTriggerInputLine && started()) theModel().timing->input(level);
}

void sync() {
    if (started()) theModel().timing->sync();
}

// The screen, replaced whole (ScreenFile.h); a reason is said once, not at
// every rewrite.
bool saveScreenPng(const char* path) {
    if (path == nullptr) return false;
    const std::vector<uint8_t> rgb = modelScreen();
    std::string error;
    if (writeScreenPng(path, rgb.data(), kScreenWidth, kScreenHeight, error)) return true;
    static std::mutex mu;
    static std::string said;
    std::lock_guard<std::mutex> g(mu);
    if (error != said) std::fprintf(stderr, "vyxboard: HDMI screen: %s\n", error.c_str());
    said = error;
    return false;
}

uint64_t framesDelivered() { return started() ? theModel().acquisition->counters().framesDelivered : 0; }

constexpr int kGpioFirstOutput = static_cast<int>(vyxnode::kGpioFirstOutput);
static_assert(vyxnode::kGpioLines - vyxnode::kGpioFirstOutput == 7, "seven traced GPIO outputs");

void boardEvent(BoardEvent what, int line, bool level) {
    SignalTrace* trace = theModel().trace.load();
    if (trace == nullptr) return;
    const int64_t now = boardClockNs();
    if (what == BoardEvent::CaptureRead) {
        trace->pulse(now, Sig::CaptureRead);
    } else if (line >= kGpioFirstOutput && line < kGpioFirstOutput + 7) {
        trace->record(now, static_cast<Sig>(static_cast<int>(Sig::GpioOut3) + line - kGpioFirstOutput),
                      level ? 1 : 0);
    }
}

void finish() {
    if (theModel().owner == getpid()) stopTrace(theModel());
}

int64_t pollUntil(int64_t nowNs) { return started() ? theModel().timing->programPollUntil(nowNs) : 0; }

void polled(int64_t ns) {
    if (started()) theModel().timing->programPolled(ns);
}

}  // namespace
}  // namespace model

const ModelOps kModelOps = {model::start,  model::sensorRead,    model::sensorWrite,     model::gpioInput,
                            model::sync,   model::saveScreenPng, model::framesDelivered, model::boardEvent,
                            model::finish, model::pollUntil,     model::polled};

// ================================================================ test control

uint16_t modelSensorRegister(uint8_t addr) { return model::theModel().sensor.read(addr); }

int64_t modelSensorFramePeriodUs() { return model::currentTiming().periodNs / 1000; }

ModelTiming modelSensorTiming() {
    const model::SensorTiming t = model::currentTiming();
    ModelTiming out;
    out.exposureNs = t.exposureNs;
    out.readoutNs = t.readoutNs;
    out.framePeriodNs = t.periodNs;
    return out;
}

double modelSensorBrightness() { return model::sensorReadout(model::theModel().sensor.snapshot()).brightness; }

uint8_t modelPatternValue(int x, int y) { return model::sceneTestPattern(x, y); }

bool modelLoadScene(const std::string& path) {
    model::Scene scene;
    std::string error, warnings;
    if (!model::Scene::load(path, scene, error, warnings)) return false;
    model::theModel().frames.setScene(std::move(scene));
    return true;
}

void modelUsePattern() { model::theModel().frames.setScene(model::Scene()); }

void modelSetSceneFps(double picturesPerSecond) { model::theModel().frames.setSceneFps(picturesPerSecond); }

void modelSetNoise(bool on, uint64_t seed) {
    model::theModel().frames.setNoise(on ? std::make_shared<model::SensorNoise>(seed) : nullptr);
}

void modelSetStamp(bool on) { model::setStamp(model::theModel(), on); }

bool modelTriggerEvery(int64_t periodUs) {
    if (!model::started()) return false;
    model::theModel().trigger->setPeriod(periodUs * 1000);
    return true;
}

bool modelTraceStart(const std::string& path) {
    return model::started() && model::startTrace(model::theModel(), path);
}

void modelTraceStop() { model::stopTrace(model::theModel()); }

bool modelTriggerOnSignal(bool on) { return model::started() && model::theModel().trigger->setOnSignal(on); }

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
    ModelCounters c = model::counters();
    if (model::started()) {
        c.clockNs = model::theModel().timing->processedNs();
        c.plCpuNs = model::theModel().timing->cpuNs();
        const model::PollStats poll = model::theModel().timing->pollStats();
        c.pollWindowNs = poll.windowNs;
        c.wakeLatenessNs = poll.latenessNs;
        c.programPollNs = poll.programPollNs;
    }
    return c;
}

std::vector<ModelFrame> modelFrames() {
    std::vector<ModelFrame> out;
    if (!model::started()) return out;
    for (const model::FrameRecord& r : model::theModel().acquisition->frames())
        out.push_back(ModelFrame{r.counter, r.doneNs, r.triggerNs, r.buffer});
    return out;
}

int64_t modelClockNs() { return model::boardClockNs(); }

bool modelWaitClock(int64_t clockNs, int timeoutMs) {
    return model::started() && model::theModel().timing->waitProcessed(clockNs, timeoutMs);
}

void modelStall(bool stalled) {
    if (model::started()) model::theModel().timing->stall(stalled);
}

bool modelSetPoll(const std::string& mode) {
    model::PollMode m;
    if (!model::started() || !model::parsePollMode(mode.c_str(), m)) return false;
    model::theModel().timing->setPollMode(m);
    return true;
}

void modelStallAt(int64_t clockNs) {
    if (model::started()) model::theModel().timing->stallAt(clockNs);
}

bool modelWaitFor(bool (*done)(const ModelCounters&, const void*), const void* arg, int timeoutMs) {
    return model::waitUntil(timeoutMs, [&] { return done(model::counters(), arg); });
}

bool modelWaitFramesWritten(uint64_t atLeast, int timeoutMs) {
    return model::waitUntil(timeoutMs, [&] { return model::counters().framesWritten >= atLeast; });
}

bool modelWaitFramesDropped(uint64_t atLeast, int timeoutMs) {
    return model::waitUntil(timeoutMs, [&] { return model::counters().framesDropped >= atLeast; });
}

bool modelWaitTick(int timeoutMs) {
    return model::started() && model::theModel().timing->waitSeen(timeoutMs);
}

bool modelWaitShow(uint64_t showsBefore, int timeoutMs) {
    model::Model& m = model::theModel();
    return model::waitUntil(
        timeoutMs, [&] { return m.display->shows() > showsBefore && m.display->showingLastWrite(); });
}

std::vector<uint8_t> modelScreen() {
    return model::started() ? model::theModel().display->screen()
                            : std::vector<uint8_t>(model::kScreenBytes, 0);
}

uint32_t modelScreenPixel(int x, int y) {
    return model::started() ? model::theModel().display->pixel(x, y) : 0;
}

bool modelSaveScreenPng(const std::string& path) { return model::saveScreenPng(path.c_str()); }

}  // namespace vb

// The PL and the sensor stand behind the board's nodes from the moment the
// library is loaded.
__attribute__((constructor)) static void vyxboardModelLoaded() { vb::registerModel(&vb::kModelOps); }
