/**
 * @file VYXZebRet.h
 * @brief Names and one-line explanations of the VYXZEB_RET_ codes.
 *
 * Header-only (static inline, nothing is exported from the library), usable
 * from C and C++.  Tools, bindings and applications report a failing call the
 * same way with it, for example:
 *
 *     int rc = VYXZEB_CaptureData(0, &frame);
 *     if (rc != VYXZEB_RET_SUCCESS)
 *         fprintf(stderr, "VYXZEB_CaptureData: %d %s (%s)\n",
 *                 rc, VYXZEB_RetName(rc), VYXZEB_RetText(rc));
 */
#ifndef VYXZEBRET_H
#define VYXZEBRET_H

#include <stddef.h>

#include "VYXZebApi.h"

/** One return code: its value, name and explanation. */
typedef struct {
    int code;         /**< VYXZEB_RET_ value */
    const char* name; /**< "VYXZEB_RET_CAPTURE_TIMEOUT" */
    const char* text; /**< one line, lower case, no final full stop */
} VYXZEB_RET_INFO;

/** Every code the library returns, success first.  *pnCount receives the
 * number of entries when pnCount is not null. */
static inline const VYXZEB_RET_INFO* VYXZEB_RetTable(size_t* pnCount)
{
    static const VYXZEB_RET_INFO table[] = {
        {VYXZEB_RET_SUCCESS, "VYXZEB_RET_SUCCESS", "success"},
        {VYXZEB_RET_FAILED, "VYXZEB_RET_FAILED",
         "the operation failed (device node, memory pool, file or system call; the log says which)"},
        {VYXZEB_RET_NOT_INITIALIZED, "VYXZEB_RET_NOT_INITIALIZED",
         "the library is not initialised (call VYXZEB_Init first)"},
        {VYXZEB_RET_SENSOR_NOT_SUPPORTED, "VYXZEB_RET_SENSOR_NOT_SUPPORTED",
         "the sensor does not implement this operation"},
        {VYXZEB_RET_ALREADY_INITIALIZED, "VYXZEB_RET_ALREADY_INITIALIZED",
         "the library is already initialised"},
        {VYXZEB_RET_BAD_SENSOR_REGISTER, "VYXZEB_RET_BAD_SENSOR_REGISTER",
         "the sensor register has no shadow copy"},
        {VYXZEB_RET_PL_UNAVAILABLE, "VYXZEB_RET_PL_UNAVAILABLE",
         "the camera set has no programmable logic"},
        {VYXZEB_RET_BAD_PARAMETER, "VYXZEB_RET_BAD_PARAMETER",
         "a pointer is null or a value is out of range"},
        {VYXZEB_RET_GPIO_FAILED, "VYXZEB_RET_GPIO_FAILED",
         "no GPIO device, a bad line number or a failed GPIO request"},
        {VYXZEB_RET_CAPTURE_TIMEOUT, "VYXZEB_RET_CAPTURE_TIMEOUT",
         "no frame within the capture time-out, or the wait was ended by a trigger-mode change"},
        {VYXZEB_RET_NULL_BUFFER, "VYXZEB_RET_NULL_BUFFER", "no memory block was given"},
        {VYXZEB_RET_NOT_SUPPORTED, "VYXZEB_RET_NOT_SUPPORTED", "the operation is not available"},
        {VYXZEB_RET_SCALER_UNMAPPED, "VYXZEB_RET_SCALER_UNMAPPED",
         "the video scaler registers are not mapped"},
        {VYXZEB_RET_REGISTER_ACCESS_FAILED, "VYXZEB_RET_REGISTER_ACCESS_FAILED",
         "a PL register block is unavailable or the offset is bad"},
        {VYXZEB_RET_SENSOR_FAILED, "VYXZEB_RET_SENSOR_FAILED",
         "there is no sensor object or a sensor transfer failed"},
        {VYXZEB_RET_SET_UNAVAILABLE, "VYXZEB_RET_SET_UNAVAILABLE",
         "there is no camera set at this index"},
        {VYXZEB_RET_CAPTURE_NOT_STARTED, "VYXZEB_RET_CAPTURE_NOT_STARTED",
         "acquisition is stopped (software trigger refused)"},
    };
    if (pnCount)
        *pnCount = sizeof table / sizeof table[0];
    return table;
}

/** Entry of a code, or a null pointer for a code the library never returns. */
static inline const VYXZEB_RET_INFO* VYXZEB_RetInfo(int nCode)
{
    size_t n = 0;
    const VYXZEB_RET_INFO* table = VYXZEB_RetTable(&n);
    for (size_t i = 0; i < n; ++i)
        if (table[i].code == nCode)
            return &table[i];
    return NULL;
}

/** "VYXZEB_RET_..." name of a code; "VYXZEB_RET_UNKNOWN" for any other value. */
static inline const char* VYXZEB_RetName(int nCode)
{
    const VYXZEB_RET_INFO* info = VYXZEB_RetInfo(nCode);
    return info ? info->name : "VYXZEB_RET_UNKNOWN";
}

/** One-line explanation of a code; "unknown return code" for any other value. */
static inline const char* VYXZEB_RetText(int nCode)
{
    const VYXZEB_RET_INFO* info = VYXZEB_RetInfo(nCode);
    return info ? info->text : "unknown return code";
}

#endif
