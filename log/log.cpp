/*
 * log.cpp - CLog, the writer of the diagnostic log.
 *
 * Each entry is one fprintf followed by an fflush, so the file is complete up
 * to the last entry even if the camera application dies or the board loses
 * power a moment later.
 */
#include "Log.h"

#include <cstring>

namespace {

// Entry prefix: local date and time with "-" separators and four-digit
// milliseconds.
constexpr char kTextEntryFormat[]  = "%04d-%02d-%02d %02d-%02d-%02d-%04d: %s\n";
// The error-number entry has no line break: the next entry continues the line.
constexpr char kErrorEntryFormat[] = "%04d-%02d-%02d %02d-%02d-%02d-%04d: %s";

constexpr size_t kErrorTextSize = 256;

// The system's text for an error number.  strerror_r (GNU flavour) keeps the
// text in our buffer or a constant string, never in a buffer shared by threads.
const char* ErrorText(unsigned int nErrorCode, char* szBuf, size_t nSize)
{
    return strerror_r(static_cast<int>(nErrorCode), szBuf, nSize);
}

} // namespace

CLog::CLog(unsigned int* szLogFilePath, bool bFile, bool bPrintOut)
    : m_szLogFilePath{}, m_pLogFile(nullptr), m_bFile(bFile), m_bPrintOut(bPrintOut)
{
    const char* szPath = reinterpret_cast<const char*>(szLogFilePath);
    if (szPath == nullptr)
        return;
    const size_t nLen = strnlen(szPath, kLogPathSize);
    memcpy(m_szLogFilePath, szPath, nLen < kLogPathSize ? nLen : kLogPathSize - 1);
    // A path that does not fit is not cut and opened: that would create a file
    // under a name nobody asked for.  The log then has no file.
    if (m_bFile && nLen < static_cast<size_t>(kLogPathSize))
        m_pLogFile = fopen(m_szLogFilePath, "a+e");   // e: close-on-exec
}

CLog::~CLog()
{
    if (m_pLogFile != nullptr) {
        fclose(m_pLogFile);
        m_pLogFile = nullptr;
    }
}

int CLog::WriteLogFile(const char* szItem, int nLevel)
{
    if (nLevel < 0)
        return 1;
    if (m_bFile && m_pLogFile == nullptr)
        return 1;
    if (!m_bFile) {
        DisplayError(szItem);
        return 0;
    }
    struct date dt{};
    struct time tmNow{};
    VYXLOG_GetDateTime(&dt, &tmNow);
    fprintf(m_pLogFile, kTextEntryFormat, dt.da_year, dt.da_mon, dt.da_day, tmNow.ti_hour, tmNow.ti_min,
            tmNow.ti_sec, static_cast<int>(tmNow.ti_hund), szItem);
    fflush(m_pLogFile);
    return 0;
}

int CLog::WriteLogFile(unsigned int dwLastError, int nLevel)
{
    if (nLevel < 0)
        return 1;
    if (m_bFile && m_pLogFile == nullptr)
        return 1;
    if (!m_bFile) {
        DisplayError(dwLastError);
        return 0;
    }
    struct date dt{};
    struct time tmNow{};
    VYXLOG_GetDateTime(&dt, &tmNow);
    char szBuf[kErrorTextSize];
    fprintf(m_pLogFile, kErrorEntryFormat, dt.da_year, dt.da_mon, dt.da_day, tmNow.ti_hour, tmNow.ti_min,
            tmNow.ti_sec, static_cast<int>(tmNow.ti_hund), ErrorText(dwLastError, szBuf, sizeof szBuf));
    fflush(m_pLogFile);
    return 0;
}

void CLog::DisplayError(const char* szItem)
{
    printf("%s\n", szItem);
}

void CLog::DisplayError(unsigned int nErrorCode)
{
    char szBuf[kErrorTextSize];
    printf("%s", ErrorText(nErrorCode, szBuf, sizeof szBuf));
}
