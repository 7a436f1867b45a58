// ModelLink.cpp - the registered model and its start.
#include "ModelLink.h"

#include <atomic>
#include <mutex>

namespace vb {

namespace {

void noStart(const HardwareView&, const BoardPort&) {}
uint16_t noSensorRead(int, uint8_t) { return 0; }
void noSensorWrite(int, uint8_t, uint16_t) {}
void noGpioInput(int, bool) {}
void noSync() {}
bool noScreen(const char*) { return false; }
uint64_t noFrames() { return 0; }
void noEvent(BoardEvent, int, bool) {}
void noFinish() {}
int64_t noPoll(int64_t) { return 0; }
void noPolled(int64_t) {}

const ModelOps kNoModel = {noStart,  noSensorRead, noSensorWrite, noGpioInput, noSync,  noScreen,
                           noFrames, noEvent,      noFinish,      noPoll,      noPolled};

std::atomic<const ModelOps*> g_model{nullptr};
std::atomic<bool> g_running{false};
std::once_flag g_startOnce;

}  // namespace

void registerModel(const ModelOps* ops) { g_model.store(ops); }

namespace link {

const ModelOps& model() {
    const ModelOps* ops = g_model.load();
    return ops ? *ops : kNoModel;
}

void start(const HardwareView& hw, const BoardPort& port) {
    std::call_once(g_startOnce, [&] {
        model().start(hw, port);
        g_running.store(true, std::memory_order_release);
    });
}

bool running() { return g_running.load(std::memory_order_acquire); }

void sync() {
    if (running()) model().sync();
}

}  // namespace link
}  // namespace vb
