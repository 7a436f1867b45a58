// SweepOperations.cpp - the operations of the fault sweep.  Each run may meet
// a failing call anywhere; it stops at the first return code other than 0
// and records whether what it asked for is really there: a capture's frame
// carries the PL's stamp and a newer counter than the one before, a show
// reaches the screen, a BMP file is whole, a log line is in the log.
#include "SweepOperations.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "TestSupport.h"
#include "VYXZebApi.h"
#include "VyxBoard.h"
#include "VyxModel.h"

namespace vyxsweep {

namespace {

constexpr int kBoundMs = 10000;
constexpr int kReadyMs = 2000;
constexpr unsigned long kCaptureTimeoutMs = 2000;
constexpr int kCaptures = 3;
constexpr unsigned kImageWidth = 320, kImageHeight = 240;
constexpr unsigned kPaletteBytes = 256 * 4, kBmpHeaderBytes = 54, kBmpHeightAt = 22;
constexpr const char* kBmpTarget = "/picture/data/sweep.bmp";

// What prepare hands to run and finish.
struct Held {
    unsigned char* frame = nullptr;    // a captured frame not yet released
    unsigned char* block = nullptr;    // a block from VYXZEB_Malloc
    std::vector<unsigned char> image;  // a grey image in the process's heap
    vyxtest::TempDir* logDir = nullptr;
    std::string logFile;
};
Held g_held;
std::string g_note;

bool Fail(Outcome& o, int ret, const std::string& what) {
    if (o.ret == 0) {
        o.ret = ret;
        o.what = what;
    }
    return false;
}

std::vector<unsigned char> GreyImage() {
    std::vector<unsigned char> image(kImageWidth * kImageHeight);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<unsigned char>(i * 7 + i / kImageWidth);
    return image;
}

// ---- init and uninit ----------------------------------------------------

// The interrupt thread opens the capture node after VYXZEB_Init returns; its
// calls belong to the initialisation.
bool InterruptThreadReady() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadyMs);
    while (vb::openNodeDescriptors(vb::Node::Capture) == 0) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

Outcome RunInit() {
    Outcome o;
    o.ret = VYXZEB_Init();
    o.completed = o.ret == 0;
    if (o.ret == 0 && !InterruptThreadReady()) o.what = "the interrupt thread never opened its node";
    return o;
}

bool PrepareUnInit() { return VYXZEB_Init() == 0 && InterruptThreadReady(); }

Outcome RunUnInit() {
    Outcome o;
    o.ret = VYXZEB_UnInit();
    // Whether everything was given back, the sweep's census says.
    o.completed = true;
    return o;
}

void FinishUnInit(const Outcome& o) {
    if (o.ret == 0) return;
    // A failed UnInit leaves the device as it was: give it back now.
    VYXZEB_UnInit();
}

// ---- capture sequence ---------------------------------------------------

Outcome RunCapture() {
    Outcome o;
    if (int ret = VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE)) return Fail(o, ret, "set trigger mode"), o;
    if (int ret = VYXZEB_CaptureSetTimeOut(0, kCaptureTimeoutMs)) return Fail(o, ret, "set time-out"), o;
    uint32_t last = 0;
    for (int i = 0; i < kCaptures; ++i) {
        unsigned char* frame = nullptr;
        if (int ret = VYXZEB_CaptureData(0, &frame)) return Fail(o, ret, "capture " + std::to_string(i)), o;
        g_held.frame = frame;
        uint32_t counter = 0;
        if (!frame || !vb::modelFrameCounter(frame, &counter) || (i > 0 && counter <= last)) {
            o.what = "capture " + std::to_string(i) + " returned 0 without a new frame";
            return o;
        }
        last = counter;
        if (int ret = VYXZEB_ReleaseBuffer(0)) return Fail(o, ret, "release " + std::to_string(i)), o;
        g_held.frame = nullptr;
    }
    o.completed = true;
    return o;
}

void FinishCapture(const Outcome&) {
    if (g_held.frame) VYXZEB_ReleaseBuffer(0);
    g_held.frame = nullptr;
    VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE);
}

