/*
 * VYXZebApi.h - public interface of libvyxzeb, the SDK of the VYX smart camera.
 *
 * The camera is an ARMv7-A board whose programmable logic (PL) receives
 * 1280 x 1024 8-bit grey frames from the image sensor, stores them in four
 * frame buffers of reserved physical memory and can scale them onto a
 * 1280 x 720 HDMI output.
 *
 * Every function returns an int: VYXZEB_RET_SUCCESS (0) or one of the negative
 * VYXZEB_RET_ codes below; outputs travel through pointer arguments.  Every
 * function that needs the device returns VYXZEB_RET_NOT_INITIALIZED before it
 * looks at any argument while the library is not initialised.
 *
 * Threads: VYXZEB_Init and VYXZEB_UnInit must not run while any other call is
 * in progress; VYXZEB_Malloc and VYXZEB_Free must be serialised among
 * themselves; other calls may come from several threads.  One thread per
 * camera set captures and releases frames: two threads capturing from one
 * set can be handed the same buffer, and VYXZEB_ReleaseBuffer frees the
 * oldest frame the set handed out, which may be the other thread's.  A thread
 * blocked in VYXZEB_CaptureData is woken by VYXZEB_SetTriggerMode or
 * VYXZEB_EmptyFrameBuffer from another thread, and by a signal it handles.
 *
 * Processes: frames are announced by a thread the library starts in
 * VYXZEB_Init.  A child made by fork() has no such thread and cannot capture
 * (its captures end with -1011); a program the child execs calls VYXZEB_Init
 * itself.  No descriptor of the library survives an exec.
 *
 * Usable from C and C++.  Three functions (VYXZEB_GetFrameBufNum,
 * VYXZEB_SetFrameBufNum, VYXZEB_GetPosition) are exported under C++ names and
 * are therefore declared for C++ only.
 */
#ifndef VYXZEBAPI_H
#define VYXZEBAPI_H

#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(VYX_BUILDING_SDK)
#define VYXZEB_API __attribute__((visibility("default")))
#else
#define VYXZEB_API
#endif

/* ---- Return codes ------------------------------------------------------- */
#define VYXZEB_RET_SUCCESS                    0     /* success */
#define VYXZEB_RET_FAILED                 (-1001)   /* general failure (device, pool, file, ...) */
#define VYXZEB_RET_NOT_INITIALIZED        (-1002)   /* VYXZEB_Init has not succeeded */
#define VYXZEB_RET_SENSOR_NOT_SUPPORTED   (-1003)   /* the sensor does not implement the operation */
#define VYXZEB_RET_ALREADY_INITIALIZED    (-1004)   /* VYXZEB_Init while initialised */
#define VYXZEB_RET_BAD_SENSOR_REGISTER    (-1005)   /* sensor register without a shadow copy */
#define VYXZEB_RET_PL_UNAVAILABLE         (-1006)   /* camera set without programmable logic */
#define VYXZEB_RET_BAD_PARAMETER          (-1009)   /* null output pointer or value out of range */
#define VYXZEB_RET_GPIO_FAILED            (-1010)   /* no GPIO device, bad pin or failed request */
#define VYXZEB_RET_CAPTURE_TIMEOUT        (-1011)   /* no frame in time, or wait ended by a mode change */
#define VYXZEB_RET_NULL_BUFFER            (-1013)   /* VYXZEB_Free without a block */
#define VYXZEB_RET_NOT_SUPPORTED          (-1014)   /* operation not available */
#define VYXZEB_RET_SCALER_UNMAPPED        (-1015)   /* video scaler registers not mapped */
#define VYXZEB_RET_REGISTER_ACCESS_FAILED (-1023)   /* PL register block unavailable or bad offset */
#define VYXZEB_RET_SENSOR_FAILED          (-1025)   /* no sensor object, or a sensor transfer failed */
#define VYXZEB_RET_SET_UNAVAILABLE        (-1026)   /* no camera set at the index */
#define VYXZEB_RET_CAPTURE_NOT_STARTED    (-1027)   /* software trigger while acquisition is stopped */

/* ---- Enumerations ------------------------------------------------------- */

/* Trigger modes of the PL. */
typedef enum {
    VYXZEB_TRIGGER_CONTINUOUS     = 0, /* the PL acquires frames on its own frame clock */
    VYXZEB_TRIGGER_SOFTWARE       = 1, /* one frame per VYXZEB_CaptureData (start-up mode) */
    VYXZEB_TRIGGER_EXTERNAL_TYPE2 = 2, /* external trigger input, trigger type 2 */
    VYXZEB_TRIGGER_EXTERNAL_TYPE3 = 3, /* external trigger input, trigger type 3 */
    VYXZEB_TRIGGER_EXTERNAL_TYPE0 = 4, /* external trigger input, trigger type 0 */
    VYXZEB_TRIGGER_EXTERNAL_TYPE1 = 5  /* external trigger input, trigger type 1 */
} VYXZEB_TRIGGER_MODE;

