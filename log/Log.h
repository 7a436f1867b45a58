/*
 * Log.h - the log writer behind the VYXLOG_ functions.
 *
 * A CLog appends entries to one text file (or prints them on standard output
 * in console mode).  The records date and time are declared in VYXLog.h,
 * which applications see as well, and come in with it.
 *
 * CLog itself takes no lock: the VYXLOG_ functions serialise every use of a
 * handle and its destruction (see VYXLog.cpp).
 */
#ifndef VYX_LOG_H
#define VYX_LOG_H

#include <cstdio>

#include "VYXLog.h"

// Buffer sizes, terminator included: a log-file path, a formatted text.
constexpr int kLogPathSize = VYXLOG_PATH_SIZE;
constexpr int kLogTextSize = VYXLOG_TEXT_SIZE;

class CLog {
public:
    // szLogFilePath is a NUL-terminated byte string.  When bFile is true the
    // file is opened for appending (created if missing); if it cannot be
    // opened, or the path does not fit in kLogPathSize bytes, the object has no
    // file and every write returns 1.
    CLog(unsigned int* szLogFilePath, bool bFile, bool bPrintOut);
    virtual ~CLog();

    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;

    // One text entry.  0 written, 1 not written (negative level, no file).
    int WriteLogFile(const char* szItem, int nLevel);
    // One error-number entry (the system's text, no line break).  Same results.
    int WriteLogFile(unsigned int dwLastError, int nLevel);

    // Entries have somewhere to go: console mode, or a file that is open.
    bool CanWrite() const { return !m_bFile || m_pLogFile != nullptr; }

    // Console mode: the text and a line break on standard output.
    void DisplayError(const char* szItem);
    // Console mode: the system's text for the number, without a line break.
    void DisplayError(unsigned int nErrorCode);

private:
    char  m_szLogFilePath[kLogPathSize]; // copy of the path (cut if too long; then no file)
    FILE* m_pLogFile;                    // open log file, null when none
    bool  m_bFile;                       // true: entries go to the file; false: to stdout
    [[maybe_unused]] bool m_bPrintOut;   // kept from the constructor, not used
};

#endif // VYX_LOG_H