// ---- show of a frame and of a user image --------------------------------

bool PrepareShow() {
    if (VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE) != 0 || VYXZEB_CaptureSetTimeOut(0, kBoundMs) != 0)
        return false;
    if (VYXZEB_CaptureData(0, &g_held.frame) != 0) return false;
    if (VYXZEB_Malloc(kImageWidth * kImageHeight, &g_held.block) != 0) return false;
    const std::vector<unsigned char> image = GreyImage();
    memcpy(g_held.block, image.data(), image.size());
    return true;
}

// A show that returned 0 must reach the screen.
bool Shown(Outcome& o, int ret, uint64_t showsBefore, const char* what) {
    if (ret != 0) return Fail(o, ret, what);
    if (!vb::modelWaitShow(showsBefore, kBoundMs)) {
        o.what = std::string(what) + " returned 0 but the screen never showed it";
        return false;
    }
    return true;
}

Outcome RunShow() {
    Outcome o;
    uint64_t shows = vb::modelCounters().showsEvaluated;
    if (!Shown(o, VYXZEB_ShowCaptureData(0, g_held.frame), shows, "show of a frame")) return o;
    shows = vb::modelCounters().showsEvaluated;
    if (!Shown(o, VYXZEB_ShowUserLoadData(0, g_held.block, kImageWidth, kImageHeight, 8), shows,
               "show of a user image"))
        return o;
    o.completed = true;
    return o;
}

void FinishShow(const Outcome&) {
    if (g_held.frame) VYXZEB_ReleaseBuffer(0);
    if (g_held.block) VYXZEB_Free(&g_held.block);
    g_held.frame = nullptr;
    g_held.block = nullptr;
}

// ---- BMP file -----------------------------------------------------------

bool PrepareBmp() {
    g_held.image = GreyImage();
    unlink(vb::sandboxPath(kBmpTarget).c_str());
    return true;
}

uint32_t Le32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

// The file holds the header, the grey palette and every row of the image
// (top row first when the stored height is negative, else bottom row first).
bool BmpWhole(std::string* why) {
    const std::string file = vyxtest::ReadFile(vb::sandboxPath(kBmpTarget));
    const size_t pixels = kImageWidth * kImageHeight;
    if (file.size() != kBmpHeaderBytes + kPaletteBytes + pixels) {
        *why = "file of " + std::to_string(file.size()) + " bytes";
        return false;
    }
    if (file.compare(0, 2, "BM") != 0 || Le32(file, 2) != file.size()) {
        *why = "bad header";
        return false;
    }
    const size_t at = Le32(file, 10);
    const bool topDown = static_cast<int32_t>(Le32(file, kBmpHeightAt)) < 0;
    for (unsigned y = 0; y < kImageHeight; ++y) {
        const unsigned row0 = topDown ? y : kImageHeight - 1 - y;
        const unsigned char* row = g_held.image.data() + row0 * kImageWidth;
        if (memcmp(file.data() + at + y * kImageWidth, row, kImageWidth) != 0) {
            *why = "row " + std::to_string(y) + " differs";
            return false;
        }
    }
    return true;
}

Outcome RunBmp() {
    Outcome o;
    o.ret = VYXZEB_HelperSaveToBmp(g_held.image.data(), kImageWidth, kImageHeight, 8, kBmpTarget);
    o.completed = o.ret == 0;
    if (o.ret != 0) {
        // Nothing half-written may be left where the image was meant to go.
        struct stat st;
        o.broken = stat(vb::sandboxPath(kBmpTarget).c_str(), &st) == 0;
        if (o.broken) o.what = "a failed save left the file behind";
    }
    return o;
}

bool ConfirmBmp(std::string* why) {
    if (BmpWhole(why)) return true;
    *why = "the file is not whole: " + *why;
    return false;
}

void FinishBmp(const Outcome&) { unlink(vb::sandboxPath(kBmpTarget).c_str()); }

// ---- log on, write, off -------------------------------------------------