/* Row and column address modes: how many sensor rows/columns make one
 * output row/column. */
typedef enum {
    VYX_ADDRESSMODE_NORMAL = 0, /* full resolution */
    VYX_ADDRESSMODE_DIV2   = 1, /* 1/2 */
    VYX_ADDRESSMODE_DIV3   = 2, /* 1/3 */
    VYX_ADDRESSMODE_DIV4   = 3, /* 1/4 */
    VYX_ADDRESSMODE_DIV8   = 4  /* 1/8 */
} VYX_ADDRESSMODE;

/* Sensor types; also the index of the sensor plug-in to load. */
typedef enum {
    VYXZEB_SENSOR_V880A = 0,
    VYXZEB_SENSOR_Q210B = 1
} VYXZEB_SENSOR_TYPE;

/* Trigger callback: stored per camera set by VYXZEB_SetTriggerCallback.
 * Arguments: frame, width, height, bits per pixel, user context. */
typedef void (*VYXZEB_TRIGGER_CALLBACK)(unsigned char* pFrame, int nWidth, int nHeight,
                                        int nBitCount, void* pContext);

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Life cycle and identification ------------------------------------- */

/* Opens the camera: SPI bus, camera sets (sensor plug-in, PL), GPIO, physical
 * memory pool and the capture interrupt thread.  Takes over one second (the
 * PL settles after start-up).  0, -1004 when already initialised, -1001 when
 * any step failed (the log names it; nothing is left open). */
VYXZEB_API int VYXZEB_Init(void);

/* Closes the camera and releases everything VYXZEB_Init built.  Frame and
 * pool pointers become invalid.  0, or -1002 when not initialised. */
VYXZEB_API int VYXZEB_UnInit(void);

/* Library version 2.2.0.0 into the four outputs.  Works in any state.
 * 0, or -1009 if any pointer is null (nothing written then). */
VYXZEB_API int VYXZEB_GetLibVersion(int* pnMajor, int* pnMinor, int* pnThird, int* pnFourth);

/* Number of camera sets (1 as shipped).  A null pointer is accepted and
 * nothing is written.  0 or -1002. */
VYXZEB_API int VYXZEB_GetSensorNum(int* pnNum);

/* Sensor type of camera set nIndex.  0, -1002, -1026 (no set), -1025 (no
 * sensor object).  A null pointer is accepted and nothing is written. */
VYXZEB_API int VYXZEB_GetSensorType(int nIndex, VYXZEB_SENSOR_TYPE* pType);

/* Information from the PL version word of the set: *pnKind = top byte - 1
 * (0 when the top byte is 0), *pnVersion = the whole word.
 * 0, -1002, -1009 (null pointer), -1026. */
VYXZEB_API int VYXZEB_GetDeviceInformation(int nIndex, int* pnKind, int* pnVersion);

/* Switches the diagnostic log on (a new file VYXLog_YYYYMMDD(hhmmss).txt in
 * pszFolder, or in "VYXLog" beside the executable when pszFolder is null or
 * empty) or off.  Works in any state.  0 on success, 1 on failure (folder
 * cannot be created; switching off with no log open). */
VYXZEB_API int VYXZEB_LogSet(bool bEnable, const char* pszFolder);

/* Whether the log is on and, when on and pszFolder is not null, the full path
 * of the log file (pszFolder must hold 128 bytes).  Always 0. */
VYXZEB_API int VYXZEB_LogGet(bool* pbEnable, char* pszFolder);

/* ---- Sensor settings (all: 0, -1002, -1026 no set, -1025 no sensor or SPI
 *      failure; a null output is skipped: nothing is written there and the
 *      call returns 0) -------------------------------------------------- */

/* Limits of the field of view in sensor pixels, in this order: smallest
 * width, smallest height, largest width, largest height (16, 1, 1280, 1024
 * for the Q210B). */
VYXZEB_API int VYXZEB_GetCaptureFieldOfViewRange(int nIndex, unsigned long* pulMinWidth,
                                                 unsigned long* pulMinHeight, unsigned long* pulMaxWidth,
                                                 unsigned long* pulMaxHeight);
/* Sets the sensor window (clamped and aligned by the sensor) and resizes the
 * PL's frames to match.  A window that gives an empty frame with the current
 * address mode is refused with -1009 and the previous window stays.  A
 * multi-frame count that no longer fits one frame buffer is reduced to the
 * largest that fits (and logged). */
