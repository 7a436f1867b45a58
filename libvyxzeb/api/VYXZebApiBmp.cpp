// VYXZebApiBmp.cpp - VYXZEB_HelperSaveToBmp: writes an image held in memory,
// typically a captured frame, as a Windows bitmap under one of the camera's
// two storage folders.
//
// The file appears complete or not at all (VYXZebApiBmpFile.h): the bytes go
// to a temporary file in the target's folder, which is renamed over the
// target only when every byte was written.  A failed or short write (the SD
// card filling up, a pulled card) therefore leaves no truncated file and
// never damages an existing one, and a symbolic link planted at the target
// name is replaced rather than followed.  A name whose folders pass through
// a symbolic link is refused like one with "..": either could lead out of
// the permitted folders.  A replaced image keeps its
// permissions, and one this process could not write is not replaced.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "VYXLog.h"
#include "VYXZebApiBmpFile.h"
#include "VYXZebApi.h"
#include "LogHandle.h"

class CZeb;
extern CZeb* g_Zeb;

namespace {

const char kFuncName[] = "VYXZEB_HelperSaveToBmp";

// The two folders applications may write to: the SD card and internal data.
const char* const kBmpFolders[] = {"/picture/sd/", "/picture/data/"};

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kPaletteEntries = 256;
constexpr uint32_t kPaletteBytes = kPaletteEntries * 4;
constexpr uint16_t kBmpMagic = 0x4D42;  // "BM", little-endian
constexpr uint16_t kPlanes = 1;
constexpr uint32_t kNoCompression = 0;

// Every size field of the format is 32 bits wide.
constexpr uint64_t kMaxFileBytes = UINT32_MAX;

struct BmpGeometry {
    uint32_t unHeaderBytes;  // file header, information header, palette
    uint32_t unImageBytes;   // height x padded row
    uint32_t unFileBytes;
};

// Sizes of the file, or false when they do not fit its 32-bit fields.
bool ComputeGeometry(int nWidth, int nHeight, int nBitCount, BmpGeometry* pGeo) {
    const uint64_t ullRowBytes = (static_cast<uint64_t>(nWidth) * static_cast<uint64_t>(nBitCount) + 31) / 32 * 4;
    pGeo->unHeaderBytes = kFileHeaderBytes + kInfoHeaderBytes + (nBitCount == 8 ? kPaletteBytes : 0);
    const uint64_t ullLimit = kMaxFileBytes - pGeo->unHeaderBytes;
    if (ullRowBytes > ullLimit / static_cast<uint64_t>(nHeight)) return false;
    const uint64_t ullImageBytes = ullRowBytes * static_cast<uint64_t>(nHeight);
    if (ullImageBytes > SIZE_MAX) return false;
    pGeo->unImageBytes = static_cast<uint32_t>(ullImageBytes);
    pGeo->unFileBytes = pGeo->unHeaderBytes + pGeo->unImageBytes;
    return true;
}

void Put16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void Put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// File header, information header and (8 bits) the grey palette, whose
// fourth byte of entry j holds j as well: readers ignore that byte, and
// files written by earlier releases have always carried it.
void BuildHeaders(const BmpGeometry& geo, int nWidth, int nHeight, int nBitCount, unsigned char* pOut) {
    memset(pOut, 0, geo.unHeaderBytes);
    Put16(pOut + 0, kBmpMagic);
    Put32(pOut + 2, geo.unFileBytes);
    Put32(pOut + 10, geo.unHeaderBytes);
    unsigned char* pInfo = pOut + kFileHeaderBytes;
    Put32(pInfo + 0, kInfoHeaderBytes);
    Put32(pInfo + 4, static_cast<uint32_t>(nWidth));
    // Negative height: the first row in the file is the top row, as in the
    // caller's buffer.
    Put32(pInfo + 8, static_cast<uint32_t>(-static_cast<int64_t>(nHeight)));
    Put16(pInfo + 12, kPlanes);
    Put16(pInfo + 14, static_cast<uint16_t>(nBitCount));
    Put32(pInfo + 16, kNoCompression);
    Put32(pInfo + 20, geo.unImageBytes);
    if (nBitCount == 8) {
        unsigned char* pPalette = pInfo + kInfoHeaderBytes;
        for (uint32_t j = 0; j < kPaletteEntries; ++j) memset(pPalette + 4 * j, static_cast<int>(j), 4);
    }
}

// True when some component of the path is "..": the folder prefix test alone
// would let such a name climb out of the permitted folders.
bool HasParentComponent(const char* pszPath) {
    for (const char* p = pszPath; *p;) {
        const char* pEnd = strchr(p, '/');
        const size_t len = pEnd ? static_cast<size_t>(pEnd - p) : strlen(p);
        if (len == 2 && p[0] == '.' && p[1] == '.') return true;
        if (!pEnd) break;
        p = pEnd + 1;
    }
    return false;
}

// True when a folder between the permitted folder and the file's name is a
// symbolic link: the file would be created wherever the link points, outside
// the permitted folders.  (A link at the name itself is replaced, not
// followed; see VYXZebApiBmpFile.h.)
bool PassesThroughLink(const char* pszPath, size_t nFolderLen) {
    const std::string path(pszPath);
    for (size_t end = path.find('/', nFolderLen); end != std::string::npos; end = path.find('/', end + 1)) {
        struct stat st;
        if (lstat(path.substr(0, end).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return true;
    }
    return false;
}

// Writes all of the block, going on after partial writes; false on the
// first error or when the file system takes nothing more.
bool WriteAll(int fd, const unsigned char* p, size_t n) {
    while (n > 0) {
        const ssize_t written = write(fd, p, n);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        p += written;
        n -= static_cast<size_t>(written);
    }
    return true;
}

// Free bytes of the file system holding pszFolder (superuser reserve
// included), saturated instead of overflowing.
bool FreeBytes(const char* pszFolder, uint64_t* pullFree) {
    struct statfs fs;
    if (statfs(pszFolder, &fs) != 0) return false;
    const uint64_t ullBlock = static_cast<uint64_t>(fs.f_bsize);
    const uint64_t ullBlocks = static_cast<uint64_t>(fs.f_bfree);
    *pullFree = (ullBlock != 0 && ullBlocks > UINT64_MAX / ullBlock) ? UINT64_MAX : ullBlock * ullBlocks;
    return true;
}

}  // namespace

int VYXZEB_HelperSaveToBmp(unsigned char* pData, int nWidth, int nHeight, int nBitCount, const char* pszFileName) {
    VYXLOG_OutputStringEx(SdkLog(), 1, "VYXLOG_(++++++++++%s)", kFuncName);
    if (!g_Zeb) return VYXZEB_RET_NOT_INITIALIZED;

    if (!pData || nWidth <= 0 || nHeight <= 0) return VYXZEB_RET_BAD_PARAMETER;
    if (nBitCount != 8 && nBitCount != 24 && nBitCount != 32) return VYXZEB_RET_BAD_PARAMETER;
    if (!pszFileName) return VYXZEB_RET_BAD_PARAMETER;
    BmpGeometry geo;
    if (!ComputeGeometry(nWidth, nHeight, nBitCount, &geo)) return VYXZEB_RET_BAD_PARAMETER;

    const char* pszFolder = nullptr;
    for (const char* pszPrefix : kBmpFolders) {
        if (strncmp(pszFileName, pszPrefix, strlen(pszPrefix)) == 0) {
            pszFolder = pszPrefix;
            break;
        }
    }
    if (!pszFolder || HasParentComponent(pszFileName) || PassesThroughLink(pszFileName, strlen(pszFolder))) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(%s file path is invalid!)", kFuncName);
        return VYXZEB_RET_BAD_PARAMETER;
    }

    struct stat st;
    if (lstat(pszFolder, &st) != 0 || !S_ISDIR(st.st_mode)) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(%s %s isn't a folder)", kFuncName, pszFolder);
        return VYXZEB_RET_FAILED;
    }
    // Temporary files of saves that were killed half-way hold space the
    // disk check below counts on.
    vyxbmp::ClearStaleTemporaries(vyxbmp::FolderOf(pszFileName));
    uint64_t ullFree = 0;
    if (!FreeBytes(pszFolder, &ullFree)) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(%s %s cann't get disk info)", kFuncName, pszFolder);
        return VYXZEB_RET_FAILED;
    }
    if (ullFree <= geo.unFileBytes) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(%s the disk free space is insufficient!)", kFuncName);
        return VYXZEB_RET_FAILED;
    }

    // The name is checked before anything is written: a folder, a name
    // the file system cannot hold or an image this process may not write
    // is refused as a file that cannot be created.
    vyxbmp::TargetInfo target;
    const bool bCreatable = vyxbmp::CheckTarget(pszFileName, &target);
    vyxbmp::CReplacement file(pszFileName, target);
    if (!bCreatable || !file.Open()) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(%s create file %s failed)", kFuncName, pszFileName);
        return VYXZEB_RET_FAILED;
    }

    unsigned char headers[kFileHeaderBytes + kInfoHeaderBytes + kPaletteBytes];
    BuildHeaders(geo, nWidth, nHeight, nBitCount, headers);
    // The pixels go straight from the caller's buffer, without a copy.  The
    // data reach the card before the rename makes the file visible.
    const bool bOk = WriteAll(file.Fd(), headers, geo.unHeaderBytes) &&
                     WriteAll(file.Fd(), pData, geo.unImageBytes) && file.Commit();
    if (!bOk) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(%s write file %s failed)", kFuncName, pszFileName);
        return VYXZEB_RET_FAILED;
    }

    VYXLOG_OutputStringEx(SdkLog(), 1, "VYXLOG_(----------%s)", kFuncName);
    return VYXZEB_RET_SUCCESS;
}
