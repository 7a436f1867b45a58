/*
 * VYXLog.cpp - the exported VYXLOG_ functions around CLog.
 *
 * This unit is compiled into the SDK library and into the sensor plug-in.  The
 * exported functions keep default visibility, so when the plug-in is loaded
 * into a process that holds the library, its calls bind to the library's
 * copies and the lock, the list of live logs and szPath below are the
 * library's: one log file and one lock serve both.  The handle hVYXLog itself
 * is defined once, in the library (VYXLogHandle.cpp): the plug-in links the
 * library and reads the library's handle, so a process never holds two
 * objects of that name.
 *
 * Lifetime guard.  Callers pass hVYXLog by value, so a thread may hold a
 * handle that another thread is switching off.  Every live CLog is entered in
 * a list; output calls look the handle up and write under one lock, and
 * VYXLOG_UnInit removes and destroys the CLog under the same lock.  A writer
 * that comes too late finds its handle gone and returns 1, exactly as if the
 * log had been off.  The lock is held for one formatted write and one flush.
 */
#include "VYXLog.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "Log.h"

namespace {

constexpr char   kExeLink[]          = "/proc/self/exe";
constexpr char   kDefaultFolder[]    = "VYXLog";
constexpr mode_t kFolderMode         = 0775;
// Buffer for the default file name "VYXLog_YYYYMMDD(hhmmss).txt" (27 characters).
constexpr size_t kDefaultNameMaxSize = 64;

// Working buffer of VYXLOG_InitEx; after a successful call it holds the full
// path of the chosen log file, which VYXLOG_LogGet reports.  Always
// terminated: every write into it is bounded to kLogPathSize - 1 bytes.
alignas(unsigned int) char szPath[kLogPathSize];

// Path of the log that hVYXLog holds, for VYXLOG_LogGet.  Kept apart from
// szPath so that an application opening logs of its own with VYXLOG_InitEx
// (or failing to) does not change what is reported for the SDK's log.
char szLogPath[kLogPathSize];

// Guards szPath, szLogPath, the list of live logs, hVYXLog's changes and every write.
std::mutex g_LogLock;

// Live logs: every CLog made by VYXLOG_Init and not yet destroyed.  A plain
// list of heap nodes (usually one) so that nothing is torn down at process
// exit while another thread might still be logging.
struct LiveLog {
    CLog*    pLog;
    LiveLog* pNext;
};
LiveLog* g_pLiveLogs = nullptr;

bool AddLive(CLog* pLog)
{
    LiveLog* pNode = new (std::nothrow) LiveLog{pLog, g_pLiveLogs};
    if (pNode == nullptr)
        return false;
    g_pLiveLogs = pNode;
    return true;
}

bool IsLive(HANDLE h)
{
    for (LiveLog* p = g_pLiveLogs; p != nullptr; p = p->pNext)
        if (p->pLog == h)
            return true;
    return false;
}

bool RemoveLive(HANDLE h)
{
    for (LiveLog** pp = &g_pLiveLogs; *pp != nullptr; pp = &(*pp)->pNext) {
        if ((*pp)->pLog == h) {
            LiveLog* pNode = *pp;
            *pp = pNode->pNext;
            delete pNode;
            return true;
        }
    }
    return false;
}

// Handle variables (hVYXLog above all) are read by writers without the lock;
// single-word atomic accesses keep those reads well defined.
HANDLE LoadHandle(HANDLE* ph)
{
    return __atomic_load_n(ph, __ATOMIC_ACQUIRE);
}

void StoreHandle(HANDLE* ph, HANDLE h)
{
    __atomic_store_n(ph, h, __ATOMIC_RELEASE);
}

// --- The operations below expect g_LogLock to be held. -------------------

int InitLocked(HANDLE* phLog, unsigned int* szLogFilePath, bool bFile, bool bPrintOut)
{
    if (phLog == nullptr)
        return 1;
    StoreHandle(phLog, nullptr);
    CLog* pLog = new (std::nothrow) CLog(szLogFilePath, bFile, bPrintOut);
    if (pLog == nullptr)
        return 1;
    if (!AddLive(pLog)) {
        delete pLog;
        return 1;
    }
    if (phLog == &hVYXLog) {
        const char* pszPath = reinterpret_cast<const char*>(szLogFilePath);
        memset(szLogPath, 0, sizeof szLogPath);
        if (pszPath != nullptr)
            memcpy(szLogPath, pszPath, strnlen(pszPath, kLogPathSize - 1));
    }
    StoreHandle(phLog, pLog);
    return 0;
}

int UnInitLocked(HANDLE* phLog)
{
    if (phLog == nullptr)
        return 1;
    HANDLE h = LoadHandle(phLog);
    if (h == nullptr)
        return 1;
    StoreHandle(phLog, nullptr);
    // A stale copy of a handle that was closed through another variable.
    if (!RemoveLive(h))
        return 1;
    delete static_cast<CLog*>(h);
    return 0;
}

// The executable's directory with "VYXLog" appended, into the cleared szPath.
// An unreadable link leaves the relative folder "VYXLog".  False if the folder
// path does not fit.
bool DefaultFolderLocked()
{
    const int nRead = VYXLOG_GetAppPath(szPath);
    size_t nDirLen = 0;
    if (nRead >= kLogPathSize) {
        // The 128-byte read may have cut the path, and with it the last "/".
        // Read the whole link to find the real directory, then see whether it
        // still fits.
        char szExe[PATH_MAX];
        const ssize_t nFull = readlink(kExeLink, szExe, sizeof szExe - 1);
        if (nFull <= 0 || nFull >= static_cast<ssize_t>(sizeof szExe - 1))
            return false;
        szExe[nFull] = '\0';
        const char* pSlash = strrchr(szExe, '/');
        nDirLen = pSlash != nullptr ? static_cast<size_t>(pSlash - szExe) + 1 : 0;
        if (nDirLen + strlen(kDefaultFolder) >= static_cast<size_t>(kLogPathSize))
            return false;
        memset(szPath, 0, sizeof szPath);
        memcpy(szPath, szExe, nDirLen);
    } else {
        // Shorter than the buffer: the cleared buffer terminates it.  Cut the
        // executable's name, keeping the trailing "/".
        nDirLen = strlen(szPath);
        while (nDirLen > 0 && szPath[nDirLen - 1] != '/')
            szPath[--nDirLen] = '\0';
        if (nDirLen + strlen(kDefaultFolder) >= static_cast<size_t>(kLogPathSize))
            return false;
    }
    memcpy(szPath + nDirLen, kDefaultFolder, sizeof kDefaultFolder);
    return true;
}

int InitExLocked(HANDLE* phLog, unsigned int* szFolder, unsigned int* szLogFileName, bool bFile,
                 bool bPrintOut)
{
    const char* pszFolder = reinterpret_cast<const char*>(szFolder);
    const char* pszName   = reinterpret_cast<const char*>(szLogFileName);

    memset(szPath, 0, sizeof szPath);

    // Folder.
    if (pszFolder != nullptr && pszFolder[0] != '\0') {
        const size_t nLen = strnlen(pszFolder, kLogPathSize);
        if (nLen >= static_cast<size_t>(kLogPathSize))
            return 1;
        memcpy(szPath, pszFolder, nLen);
    } else if (!DefaultFolderLocked()) {
        return 1;
    }

    // File name: the caller's, or stamped with the local time of this call.
    char szDefaultName[kDefaultNameMaxSize];
    if (pszName == nullptr || pszName[0] == '\0') {
        struct date dt{};
        struct time tmNow{};
        if (VYXLOG_GetDateTime(&dt, &tmNow) != 0)
            return 1;
        snprintf(szDefaultName, sizeof szDefaultName, "VYXLog_%04d%02d%02d(%02d%02d%02d).txt",
                 dt.da_year, dt.da_mon, dt.da_day, tmNow.ti_hour, tmNow.ti_min, tmNow.ti_sec);
        pszName = szDefaultName;
    }

    // Folder, "/" and name must fit, terminator included.  Checked before the
    // folder is created so that a refused path leaves nothing behind.
    const size_t nFolderLen = strlen(szPath);
    const size_t nNameLen   = strnlen(pszName, kLogPathSize);
    if (nFolderLen + 1 + nNameLen >= static_cast<size_t>(kLogPathSize))
        return 1;

    // Only the last level is created: a missing parent fails, and so does a
    // regular file standing where the folder should be.
    struct stat st;
    if (lstat(szPath, &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (mkdir(szPath, kFolderMode) != 0)
            return 1;
    }

    szPath[nFolderLen] = '/';
    memcpy(szPath + nFolderLen + 1, pszName, nNameLen);
    return InitLocked(phLog, reinterpret_cast<unsigned int*>(szPath), bFile, bPrintOut);
}

} // namespace

extern "C" {

VYXZEB_API int VYXLOG_Init(HANDLE* hVYXLog, unsigned int* szLogFilePath, bool bFile, bool bPrintOut)
{
    std::lock_guard<std::mutex> lock(g_LogLock);
    return InitLocked(hVYXLog, szLogFilePath, bFile, bPrintOut);
}

VYXZEB_API int VYXLOG_InitEx(HANDLE* hLog, unsigned int* szFolder, unsigned int* szLogFileName,
                             bool bFile, bool bPrintOut)
{
    std::lock_guard<std::mutex> lock(g_LogLock);
    return InitExLocked(hLog, szFolder, szLogFileName, bFile, bPrintOut);
}

VYXZEB_API int VYXLOG_UnInit(HANDLE* hVYXLog)
{
    std::lock_guard<std::mutex> lock(g_LogLock);
    return UnInitLocked(hVYXLog);
}

VYXZEB_API int VYXLOG_OutputString(HANDLE hVYXLog, const char* szItem, int nDebugLevel)
{
    if (hVYXLog == nullptr || szItem == nullptr)
        return 1;
    std::lock_guard<std::mutex> lock(g_LogLock);
    if (!IsLive(hVYXLog))
        return 1;
    return static_cast<CLog*>(hVYXLog)->WriteLogFile(szItem, nDebugLevel);
}

VYXZEB_API int VYXLOG_OutputStringEx(HANDLE hLog, int nDebugLevel, const char* lpszFormat, ...)
{
    // With the log off (the usual case) the arguments are not even formatted.
    if (hLog == nullptr || lpszFormat == nullptr)
        return 1;
    char* szText = static_cast<char*>(malloc(kLogTextSize));
    if (szText == nullptr)
        return 1;
    va_list args;
    va_start(args, lpszFormat);
    // Longer texts are cut after kLogTextSize - 1 characters.
    const int nLen = vsnprintf(szText, kLogTextSize, lpszFormat, args);
    va_end(args);
    const int nRet = nLen < 0 ? 1 : VYXLOG_OutputString(hLog, szText, nDebugLevel);
    free(szText);
    return nRet;
}

VYXZEB_API int VYXLOG_OutputError(HANDLE hVYXLog, unsigned int dwLastError, int nDebugLevel)
{
    if (hVYXLog == nullptr)
        return 1;
    std::lock_guard<std::mutex> lock(g_LogLock);
    if (!IsLive(hVYXLog))
        return 1;
    return static_cast<CLog*>(hVYXLog)->WriteLogFile(dwLastError, nDebugLevel);
}

VYXZEB_API int VYXLOG_OutputLastError(HANDLE hLog, int nDebugLevel)
{
    const unsigned int nError = static_cast<unsigned int>(errno);
    return VYXLOG_OutputError(hLog, nError, nDebugLevel);
}

VYXZEB_API int VYXLOG_LogSet(bool bEnable, const char* pszFolder)
{
    std::lock_guard<std::mutex> lock(g_LogLock);
    if (!bEnable)
        return UnInitLocked(&hVYXLog);
    // Always through "off": a repeated switch-on closes the previous file.
    UnInitLocked(&hVYXLog);
    unsigned int* szFolder = reinterpret_cast<unsigned int*>(const_cast<char*>(pszFolder));
    int nRet = InitExLocked(&hVYXLog, szFolder, nullptr, true, false);
    // A log whose file could not be created is not on: say so.
    if (nRet == 0 && !static_cast<CLog*>(LoadHandle(&hVYXLog))->CanWrite())
        nRet = 1;
    if (nRet != 0)
        UnInitLocked(&hVYXLog);
    return nRet;
}

VYXZEB_API int VYXLOG_LogGet(bool* pbEnable, char* pszFolder)
{
    std::lock_guard<std::mutex> lock(g_LogLock);
    const bool bOn = LoadHandle(&hVYXLog) != nullptr;
    if (pbEnable != nullptr)
        *pbEnable = bOn;
    if (bOn && pszFolder != nullptr)
        memcpy(pszFolder, szLogPath, strlen(szLogPath) + 1);
    return 0;
}

VYXZEB_API int VYXLOG_GetDateTime(struct date* pdt, struct time* ptm)
{
    if (pdt == nullptr || ptm == nullptr)
        return -1;
    struct timeval tv;
    if (gettimeofday(&tv, nullptr) != 0)
        return -1;
    // localtime_r: writers on several threads must not share localtime's buffer.
    struct tm tmLocal;
    const time_t tSec = tv.tv_sec;
    if (localtime_r(&tSec, &tmLocal) == nullptr)
        return -1;
    ptm->ti_hour = static_cast<unsigned char>(tmLocal.tm_hour);
    ptm->ti_min  = static_cast<unsigned char>(tmLocal.tm_min);
    ptm->ti_sec  = static_cast<unsigned char>(tmLocal.tm_sec);
    ptm->ti_hund = static_cast<unsigned int>(tv.tv_usec / 1000);
    pdt->da_year = tmLocal.tm_year + 1900;
    pdt->da_mon  = static_cast<char>(tmLocal.tm_mon + 1);
    pdt->da_day  = static_cast<char>(tmLocal.tm_mday);
    return 0;
}

} // extern "C"

VYXZEB_API int VYXLOG_GetAppPath(char* szPath)
{
    if (szPath == nullptr)
        return -1;
    // No terminator: callers hand in a cleared buffer.
    return static_cast<int>(readlink(kExeLink, szPath, kLogPathSize));
}
