/*
 * VYXLogHandle.cpp - hVYXLog, the SDK's own log handle.
 *
 * Compiled into libvyxzeb only.  The sensor plug-in carries the log functions
 * too, but it links libvyxzeb and takes this handle from it: a global defined
 * in both shared objects would be one name with two objects, which the
 * dynamic linker merges silently and AddressSanitizer rightly reports as a
 * one-definition-rule violation in every application built with it.
 */
#include "VYXLog.h"

// Null (logging off) until VYXLOG_LogSet switches the log on.
VYXZEB_API HANDLE hVYXLog = nullptr;