bool PrepareLog() {
    g_held.logDir = new vyxtest::TempDir;
    g_held.image = GreyImage();
    return !g_held.logDir->path().empty();
}

Outcome RunLog() {
    Outcome o;
    if (int ret = VYXZEB_LogSet(true, g_held.logDir->path().c_str())) return Fail(o, ret, "log on"), o;
    bool on = false;
    char path[256] = {};
    if (int ret = VYXZEB_LogGet(&on, path)) return Fail(o, ret, "log get"), o;
    g_held.logFile = path;
    // A refused save writes one error line.
    VYXZEB_HelperSaveToBmp(g_held.image.data(), kImageWidth, kImageHeight, 8, "/tmp/outside.bmp");
    if (int ret = VYXZEB_LogSet(false, nullptr)) return Fail(o, ret, "log off"), o;
    o.completed = on;
    if (!on) o.what = "the log is not on";
    return o;
}

bool ConfirmLog(std::string* why) {
    if (vyxtest::Contains(vyxtest::ReadFile(g_held.logFile), "path is invalid")) return true;
    *why = "the line is not in " + g_held.logFile;
    return false;
}

void FinishLog(const Outcome&) {
    VYXZEB_LogSet(false, nullptr);
    delete g_held.logDir;
    g_held.logDir = nullptr;
}

// A set whose PL blocks could not be mapped is still made, by design, and
// its captures then fail with an error: that is a degraded device, not a
// lie.  A capture that returns 0 without a frame is.
bool ConfirmInit(std::string* why) {
    unsigned char* frame = nullptr;
    if (VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE) != 0 || VYXZEB_CaptureSetTimeOut(0, kCaptureTimeoutMs) != 0)
        return true;   // the set reports the blocks it lacks
    const int ret = VYXZEB_CaptureData(0, &frame);
    if (ret != 0) {
        g_note = "VYXZEB_Init returned 0, captures return " + std::to_string(ret);
        return true;
    }
    uint32_t counter = 0;
    const bool stamped = frame && vb::modelFrameCounter(frame, &counter);
    VYXZEB_ReleaseBuffer(0);
    if (!stamped) *why = "a capture after it returned 0 without a frame";
    return stamped;
}

void FinishInit(const Outcome& o) {
    if (o.ret == 0) VYXZEB_UnInit();
}

bool Nothing() { return true; }
bool NoConfirm(std::string*) { return true; }

}  // namespace

bool CleanCapture(std::string* why) {
    unsigned char* frame = nullptr;
    if (VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE) != 0 || VYXZEB_CaptureSetTimeOut(0, kBoundMs) != 0) {
        *why = "cannot set the software trigger";
        return false;
    }
    const int ret = VYXZEB_CaptureData(0, &frame);
    uint32_t counter = 0;
    const bool stamped = ret == 0 && frame && vb::modelFrameCounter(frame, &counter);
    if (ret == 0) VYXZEB_ReleaseBuffer(0);
    if (!stamped) *why = "capture returned " + std::to_string(ret) + (ret == 0 ? " without a frame" : "");
    return stamped;
}

std::string TakeNote() {
    std::string note;
    note.swap(g_note);
    return note;
}

const std::vector<Operation>& Operations() {
    static const std::vector<Operation> kOperations = {
        {"init", false, Nothing, RunInit, ConfirmInit, FinishInit},
        {"capture", true, Nothing, RunCapture, NoConfirm, FinishCapture},
        {"show", true, PrepareShow, RunShow, NoConfirm, FinishShow},
        {"bmp", true, PrepareBmp, RunBmp, ConfirmBmp, FinishBmp},
        {"log", true, PrepareLog, RunLog, ConfirmLog, FinishLog},
        {"uninit", false, PrepareUnInit, RunUnInit, NoConfirm, FinishUnInit},
    };
    return kOperations;
}

const Operation* FindOperation(const std::string& name) {
    for (const Operation& op : Operations())
        if (name == op.name) return &op;
    return nullptr;
}

}  // namespace vyxsweep
