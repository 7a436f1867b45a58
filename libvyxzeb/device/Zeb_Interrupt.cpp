// Zeb_Interrupt.cpp - the capture interrupt thread.
//
// When the PL has stored a frame it raises an interrupt; the board's capture
// driver turns each one into a short text code that one read() returns:
// "169" for camera set 0 up to "172" for set 3.  This thread waits for the
// codes and announces a frame to the set each code names; the capture path
// waits for those announcements.
#include <fcntl.h>
#include <string.h>
#include <sys/select.h>
#include <unistd.h>

#include "Nodes.h"
#include "VYXLog.h"
#include "VYXSet.h"
#include "Zeb.h"
#include "LogHandle.h"

static_assert(kZebMaxSets == vyxnode::kCaptureSets, "one interrupt code per camera set");
const char* const g_szSensorInterCode[kZebMaxSets] = {vyxnode::kCaptureCode[0], vyxnode::kCaptureCode[1],
                                                      vyxnode::kCaptureCode[2], vyxnode::kCaptureCode[3]};

namespace {
constexpr size_t kCodeBufferBytes = 9;   // a code fits with room for its terminator
constexpr size_t kCodeReadBytes = 8;
constexpr time_t kWaitSeconds = 1;       // the stop flag is looked at least this often
}  // namespace

int CZeb::StartCaptureInterruptThread() {
    VYXLOG_OutputStringEx(SdkLog(), 1, "VYXLOG_(++++++++++%s)", "StartCaptureInterruptThread");
    m_bExitCaptureThread = false;

    int nRet = VYXZEB_RET_FAILED;
    // The wake pipe lets the teardown end the thread's wait at once instead
    // of waiting out the one-second select.
    if (pipe2(m_nFdWakeCaptureThread, O_CLOEXEC | O_NONBLOCK) == 0) {
        // The node is opened here, before VYXZEB_Init returns: the capture
        // driver keeps no codes for a node nobody has open, so a frame
        // triggered right after VYXZEB_Init would otherwise be announced to
        // nobody while the new thread is still on its way to open().  A node
        // that does not open leaves the thread to end at once.
        m_nFdCaptureNode = open(vyxnode::kCapturePath, O_RDONLY | O_CLOEXEC);
        // Joinable, not detached: the teardown must know the thread has
        // stopped touching the camera sets before it destroys them.
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_JOINABLE);
        if (pthread_create(&m_hCaptureThread, &attr, ThreadForCaptureInterrupt, this) == 0) {
            m_bCaptureThreadRunning = true;
            nRet = VYXZEB_RET_SUCCESS;
        }
        pthread_attr_destroy(&attr);
    }
    VYXLOG_OutputStringEx(SdkLog(), 1, "VYXLOG_(++++++++++%s nRet(%d))", "StartCaptureInterruptThread", nRet);
    return nRet;
}

int CZeb::KillCaptureInterruptThread() {
    m_bExitCaptureThread = true;
    if (m_nFdWakeCaptureThread[1] >= 0) {
        const char cWake = 1;
        ssize_t nIgnored = write(m_nFdWakeCaptureThread[1], &cWake, 1);
        (void)nIgnored;   // a full pipe already wakes the thread
    }
    return VYXZEB_RET_SUCCESS;
}

void CZeb::StopCaptureInterruptThread() {
    if (m_bCaptureThreadRunning) {
        pthread_join(m_hCaptureThread, nullptr);
        m_bCaptureThreadRunning = false;
    }
    for (int& fd : m_nFdWakeCaptureThread) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    if (m_nFdCaptureNode >= 0) close(m_nFdCaptureNode);
    m_nFdCaptureNode = -1;
}

void* ThreadForCaptureInterrupt(void* pContext) {
    static const char kNoContext[] = "ThreadForSignalMode";
    static const char kOpenFailed[] = "open device failed";
    CZeb* pZeb = static_cast<CZeb*>(pContext);
    if (!pZeb) return const_cast<char*>(kNoContext);

    // The device object owns the descriptor and closes it after the join.
    const int nFd = pZeb->m_nFdCaptureNode;
    if (nFd < 0) return const_cast<char*>(kOpenFailed);

    const int nWakeFd = pZeb->m_nFdWakeCaptureThread[0];
    char szCode[kCodeBufferBytes] = {};
    while (!pZeb->m_bExitCaptureThread) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(nFd, &readable);
        int nMaxFd = nFd;
        if (nWakeFd >= 0) {
            FD_SET(nWakeFd, &readable);
            if (nWakeFd > nMaxFd) nMaxFd = nWakeFd;
        }
        struct timeval timeout = {kWaitSeconds, 0};
        if (select(nMaxFd + 1, &readable, nullptr, nullptr, &timeout) <= 0) continue;
        if (!FD_ISSET(nFd, &readable)) continue;

        ssize_t nRead = read(nFd, szCode, kCodeReadBytes);
        if (nRead <= 0) continue;
        // Terminate at the length read, so that a short code never picks up
        // the tail of a longer one read before it.
        szCode[nRead] = '\0';
        for (int i = 0; i < kZebMaxSets; ++i) {
            if (strcmp(szCode, g_szSensorInterCode[i]) == 0) {
                if (CVYXSet* pSet = pZeb->m_pSet[i]) pSet->AnnounceFrame();
                break;
            }
        }
    }
    return nullptr;
}
