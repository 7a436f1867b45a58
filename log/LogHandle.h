/*
 * LogHandle.h - the SDK's log handle as the library and the sensor plug-in
 * read it for their own entries.
 *
 * VYXLOG_LogSet may switch hVYXLog on or off from another thread at any
 * moment; the handle is one word, read here atomically so that an entry sees
 * either the old or the new handle (a closed one is refused by the writer).
 */
#ifndef VYX_LOG_HANDLE_H
#define VYX_LOG_HANDLE_H

#include "VYXLog.h"

inline HANDLE SdkLog() { return __atomic_load_n(&hVYXLog, __ATOMIC_ACQUIRE); }

#endif