VYXZEB_API int VYXZEB_SetCaptureFieldOfView(int nIndex, unsigned long ulX, unsigned long ulY,
                                            unsigned long ulWidth, unsigned long ulHeight);
VYXZEB_API int VYXZEB_GetCaptureFieldOfView(int nIndex, unsigned long* pulX, unsigned long* pulY,
                                            unsigned long* pulWidth, unsigned long* pulHeight);
/* Sets row and column address mode together (binning/skipping); the frame
 * size shrinks by the mode's divisor.  A value outside the sensor's modes
 * 0..4 changes nothing and returns 0.  A mode that would give an empty frame
 * with the current window is refused with -1009 and the previous mode stays;
 * the multi-frame count is kept inside one frame buffer as above. */
VYXZEB_API int VYXZEB_SetAddressMode(int nIndex, VYX_ADDRESSMODE eMode);
VYXZEB_API int VYXZEB_GetAddressMode(int nIndex, VYX_ADDRESSMODE* peMode);
/* Size of the delivered frames: width and height in pixels, bits per pixel
 * (8).  Rows are padded to a multiple of 4 bytes. */
VYXZEB_API int VYXZEB_GetCaptureSize(int nIndex, int* pnWidth, int* pnHeight, int* pnBitCount);
/* Analogue gain, in the sensor's gain steps. */
VYXZEB_API int VYXZEB_GetGainRange(int nIndex, unsigned long* pulMin, unsigned long* pulMax);
VYXZEB_API int VYXZEB_SetGain(int nIndex, unsigned long ulGain);
VYXZEB_API int VYXZEB_GetGain(int nIndex, unsigned long* pulGain);
/* Exposure in sensor lines. */
VYXZEB_API int VYXZEB_GetExposureLinesRange(int nIndex, unsigned long* pulMin, unsigned long* pulMax);
VYXZEB_API int VYXZEB_SetExposureLines(int nIndex, unsigned long ulLines);
VYXZEB_API int VYXZEB_GetExposureLines(int nIndex, unsigned long* pulLines);
/* Exposure in milliseconds.  Times beyond the range are limited to it;
 * a negative, infinite or not-a-number time is refused with -1009. */
VYXZEB_API int VYXZEB_GetExposureTimeRange(int nIndex, float* pfMin, float* pfMax);
VYXZEB_API int VYXZEB_SetExposureTime(int nIndex, float fMilliseconds);
VYXZEB_API int VYXZEB_GetExposureTime(int nIndex, float* pfMilliseconds);
/* Horizontal mirror and vertical flip of the sensor readout. */
VYXZEB_API int VYXZEB_SetMirror(int nIndex, bool bMirror);
VYXZEB_API int VYXZEB_GetMirror(int nIndex, bool* pbMirror);
VYXZEB_API int VYXZEB_SetFlip(int nIndex, bool bFlip);
VYXZEB_API int VYXZEB_GetFlip(int nIndex, bool* pbFlip);

/* ---- Acquisition -------------------------------------------------------- */

/* How long VYXZEB_CaptureData waits for a frame, in milliseconds (8000 at
 * start).  0, -1002, -1026. */
VYXZEB_API int VYXZEB_CaptureSetTimeOut(int nIndex, unsigned long ulMilliseconds);

/* Waits for the next frame and stores a pointer into the set's frame buffer
 * in *ppFrame (no copy).  The frame stays valid until VYXZEB_ReleaseBuffer.
 * In software-trigger mode the call fires the trigger itself and returns the
 * frame of that trigger: frames of triggers whose captures gave up earlier
 * are given back to the PL, never handed out (they are waited for first).
 * The time-out counts from the call, on the real-time clock: setting the
 * system time moves the deadline.  A capture that starts while the trigger
 * mode changes or the buffers are emptied waits for that to finish, then for
 * a frame.  0; -1011 with *ppFrame null when no frame came in time, a signal
 * ended the wait, or a trigger-mode change or an emptying of the buffers
 * began while it waited (then at once, whatever the time-out); -1027
 * software trigger while acquisition is stopped; -1002, -1026, -1009 (null
 * ppFrame). */
VYXZEB_API int VYXZEB_CaptureData(int nIndex, unsigned char** ppFrame);

/* Hands one frame back to the PL, which frees its oldest filled buffer
 * first: with several frames held, release them in the order they were
 * captured.  0, -1002, -1006, -1023. */
VYXZEB_API int VYXZEB_ReleaseBuffer(int nIndex);

