// VYXZebApiBmpFile.cpp - the BMP writer's file handling (see
// VYXZebApiBmpFile.h): target checks, the temporary file with the target's
// permissions, the atomic replace, and the removal of temporary files left
// by processes that were killed during a save.
#include "VYXZebApiBmpFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vyxbmp {

namespace {

const char kTempPrefix[] = ".vyxbmp-";
const char kTempSuffix[] = ".tmp";
constexpr size_t kTempPrefixLen = sizeof kTempPrefix - 1;
constexpr size_t kTempSuffixLen = sizeof kTempSuffix - 1;
constexpr int kTemporaryNameTries = 8;
// Longest temporary name: prefix, pid, token, counter, suffix.
constexpr size_t kTempNameMax = 64;

// Distinguishes this process from an earlier one that had the same id: the
// clocks at the first save and the (randomised) address of a local mixed
// into 32 bits.
unsigned InstanceToken() {
    static const unsigned s_unToken = [] {
        timespec real = {}, mono = {};
        clock_gettime(CLOCK_REALTIME, &real);
        clock_gettime(CLOCK_MONOTONIC, &mono);
        int nLocal = 0;
        uint64_t h = static_cast<uint64_t>(real.tv_sec) * 1000000007ULL + static_cast<uint64_t>(real.tv_nsec);
        h ^= (static_cast<uint64_t>(mono.tv_sec) << 32) + static_cast<uint64_t>(mono.tv_nsec);
        h ^= static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&nLocal));
        h *= 0x9E3779B97F4A7C15ULL;
        return static_cast<unsigned>(h >> 32);
    }();
    return s_unToken;
}

// The token of this process as it appears in its names, "<token>-".
std::string OwnTokenField() {
    char sz[16];
    snprintf(sz, sizeof sz, "%08x-", InstanceToken());
    return sz;
}

std::string TemporaryName(const std::string& folder) {
    static std::atomic<unsigned long> s_ulCounter{0};
    char szName[kTempNameMax];
    snprintf(szName, sizeof szName, "%s%ld-%08x-%lu%s", kTempPrefix, static_cast<long>(getpid()), InstanceToken(),
             s_ulCounter.fetch_add(1), kTempSuffix);
    return folder + szName;
}

// The process id in a temporary name, or 0 when the name is not one of the
// writer's ("<prefix><pid>-<rest><suffix>"); *ppRest points behind "<pid>-".
pid_t TemporaryOwner(const char* pszName, const char** ppRest) {
    const size_t len = strlen(pszName);
    if (len <= kTempPrefixLen + kTempSuffixLen || strncmp(pszName, kTempPrefix, kTempPrefixLen) != 0 ||
        strcmp(pszName + len - kTempSuffixLen, kTempSuffix) != 0)
        return 0;
    const char* p = pszName + kTempPrefixLen;
    // Checked before each step: on the board a long is 32 bits, and a number
    // that overflowed it would wrap round to some other process's id.
    int nPid = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const int nDigit = *p - '0';
        if (nPid > (INT_MAX - nDigit) / 10)
            return 0;
        nPid = nPid * 10 + nDigit;
    }
    if (*p != '-') return 0;
    *ppRest = p + 1;
    return static_cast<pid_t>(nPid);
}

bool ProcessGone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

// Length of the last path component (the file name proper).
size_t LastComponentLength(const char* pszPath) {
    const char* pSlash = strrchr(pszPath, '/');
    return strlen(pSlash ? pSlash + 1 : pszPath);
}

}  // namespace

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

bool CheckTarget(const char* pszTarget, TargetInfo* pInfo) {
    *pInfo = TargetInfo();
    // Names the file system cannot hold fail at once, not after the whole
    // image was written: the temporary name in the same folder must fit too.
    const size_t nameLen = LastComponentLength(pszTarget);
    if (nameLen == 0 || nameLen > NAME_MAX) return false;
    const size_t pathLen = strlen(pszTarget);
    if (pathLen - nameLen + kTempNameMax >= PATH_MAX || pathLen >= PATH_MAX) return false;

    struct stat st;
    if (lstat(pszTarget, &st) != 0) return errno == ENOENT;
    if (S_ISDIR(st.st_mode)) return false;
    // Anything but a regular file (a link planted at the name, say) is
    // replaced, not written through.
    if (!S_ISREG(st.st_mode)) return true;
    // An existing image is replaced only where writing it would succeed:
    // a write-protected file, a read-only mount or someone else's file stay.
    if (faccessat(AT_FDCWD, pszTarget, W_OK, AT_EACCESS) != 0) return false;
    pInfo->bExists = true;
    pInfo->mode = st.st_mode & 0777;
    pInfo->uid = st.st_uid;
    pInfo->gid = st.st_gid;
    return true;
}

void ClearStaleTemporaries(const std::string& folder) {
    DIR* pDir = opendir(folder.c_str());
    if (!pDir) return;
    const pid_t self = getpid();
    const std::string ownToken = OwnTokenField();
    // 64-bit entries: inode numbers of large file systems overflow the
    // 32-bit ones of the board's ABI, and readdir would stop early.
    while (const dirent64* pEntry = readdir64(pDir)) {
        const char* pszRest = nullptr;
        const pid_t owner = TemporaryOwner(pEntry->d_name, &pszRest);
        if (owner <= 0) continue;
        const bool bStale = owner == self ? strncmp(pszRest, ownToken.c_str(), ownToken.size()) != 0
                                          : ProcessGone(owner);
        if (bStale) unlink((folder + pEntry->d_name).c_str());
    }
    closedir(pDir);
}

CReplacement::CReplacement(const char* pszTarget, const TargetInfo& info) : m_target(pszTarget), m_info(info) {}

CReplacement::~CReplacement() {
    if (m_nFd >= 0) close(m_nFd);
    if (!m_bCommitted && !m_temporary.empty()) unlink(m_temporary.c_str());
}

bool CReplacement::Open() {
    const std::string folder = FolderOf(m_target);
    // O_EXCL guards against anything else already using the name.
    for (int nTry = 0; m_nFd < 0 && nTry < kTemporaryNameTries; ++nTry) {
        const std::string name = TemporaryName(folder);
        m_nFd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (m_nFd >= 0) m_temporary = name;
        else if (errno != EEXIST) break;
    }
    if (m_nFd < 0) return false;
    if (m_info.bExists) TakeOverTarget();
    return true;
}

// The replacement keeps the image's owner where this process may set it
// (the group alone where only that is allowed), then its permission bits.
// File systems without owners or modes (a FAT card) refuse both, which
// leaves the card's own defaults: not a reason to fail the save.
void CReplacement::TakeOverTarget() {
    if (fchown(m_nFd, m_info.uid, m_info.gid) != 0 && fchown(m_nFd, static_cast<uid_t>(-1), m_info.gid) != 0) {
        // Owned by this process, as any file it creates.
    }
    if (fchmod(m_nFd, m_info.mode) != 0) {
        // The file system's default permissions.
    }
}

bool CReplacement::Commit() {
    bool bOk = fsync(m_nFd) == 0;
    bOk = (close(m_nFd) == 0) && bOk;
    m_nFd = -1;
    if (bOk && rename(m_temporary.c_str(), m_target.c_str()) != 0) bOk = false;
    m_bCommitted = bOk;
    return bOk;
}

}  // namespace vyxbmp
