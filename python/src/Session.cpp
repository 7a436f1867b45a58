// Session.cpp - VYXZEB_Init and VYXZEB_UnInit for the whole process, and the
// per-set state the library does not keep for Python.
#include "Session.h"

#include <pybind11/pybind11.h>

#include <condition_variable>

#include "LibraryError.h"
#include "VYXZebApi.h"

namespace py = pybind11;

namespace vyxpy {

namespace {

// The library's capture time-out when a set starts; set explicitly, so the
// value Python reports is the one in force.
constexpr unsigned long kStartTimeOutMs = 8000;

std::mutex g_lock;                // serialises VYXZEB_Init and VYXZEB_UnInit
std::condition_variable g_closed; // signalled when a close has finished
std::weak_ptr<Session> g_session;
bool g_initialised = false;       // VYXZEB_Init succeeded and UnInit is not done

// Waits until no close is in progress; returns the live session, if any.
std::shared_ptr<Session> liveSession(std::unique_lock<std::mutex>& lock) {
    g_closed.wait(lock, [] { return !g_session.expired() || !g_initialised; });
    return g_session.lock();
}

}  // namespace

std::shared_ptr<Session> Session::open() {
    std::shared_ptr<Session> session;
    int rc = VYXZEB_RET_SUCCESS;
    {
        py::gil_scoped_release unlocked;
        std::unique_lock<std::mutex> lock(g_lock);
        session = liveSession(lock);
        if (!session) {
            rc = VYXZEB_Init();
            if (rc == VYXZEB_RET_SUCCESS) {
                g_initialised = true;
                session.reset(new Session, &Session::close);
                g_session = session;
            }
        }
    }
    if (rc == VYXZEB_RET_FAILED)
        throw LibraryError(rc, "VYXZEB_Init",
                           "vyxzeb.set_log(folder) records the step that failed; on a PC, run under vyxsim");
    check(rc, "VYXZEB_Init");
    return session;
}

std::shared_ptr<Session> Session::current() {
    py::gil_scoped_release unlocked;
    std::unique_lock<std::mutex> lock(g_lock);
    return liveSession(lock);
}

std::shared_ptr<Session> Session::require(const char* function) {
    std::shared_ptr<Session> session = current();
    if (!session) throw LibraryError(VYXZEB_RET_NOT_INITIALIZED, function, "open a vyxzeb.Camera first");
    return session;
}

// Runs when the last reference goes, with or without the GIL: UnInit stops
// the capture interrupt thread, which can take up to a second.
void Session::close(Session* session) {
    auto closeUnlocked = [session] {
        std::lock_guard<std::mutex> lock(g_lock);
        delete session;
        g_initialised = false;
        g_closed.notify_all();
    };
    if (PyGILState_Check()) {
        py::gil_scoped_release unlocked;
        closeUnlocked();
    } else {
        closeUnlocked();
    }
}

Session::~Session() { VYXZEB_UnInit(); }

void Session::startSet(int index) {
    SetState& set = m_sets[index];
    std::lock_guard<std::mutex> lock(set.state);
    if (set.started) return;
    check(VYXZEB_CaptureSetTimeOut(index, kStartTimeOutMs), "VYXZEB_CaptureSetTimeOut");
    check(VYXZEB_SetTriggerMode(index, VYXZEB_TRIGGER_SOFTWARE), "VYXZEB_SetTriggerMode");
    set.timeoutMs = kStartTimeOutMs;
    set.started = true;
}

uint64_t Session::nextTicket(int index) {
    SetState& set = m_sets[index];
    std::lock_guard<std::mutex> lock(set.state);
    return set.nextTicket++;
}

int Session::finish(int index, uint64_t ticket) {
    SetState& set = m_sets[index];
    std::lock_guard<std::mutex> lock(set.state);
    set.finished.insert(ticket);
    int rc = VYXZEB_RET_SUCCESS;
    while (!set.finished.empty() && *set.finished.begin() == set.releasedUpTo) {
        set.finished.erase(set.finished.begin());
        ++set.releasedUpTo;
        const int released = VYXZEB_ReleaseBuffer(index);
        if (rc == VYXZEB_RET_SUCCESS) rc = released;
    }
    return rc;
}

unsigned long Session::timeoutMs(int index) {
    SetState& set = m_sets[index];
    std::lock_guard<std::mutex> lock(set.state);
    return set.timeoutMs;
}

void Session::setTimeoutMs(int index, unsigned long ms) {
    SetState& set = m_sets[index];
    std::lock_guard<std::mutex> lock(set.state);
    check(VYXZEB_CaptureSetTimeOut(index, ms), "VYXZEB_CaptureSetTimeOut");
    set.timeoutMs = ms;
}

}  // namespace vyxpy