/* Stops acquisition and clears the PL's frame buffers (restart with
 * VYXZEB_SetTriggerMode): the frames captured or announced so far are gone,
 * and a capture waiting in another thread returns -1011.  Blocks about
 * 100 ms.  0, -1002, -1026, -1023. */
VYXZEB_API int VYXZEB_EmptyFrameBuffer(int nIndex);

/* Trigger mode.  Setting it stops acquisition, empties the buffers, wakes
 * every waiting VYXZEB_CaptureData with -1011 and restarts acquisition; it
 * blocks about 100 ms.  A mode outside 0..5 is refused (-1009) before
 * anything changes.  0, -1002, -1006, -1009 (bad mode or null), -1023. */
VYXZEB_API int VYXZEB_GetTriggerMode(int nIndex, VYXZEB_TRIGGER_MODE* peMode);
VYXZEB_API int VYXZEB_SetTriggerMode(int nIndex, VYXZEB_TRIGGER_MODE eMode);

/* Stores a callback with the set; the current firmware never calls it.
 * 0, -1002, -1026. */
VYXZEB_API int VYXZEB_SetTriggerCallback(int nIndex, VYXZEB_TRIGGER_CALLBACK pfnCallback);

/* External-trigger delay in PL units.  The range reported is 0..65535; a
 * larger value is written to the PL as given and read back as such.  A null
 * output of the getters is skipped (nothing written, 0 returned).
 * 0, -1002, -1006/-1026, -1023. */
VYXZEB_API int VYXZEB_GetTriggerDelayRange(int nIndex, unsigned long* pulMin, unsigned long* pulMax);
VYXZEB_API int VYXZEB_GetTriggerDelay(int nIndex, unsigned long* pulDelay);
VYXZEB_API int VYXZEB_SetTriggerDelay(int nIndex, unsigned long ulDelay);

/* Fixed frame rate in frames per second (0 = off: the sensor's own rate).
 * 0, -1002, -1009 (null), -1026, -1023. */
VYXZEB_API int VYXZEB_GetFixFrameRate(int nIndex, unsigned long* pulFps);
VYXZEB_API int VYXZEB_SetFixFrameRate(int nIndex, unsigned long ulFps);

/* Frames stored per frame buffer; 1 up to 10 MiB / frame bytes.
 * 0, -1002, -1009 (null, 0 or too many), -1001 (zero-byte frames), -1026, -1023. */
VYXZEB_API int VYXZEB_GetMultiFrameRange(int nIndex, unsigned long* pulMin, unsigned long* pulMax);
VYXZEB_API int VYXZEB_GetMultiFrame(int nIndex, unsigned long* pulCount);
VYXZEB_API int VYXZEB_SetMultiFrame(int nIndex, unsigned long ulCount);

/* External-trigger filter in PL units (0..65535).  0, -1002, -1009, -1026, -1023. */
VYXZEB_API int VYXZEB_GetTriggerFilterRange(int nIndex, unsigned short* pusMin, unsigned short* pusMax);
VYXZEB_API int VYXZEB_GetTriggerFilter(int nIndex, unsigned short* pusFilter);
VYXZEB_API int VYXZEB_SetTriggerFilter(int nIndex, unsigned short usFilter);

/* Raw access to the PL's FPGA control registers (byte offsets 0..152, multiples
 * of 4).  A null pulValue is skipped (nothing read into it, 0 returned).
 * 0, -1002, -1026, -1023 (bad offset or block unavailable). */
VYXZEB_API int VYXZEB_RdRegFPGA(int nIndex, unsigned short usOffset, unsigned long* pulValue);
VYXZEB_API int VYXZEB_WrRegFPGA(int nIndex, unsigned short usOffset, unsigned long ulValue);

/* ---- Display and user memory ------------------------------------------- */

/* Video widget: the rectangle of the 1280 x 720 HDMI screen used for showing
 * (clamped to the screen, multiples of 4).  Takes effect at the next show.
 * 0, -1002, -1026. */
VYXZEB_API int VYXZEB_SetVideoWidgetPos(int nIndex, unsigned int unX, unsigned int unY,
                                        unsigned int unWidth, unsigned int unHeight);
/* Placement of the image relative to the widget and the size it is scaled
 * to (multiples of 4; may lie partly outside the widget).  0, -1002, -1026. */
VYXZEB_API int VYXZEB_SetPosition(int nIndex, int nX, int nY, unsigned int unWidth, unsigned int unHeight);

/* Shows a frame returned by VYXZEB_CaptureData on HDMI.  0, -1002, -1026,
 * -1001 (not a frame pointer), -1025. */
