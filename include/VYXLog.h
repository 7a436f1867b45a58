/**
 * @file VYXLog.h
 * @brief Diagnostic log of the VYX camera SDK.
 *
 * The log appends timestamped text entries to one text file.  Both the SDK
 * library and the sensor plug-in write through these functions with the
 * process-wide handle hVYXLog; the plug-in binds to the library's copies when
 * it is loaded, so one file takes the lines of both.
 *
 * hVYXLog is null (logging off) until VYXLOG_LogSet(true, ...) switches it on;
 * while a handle is null every output call does nothing and returns 1.
 *
 * Entry formats:
 *   text entry          "YYYY-MM-DD hh-mm-ss-mmmm: <text>\n"
 *   error-number entry  "YYYY-MM-DD hh-mm-ss-mmmm: <strerror text>"  (no line
 *                       break: the next entry continues on the same line)
 * where mmmm are the milliseconds within the second, printed with 4 digits.
 *
 * Bounds: a log-file path (folder and name) holds at most 127 characters;
 * longer paths are refused (the call returns 1, or the handle is created
 * without a file).  A text formatted by VYXLOG_OutputStringEx is cut after
 * 1023 characters.
 *
 * Threads: output calls may come from any thread.  A handle is checked and
 * used under the log's lock, so switching the log off while other threads
 * write is safe: a write either completes before the handle is destroyed or
 * finds it gone and returns 1.
 *
 * Usable from C and C++; VYXLOG_GetAppPath is exported under its C++ name
 * and is therefore declared for C++ only.
 */
#ifndef VYXLOG_H
#define VYXLOG_H

#include "VYXZebApi.h"

/** Size of every log path buffer, terminator included. */
#define VYXLOG_PATH_SIZE 128
/** Size of the buffer VYXLOG_OutputStringEx formats into, terminator included. */
#define VYXLOG_TEXT_SIZE 1024

/** Untyped handle of a log (a writer object made by VYXLOG_Init). */
typedef void* HANDLE;

/** Local calendar date.  The day comes before the month. */
struct date {
    int da_year; /**< full year, e.g. 2026 */
    char da_day; /**< day of the month, 1..31 */
    char da_mon; /**< month, 1..12 */
};

/** Local time of day.  Named like the C library's time(): in C++ code that
 * also includes the C time header, write "struct time". */
struct time {
    unsigned char ti_min;  /**< minute, 0..59 */
    unsigned char ti_hour; /**< hour, 0..23 */
    unsigned char ti_sec;  /**< second, 0..59 */
    unsigned int ti_hund;  /**< milliseconds within the second, 0..999 */
};

/** @cond INTERNAL */
#if defined(__GNUC__)
#define VYXLOG_PRINTF_CHECK(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define VYXLOG_PRINTF_CHECK(fmt, first)
#endif
/** @endcond */

#ifdef __cplusplus
extern "C" {
#endif

/** The SDK's own log; null while logging is off. */
VYXZEB_API extern HANDLE hVYXLog;

/** Creates a log writing to szLogFilePath (a NUL-terminated byte string; appended
 * to, created if missing) when bFile is true, or to standard output when bFile
 * is false, and stores it in *hVYXLog.  0 on success, 1 if no handle could be
 * made.  A file that cannot be opened (or a path of 128 bytes or more) still
 * gives a handle and 0; every write through it then returns 1. */
VYXZEB_API int VYXLOG_Init(HANDLE* hVYXLog, unsigned int* szLogFilePath, bool bFile, bool bPrintOut);

/** Creates a log in szFolder (created if missing, its parent must exist; null or
 * empty: "VYXLog" beside the executable) named szLogFileName (null or empty:
 * VYXLog_YYYYMMDD(hhmmss).txt with the local time of the call).  0 on success;
 * 1 if the folder cannot be created, the clock cannot be read or the path would
 * not fit in 127 characters; *hLog is then not touched. */
VYXZEB_API int VYXLOG_InitEx(HANDLE* hLog, unsigned int* szFolder, unsigned int* szLogFileName,
                             bool bFile, bool bPrintOut);

/** Destroys the log in *hVYXLog (closing its file) and nulls the handle.  0, or
 * 1 if the handle was null or is not a live log. */
VYXZEB_API int VYXLOG_UnInit(HANDLE* hVYXLog);

/** Writes one text entry at nDebugLevel (negative levels are not written).
 * 0 written; 1 not written (null or closed handle, no file, negative level). */
VYXZEB_API int VYXLOG_OutputString(HANDLE hVYXLog, const char* szItem, int nDebugLevel);

/** Formats printf-style (cut after 1023 characters) and writes the text as
 * VYXLOG_OutputString does.  Same results. */
VYXZEB_API int VYXLOG_OutputStringEx(HANDLE hLog, int nDebugLevel, const char* lpszFormat, ...)
    VYXLOG_PRINTF_CHECK(3, 4);

/** Writes one error-number entry (the system's text for dwLastError, no line
 * break).  Same results as VYXLOG_OutputString. */
VYXZEB_API int VYXLOG_OutputError(HANDLE hVYXLog, unsigned int dwLastError, int nDebugLevel);

/** VYXLOG_OutputError with the calling thread's current errno. */
VYXZEB_API int VYXLOG_OutputLastError(HANDLE hLog, int nDebugLevel);

/** Switches the SDK's log hVYXLog.  bEnable false: closes it; 0, or 1 if none
 * was open.  bEnable true: closes any open log, then opens a new file with the
 * default time-stamped name in pszFolder (null or empty: "VYXLog" beside the
 * executable); 0, or 1 with logging left off (see VYXLOG_InitEx). */
VYXZEB_API int VYXLOG_LogSet(bool bEnable, const char* pszFolder);

/** *pbEnable = whether hVYXLog is on; when it is and pszFolder is not null,
 * copies the full path of the current log file into pszFolder, which must
 * hold VYXLOG_PATH_SIZE (128) bytes.  Always 0. */
VYXZEB_API int VYXLOG_LogGet(bool* pbEnable, char* pszFolder);

/** Local date and time of the wall clock.  0, or -1 if a pointer is null or the
 * clock cannot be read. */
VYXZEB_API int VYXLOG_GetDateTime(struct date* pdt, struct time* ptm);

#ifdef __cplusplus
}

/** Reads the executable's path (link "/proc/self/exe") into szPath, at most 128
 * bytes, WITHOUT a terminator; the caller clears the buffer first.  Returns the
 * byte count (128 means the path may have been cut), -1 on failure or if
 * szPath is null. */
VYXZEB_API int VYXLOG_GetAppPath(char* szPath);
#endif

#endif /* VYXLOG_H */
