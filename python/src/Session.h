// Session.h - the process's one open device, shared by every camera, frame
// and pool block of the Python module.
//
// VYXZEB_Init runs when the first Camera opens; VYXZEB_UnInit when the last
// object that needs the device is gone (cameras, held frames, arrays that view
// a frame buffer, pool blocks).  Every call into the library holds a reference
// for its duration, so the library is never closed under a running call, and
// open() and the close are serialised, as the library requires.
//
// Apart from open(), current() and the close, the methods neither take nor
// release the GIL; callers release it around the slow ones.  No lock of the
// module is ever held while the GIL is being taken, so a thread holding the
// GIL may wait for these locks without a deadlock.
//
// Per camera set the session keeps what the library does not report back:
// the capture time-out, whether acquisition was started, and the order in
// which frame buffers were handed out.  The PL takes released buffers back
// oldest first, so a buffer given back out of order is held until every
// older one is finished (finish()); otherwise a release could hand the PL a
// buffer that Python is still reading.
#ifndef VYXPY_SESSION_H
#define VYXPY_SESSION_H

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>

namespace vyxpy {

class Session {
public:
    // Indices the library can address (camera sets 0 to 3).
    static constexpr int kMaxSets = 4;

    // The open device; runs VYXZEB_Init when there is none (over a second,
    // without the GIL).  Throws LibraryError when the library refuses.
    static std::shared_ptr<Session> open();
    // The open device, or null when nothing has opened it.
    static std::shared_ptr<Session> current();
    // The open device; VYXZEB_RET_NOT_INITIALIZED (for `function`) when no
    // camera has opened it.
    static std::shared_ptr<Session> require(const char* function);

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Brings camera set `index` to its start state the first time a camera
    // opens it in this session: the capture time-out and software-trigger
    // acquisition (setting the trigger mode starts the PL).
    void startSet(int index);

    // Held while a thread waits in VYXZEB_CaptureData of the set: two
    // threads capturing on one set could be handed the same buffer.
    std::mutex& captureLock(int index) { return m_sets[index].capture; }
    // Position of the next frame handed out on the set; call with the
    // capture lock held, right after a successful VYXZEB_CaptureData.
    uint64_t nextTicket(int index);
    // The frame with this ticket is done with: gives back to the PL every
    // finished buffer that is now the oldest held.  0 or the first failing
    // VYXZEB_ReleaseBuffer code.
    int finish(int index, uint64_t ticket);

    unsigned long timeoutMs(int index);
    void setTimeoutMs(int index, unsigned long ms);

    // Serialises VYXZEB_Malloc and VYXZEB_Free, as the library requires.
    std::mutex& poolLock() { return m_pool; }

private:
    Session() = default;
    ~Session();
    static void close(Session* session);

    struct SetState {
        std::mutex capture;
        std::mutex state;  // guards the members below
        bool started = false;
        unsigned long timeoutMs = 0;
        uint64_t nextTicket = 0;
        uint64_t releasedUpTo = 0;
        std::set<uint64_t> finished;
    };
    std::array<SetState, kMaxSets> m_sets;
    std::mutex m_pool;
};

}  // namespace vyxpy

#endif