VYXZEB_API int VYXZEB_ShowCaptureData(int nIndex, unsigned char* pFrame);

/* Takes one 8 MiB block of physically contiguous memory (any size up to
 * 8 MiB).  0, -1002, -1001 (too large or none free), -1009 (null ppBlock).
 * Serialise with VYXZEB_Free. */
VYXZEB_API int VYXZEB_Malloc(unsigned long ulSize, unsigned char** ppBlock);

/* Gives a block back and sets *ppBlock to null.  0, -1002, -1013 (no block),
 * -1001 (not a block, or a block already given back: nothing changes). */
VYXZEB_API int VYXZEB_Free(unsigned char** ppBlock);

/* Shows an image held in a block from VYXZEB_Malloc: width x height pixels,
 * 8 (grey) or 24 (BGR) bits per pixel, rows of width x bits / 8 bytes.
 * 0, -1002, -1026, -1001 (not a block start), -1009 (another depth, or an
 * image larger than its block). */
VYXZEB_API int VYXZEB_ShowUserLoadData(int nIndex, unsigned char* pBlock, unsigned int unWidth,
                                       unsigned int unHeight, unsigned int unBitCount);

/* ---- GPIO and flash ----------------------------------------------------- */

/* Number of GPIO pins (8).  0, -1002, -1009. */
VYXZEB_API int VYXZEB_GpioGetNum(unsigned short* pusNum);
/* Direction mask: bit i set = pin i is an output (0xF8: pins 0-2 in, 3-7 out).
 * 0, -1002, -1009. */
VYXZEB_API int VYXZEB_GpioGetDirection(unsigned short* pusMask);
/* Directions are fixed by the board: always -1014, in any state. */
VYXZEB_API int VYXZEB_GpioSetDirection(unsigned short usMask);
/* One line's level.  The driver has lines 0..9: 3..9 can be set and 0..9
 * read (lines 8 and 9 lie beyond the eight pins VYXZEB_GpioGetNum counts).
 * 0, -1002, -1009 (null level), -1010 (no device, another line, driver
 * refused). */
VYXZEB_API int VYXZEB_GpioSet(unsigned int unPin, bool bLevel);
VYXZEB_API int VYXZEB_GpioGet(unsigned int unPin, bool* pbLevel);
/* All pins at once: bit i = pin i.  Reading stops at the first failing pin
 * (the bits read so far stay in *pusLevels); setting writes pins 3..7 and
 * stops at the first failure.  0, -1002, -1009, -1010. */
VYXZEB_API int VYXZEB_GpioGetStatus(unsigned short* pusLevels);
VYXZEB_API int VYXZEB_GpioSetStatus(unsigned short usLevels);

/* Sensor flash (strobe) output: enable and polarity.  0, -1002, -1009 (null),
 * -1026, -1025. */
VYXZEB_API int VYXZEB_FlashSetEnable(int nIndex, bool bEnable);
VYXZEB_API int VYXZEB_FlashGetEnable(int nIndex, bool* pbEnable);
VYXZEB_API int VYXZEB_FlashSetInvert(int nIndex, bool bInvert);
VYXZEB_API int VYXZEB_FlashGetInvert(int nIndex, bool* pbInvert);

/* ---- Files -------------------------------------------------------------- */

/* Writes an image as a BMP file under "/picture/sd/" or "/picture/data/".
 * pData holds the rows top to bottom, each padded to a multiple of 4 bytes;
 * nBitCount is 8 (grey palette), 24 or 32.  The file appears complete or not
 * at all.  0, -1002, -1009 (bad argument, path outside the folders, with a
 * ".." component or through a folder that is a symbolic link), -1001 (folder
 * missing, disk full, write failed). */
VYXZEB_API int VYXZEB_HelperSaveToBmp(unsigned char* pData, int nWidth, int nHeight, int nBitCount,
                                      const char* pszFileName);

#ifdef __cplusplus
} /* extern "C" */

/* Exported under their C++ names. */

/* Frame-buffer number of the PL (0..3).  0, -1002, -1009 (null or above 3),
 * -1026, -1023. */
VYXZEB_API int VYXZEB_GetFrameBufNum(int nIndex, unsigned long* pulNumber);
VYXZEB_API int VYXZEB_SetFrameBufNum(int nIndex, unsigned long ulNumber);

/* Placement set by VYXZEB_SetPosition.  Null outputs are skipped.
 * 0, -1002, -1026. */
VYXZEB_API int VYXZEB_GetPosition(int nIndex, int* pnX, int* pnY, unsigned int* punWidth,
                                  unsigned int* punHeight);
#endif

#endif /* VYXZEBAPI_H */
