// vyxcam_test_hooks - a test-only shared object that the tests preload into
// vyxcam next to the virtual board (the launcher's VYXSIM_BOARD names both).
// It drives the board's own controls from inside the tool's process, as the
// environment asks:
//
//   VYXCAM_HOOK_FAULT=init         the cache-memory node is missing: VYXZEB_Init fails
//   VYXCAM_HOOK_FAULT=gpio         every request to the GPIO driver fails
//   VYXCAM_HOOK_FAULT=interrupts   the PL's capture interrupts never arrive
//   VYXCAM_HOOK_GPIO_INPUTS=0=1,2=1   levels of input lines
//   VYXCAM_HOOK_SCREEN=FILE        once the first show is on the emulated
//                                  screen, the screen is written to FILE (as
//                                  FILE.tmp, then renamed: whole or absent)
//   VYXCAM_HOOK_REPORT=FILE        at exit, one line per device node:
//                                  "<node path> <open descriptors> <mappings> <opens>"
//                                  (opens: open calls since the start)
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "VyxBoard.h"
#include "VyxModel.h"

namespace {

constexpr int kScreenWaitMs = 600000;   // bounded by the test's own run bound long before

std::string env(const char* name)
{
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

void injectFault(const std::string& fault)
{
    if (fault == "init") vb::setNodeMissing(vb::Node::CacheOps, true);
    if (fault == "gpio") vb::setFault(vb::Node::Gpio, vb::Op::Ioctl, vb::Fault{});
    if (fault == "interrupts") vb::withholdInterrupts(true);
}

void setInputs(const std::string& levels)
{
    int line = 0, level = 0, used = 0;
    for (const char* p = levels.c_str(); std::sscanf(p, "%d=%d%n", &line, &level, &used) == 2; p += used) {
        vb::setGpioInput(line, level != 0);
        if (p[used] != ',') break;
        ++used;
    }
}

void* saveScreenAfterFirstShow(void* arg)
{
    const std::string* path = static_cast<const std::string*>(arg);
    if (vb::modelWaitShow(0, kScreenWaitMs)) {
        const std::string temp = *path + ".tmp";
        if (vb::modelSaveScreenPng(temp)) std::rename(temp.c_str(), path->c_str());
    }
    delete path;
    return nullptr;
}

void report()
{
    FILE* f = std::fopen(env("VYXCAM_HOOK_REPORT").c_str(), "w");
    if (f == nullptr) return;
    for (int n = 0; n < vb::kNodeCount; ++n) {
        const auto node = static_cast<vb::Node>(n);
        std::fprintf(f, "%s %d %d %u\n", vb::nodePath(node), vb::openNodeDescriptors(node), vb::liveNodeMappings(node),
                     vb::callCount(node, vb::Op::Open));
    }
    std::fclose(f);
}

}  // namespace

__attribute__((constructor)) static void vyxcamTestHooks()
{
    injectFault(env("VYXCAM_HOOK_FAULT"));
    setInputs(env("VYXCAM_HOOK_GPIO_INPUTS"));
    if (!env("VYXCAM_HOOK_SCREEN").empty()) {
        // Outlives the exit handlers the thread may still be waiting through.
        auto* screen = new std::string(env("VYXCAM_HOOK_SCREEN"));
        pthread_t t;
        if (pthread_create(&t, nullptr, saveScreenAfterFirstShow, screen) == 0) pthread_detach(t);
    }
    // Registered before the program runs, so it runs after everything the
    // program does at exit: what is still open then was left open.
    if (!env("VYXCAM_HOOK_REPORT").empty()) std::atexit(report);
}
