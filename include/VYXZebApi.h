/**
 * @file VYXZebApi.h
 * @brief Public interface of libvyxzeb, the SDK of the VYX smart camera.
 *
 * The camera is an ARMv7-A board whose programmable logic (PL) receives
 * 1280 x 1024 8-bit grey frames from the image sensor, stores them in four
 * frame buffers of reserved physical memory and can scale them onto a
 * 1280 x 720 HDMI output.
 *
 * Every function returns an int: #VYXZEB_RET_SUCCESS (0) or one of the
 * negative VYXZEB_RET_ codes below (VYXZebRet.h gives their names and texts
 * at run time); outputs travel through pointer arguments.  Every function
 * that needs the device returns #VYXZEB_RET_NOT_INITIALIZED before it looks
 * at any argument while the library is not initialised.  Sensor settings out
 * of range are clamped or aligned by the sensor and return success: read
 * back the value in force.
 *
 * Threads: VYXZEB_Init() and VYXZEB_UnInit() must not run while any other
 * call is in progress; VYXZEB_Malloc() and VYXZEB_Free() must be serialised
 * among themselves; other calls may come from several threads.  One thread
 * per camera set captures and releases frames: two threads capturing from
 * one set can be handed the same buffer, and VYXZEB_ReleaseBuffer() frees
 * the oldest frame the set handed out, which may be the other thread's.  A
 * thread blocked in VYXZEB_CaptureData() is woken by VYXZEB_SetTriggerMode()
 * or VYXZEB_EmptyFrameBuffer() from another thread; a signal it handles does
 * not end the wait before its time-out.
 *
 * Processes: frames are announced by a thread the library starts in
 * VYXZEB_Init().  A child made by fork() has no such thread and cannot
 * capture (its captures end with #VYXZEB_RET_CAPTURE_TIMEOUT); a program the
 * child execs calls VYXZEB_Init() itself.  No descriptor of the library
 * survives an exec.
 *
 * Usable from C and C++.  Three functions (VYXZEB_GetFrameBufNum(),
 * VYXZEB_SetFrameBufNum(), VYXZEB_GetPosition()) are exported under C++
 * names and are therefore declared for C++ only.
 *
 * The user's guide (docs/guide.md in the source tree) explains frame
 * ownership, units, clamping, trigger modes, GPIO lines and how to run an
 * application on the virtual board.
 */
#ifndef VYXZEBAPI_H
#define VYXZEBAPI_H

#ifndef __cplusplus
#include <stdbool.h>
#endif

/** @cond INTERNAL */
#if defined(VYX_BUILDING_SDK)
#define VYXZEB_API __attribute__((visibility("default")))
#else
#define VYXZEB_API
#endif
/** @endcond */

/** @name Return codes
 *  @{ */
#define VYXZEB_RET_SUCCESS                0       /**< success */
#define VYXZEB_RET_FAILED                 (-1001) /**< device, pool, file or system failure; see the log */
#define VYXZEB_RET_NOT_INITIALIZED        (-1002) /**< VYXZEB_Init() has not succeeded */
#define VYXZEB_RET_SENSOR_NOT_SUPPORTED   (-1003) /**< the sensor does not implement the operation */
#define VYXZEB_RET_ALREADY_INITIALIZED    (-1004) /**< VYXZEB_Init() while initialised */
#define VYXZEB_RET_BAD_SENSOR_REGISTER    (-1005) /**< sensor register without a shadow copy */
#define VYXZEB_RET_PL_UNAVAILABLE         (-1006) /**< camera set without programmable logic */
#define VYXZEB_RET_BAD_PARAMETER          (-1009) /**< null output pointer or value out of range */
#define VYXZEB_RET_GPIO_FAILED            (-1010) /**< no GPIO device, bad line number or failed request */
#define VYXZEB_RET_CAPTURE_TIMEOUT        (-1011) /**< no frame in time (buffers held?) or a mode change */
#define VYXZEB_RET_NULL_BUFFER            (-1013) /**< VYXZEB_Free() without a block */
#define VYXZEB_RET_NOT_SUPPORTED          (-1014) /**< operation not available */
#define VYXZEB_RET_SCALER_UNMAPPED        (-1015) /**< video scaler registers not mapped */
#define VYXZEB_RET_REGISTER_ACCESS_FAILED (-1023) /**< PL register block unavailable or bad offset */
#define VYXZEB_RET_SENSOR_FAILED          (-1025) /**< no sensor object, or a sensor transfer failed */
#define VYXZEB_RET_SET_UNAVAILABLE        (-1026) /**< no camera set at the index */
#define VYXZEB_RET_CAPTURE_NOT_STARTED    (-1027) /**< software trigger while acquisition is stopped */
/** @} */

/* ---- Enumerations ------------------------------------------------------- */

/** Trigger modes of the PL. */
typedef enum {
    /** the PL acquires frames on its own frame clock */
    VYXZEB_TRIGGER_CONTINUOUS = 0,
    /** one frame per VYXZEB_CaptureData(), which fires the trigger (start-up mode) */
    VYXZEB_TRIGGER_SOFTWARE = 1,
    /** external trigger input, trigger type 2 (virtual board: both edges) */
    VYXZEB_TRIGGER_EXTERNAL_TYPE2 = 2,
    /** external trigger input, trigger type 3 (virtual board: high level) */
    VYXZEB_TRIGGER_EXTERNAL_TYPE3 = 3,
    /** external trigger input, trigger type 0 (virtual board: rising edge) */
    VYXZEB_TRIGGER_EXTERNAL_TYPE0 = 4,
    /** external trigger input, trigger type 1 (virtual board: falling edge) */
    VYXZEB_TRIGGER_EXTERNAL_TYPE1 = 5
} VYXZEB_TRIGGER_MODE;

/** Row and column address modes: how many sensor rows/columns make one
 *  output row/column. */
typedef enum {
    VYX_ADDRESSMODE_NORMAL = 0, /**< full resolution */
    VYX_ADDRESSMODE_DIV2 = 1,   /**< 1/2 */
    VYX_ADDRESSMODE_DIV3 = 2,   /**< 1/3 */
    VYX_ADDRESSMODE_DIV4 = 3,   /**< 1/4 */
    VYX_ADDRESSMODE_DIV8 = 4    /**< 1/8 */
} VYX_ADDRESSMODE;

/** Sensor types; also the index of the sensor plug-in to load. */
typedef enum {
    VYXZEB_SENSOR_V880A = 0, /**< plug-in /usr/lib/libvyxSensorV880A.so (not part of this SDK) */
    VYXZEB_SENSOR_Q210B = 1  /**< plug-in /usr/lib/libvyxSensorQ210B.so */
} VYXZEB_SENSOR_TYPE;

/** Trigger callback, stored per camera set by VYXZEB_SetTriggerCallback().
 *  Arguments: frame, width, height, bits per pixel, user context.  Nothing
 *  in the library or the PL calls it. */
typedef void (*VYXZEB_TRIGGER_CALLBACK)(unsigned char* pFrame, int nWidth, int nHeight,
                                        int nBitCount, void* pContext);

#ifdef __cplusplus
extern "C" {
#endif

/** @name Life cycle and identification
 *  @{ */

/** Opens the camera: SPI bus, camera sets (sensor plug-in, PL), GPIO,
 *  physical memory pool and the capture interrupt thread.  Takes over one
 *  second (the PL settles after start-up).
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_ALREADY_INITIALIZED;
 *  #VYXZEB_RET_FAILED when any step failed (the log names it; nothing is
 *  left open).  On a PC without the virtual board this is the result, and
 *  nothing is printed. */
VYXZEB_API int VYXZEB_Init(void);

/** Closes the camera and releases everything VYXZEB_Init() built.  Frame and
 *  pool pointers become invalid.
 *  @return #VYXZEB_RET_SUCCESS or #VYXZEB_RET_NOT_INITIALIZED. */
VYXZEB_API int VYXZEB_UnInit(void);

/** Library version 2.2.0.0 into the four outputs.  Works in any state.
 *  @return #VYXZEB_RET_SUCCESS, or #VYXZEB_RET_BAD_PARAMETER if any pointer
 *  is null (nothing written then). */
VYXZEB_API int VYXZEB_GetLibVersion(int* pnMajor, int* pnMinor, int* pnThird, int* pnFourth);

/** Number of camera sets (1 as shipped).  A null pointer is accepted and
 *  nothing is written.
 *  @return #VYXZEB_RET_SUCCESS or #VYXZEB_RET_NOT_INITIALIZED. */
VYXZEB_API int VYXZEB_GetSensorNum(int* pnNum);

/** Sensor type of camera set nIndex.  A null pointer is accepted and
 *  nothing is written.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_SET_UNAVAILABLE (no set); #VYXZEB_RET_SENSOR_FAILED (no
 *  sensor object). */
VYXZEB_API int VYXZEB_GetSensorType(int nIndex, VYXZEB_SENSOR_TYPE* pType);

/** Information from the PL version word of the set: *pnKind = top byte - 1
 *  (0 when the top byte is 0), *pnVersion = the whole word.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_BAD_PARAMETER (null pointer); #VYXZEB_RET_SET_UNAVAILABLE. */
VYXZEB_API int VYXZEB_GetDeviceInformation(int nIndex, int* pnKind, int* pnVersion);

/** Switches the diagnostic log on (a new file VYXLog_YYYYMMDD(hhmmss).txt in
 *  pszFolder, or in "VYXLog" beside the executable when pszFolder is null or
 *  empty) or off.  Works in any state.
 *  @return 0 on success, 1 on failure (the folder or the log file cannot be
 *  created: the log stays off; switching off with no log open). */
VYXZEB_API int VYXZEB_LogSet(bool bEnable, const char* pszFolder);

/** Whether the log is on and, when on and pszFolder is not null, the full
 *  path of the log file (pszFolder must hold 128 bytes).
 *  @return always 0. */
VYXZEB_API int VYXZEB_LogGet(bool* pbEnable, char* pszFolder);

/** @} */

/** @name Sensor settings
 *  Values out of range are clamped and aligned by the sensor, never refused:
 *  read back the value in force.  All of these return #VYXZEB_RET_SUCCESS,
 *  #VYXZEB_RET_NOT_INITIALIZED, #VYXZEB_RET_SET_UNAVAILABLE (no set at
 *  nIndex) or #VYXZEB_RET_SENSOR_FAILED (no sensor object or an SPI
 *  transfer failed).  A null output is skipped: nothing is written there and
 *  the call returns #VYXZEB_RET_SUCCESS.
 *  @{ */

/** Limits of the field of view in sensor pixels, in this order: smallest
 *  width, smallest height, largest width, largest height (16, 1, 1280, 1024
 *  for the Q210B). */
VYXZEB_API int VYXZEB_GetCaptureFieldOfViewRange(int nIndex, unsigned long* pulMinWidth,
                                                 unsigned long* pulMinHeight, unsigned long* pulMaxWidth,
                                                 unsigned long* pulMaxHeight);
/** Sets the sensor window: first column, first row, width, height in sensor
 *  pixels.  The width becomes 16 to 1280, rounded down to a multiple of 8;
 *  the height 1 to 1024; a window past the edge moves inside; the first
 *  column is rounded down to a multiple of 8 (1 to 7 moves the window to the
 *  right edge).  The PL's frames are resized to match.  A window that gives
 *  an empty frame with the current address mode is refused with
 *  #VYXZEB_RET_BAD_PARAMETER and the previous window stays.  A multi-frame
 *  count that no longer fits one frame buffer is reduced to the largest that
 *  fits (and logged). */
VYXZEB_API int VYXZEB_SetCaptureFieldOfView(int nIndex, unsigned long ulX, unsigned long ulY,
                                            unsigned long ulWidth, unsigned long ulHeight);
/** The sensor window in force: first column, first row, width, height. */
VYXZEB_API int VYXZEB_GetCaptureFieldOfView(int nIndex, unsigned long* pulX, unsigned long* pulY,
                                            unsigned long* pulWidth, unsigned long* pulHeight);
/** Sets row and column address mode together (binning/skipping); the frame
 *  size shrinks by the mode's divisor and the PL's frames follow.  A value
 *  outside the sensor's modes 0 to 4 changes nothing and returns
 *  #VYXZEB_RET_SUCCESS.  A mode that would give an empty frame with the
 *  current window is refused with #VYXZEB_RET_BAD_PARAMETER and the previous
 *  mode stays; the multi-frame count is kept inside one frame buffer as for
 *  VYXZEB_SetCaptureFieldOfView(). */
VYXZEB_API int VYXZEB_SetAddressMode(int nIndex, VYX_ADDRESSMODE eMode);
/** The row address mode in force. */
VYXZEB_API int VYXZEB_GetAddressMode(int nIndex, VYX_ADDRESSMODE* peMode);
/** Size of the delivered frames: width (rounded down to a multiple of 8) and
 *  height in pixels, bits per pixel (8).  Rows are padded to a multiple of
 *  4 bytes. */
VYXZEB_API int VYXZEB_GetCaptureSize(int nIndex, int* pnWidth, int* pnHeight, int* pnBitCount);
/** Range of the analogue gain code: 0 to 255. */
VYXZEB_API int VYXZEB_GetGainRange(int nIndex, unsigned long* pulMin, unsigned long* pulMax);
/** Sets the analogue gain code (0 to 255; larger values give 255). */
VYXZEB_API int VYXZEB_SetGain(int nIndex, unsigned long ulGain);
/** The gain code in force. */
VYXZEB_API int VYXZEB_GetGain(int nIndex, unsigned long* pulGain);
/** Range of the exposure in sensor lines: 0 to 65534. */
VYXZEB_API int VYXZEB_GetExposureLinesRange(int nIndex, unsigned long* pulMin, unsigned long* pulMax);
/** Sets the exposure in sensor lines (larger values give 65534).  A line
 *  lasts the sensor's line length, which follows the field of view. */
VYXZEB_API int VYXZEB_SetExposureLines(int nIndex, unsigned long ulLines);
/** The exposure in force, in sensor lines. */
VYXZEB_API int VYXZEB_GetExposureLines(int nIndex, unsigned long* pulLines);
/** Range of the exposure time in milliseconds: 0 to the time of 65534 lines
 *  (188.6 ms at the full 1280-column width). */
VYXZEB_API int VYXZEB_GetExposureTimeRange(int nIndex, float* pfMin, float* pfMax);
/** Sets the exposure time in milliseconds; converted to whole lines, so a
 *  time too long gives 65534 lines.  A negative, infinite or not-a-number
 *  time is refused with #VYXZEB_RET_BAD_PARAMETER. */
VYXZEB_API int VYXZEB_SetExposureTime(int nIndex, float fMilliseconds);
/** The exposure time in force, in milliseconds (recomputed when the exposure
 *  changes, not when the field of view changes). */
VYXZEB_API int VYXZEB_GetExposureTime(int nIndex, float* pfMilliseconds);
/** Horizontal mirror of the sensor readout. */
VYXZEB_API int VYXZEB_SetMirror(int nIndex, bool bMirror);
/** Whether the readout is mirrored. */
VYXZEB_API int VYXZEB_GetMirror(int nIndex, bool* pbMirror);
/** Vertical flip of the sensor readout. */
VYXZEB_API int VYXZEB_SetFlip(int nIndex, bool bFlip);
/** Whether the readout is flipped. */
VYXZEB_API int VYXZEB_GetFlip(int nIndex, bool* pbFlip);

/** @} */

/** @name Acquisition
 *  @{ */

/** How long VYXZEB_CaptureData() waits for a frame, in milliseconds (8000
 *  at start; 0: do not wait).
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_SET_UNAVAILABLE. */
VYXZEB_API int VYXZEB_CaptureSetTimeOut(int nIndex, unsigned long ulMilliseconds);

/** Waits for the next frame and stores a pointer into the set's frame
 *  buffer in *ppFrame (no copy).  The buffer is the caller's until
 *  VYXZEB_ReleaseBuffer(); with all four buffers held no frame can come and
 *  the call times out.  In software-trigger mode the call fires the trigger
 *  itself and returns the frame of that trigger: frames of triggers whose
 *  captures gave up earlier are given back to the PL, never handed out
 *  (they are waited for first).  The time-out counts from the call, on the
 *  real-time clock: setting the system time moves the deadline.  A capture
 *  that starts while the trigger mode changes or the buffers are emptied
 *  waits for that to finish, then for a frame.  A signal handled meanwhile
 *  does not shorten the wait.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_CAPTURE_TIMEOUT with *ppFrame
 *  null when no frame came in time, or a trigger-mode change or an emptying
 *  of the buffers began while it waited (then at once, whatever the
 *  time-out); #VYXZEB_RET_CAPTURE_NOT_STARTED (software trigger while
 *  acquisition is stopped); #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_SET_UNAVAILABLE; #VYXZEB_RET_BAD_PARAMETER (null ppFrame). */
VYXZEB_API int VYXZEB_CaptureData(int nIndex, unsigned char** ppFrame);

/** Hands one frame back to the PL, which frees its oldest filled buffer
 *  first: with several frames held, release them in the order they were
 *  captured.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_PL_UNAVAILABLE; #VYXZEB_RET_REGISTER_ACCESS_FAILED. */
VYXZEB_API int VYXZEB_ReleaseBuffer(int nIndex);

/** Stops acquisition and clears the PL's frame buffers (restart with
 *  VYXZEB_SetTriggerMode()): the frames captured or announced so far are
 *  gone, and a capture waiting in another thread returns
 *  #VYXZEB_RET_CAPTURE_TIMEOUT.  Blocks about 100 ms.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_SET_UNAVAILABLE; #VYXZEB_RET_REGISTER_ACCESS_FAILED. */
VYXZEB_API int VYXZEB_EmptyFrameBuffer(int nIndex);

/** The trigger mode in force.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_PL_UNAVAILABLE; #VYXZEB_RET_BAD_PARAMETER (null);
 *  #VYXZEB_RET_REGISTER_ACCESS_FAILED. */
VYXZEB_API int VYXZEB_GetTriggerMode(int nIndex, VYXZEB_TRIGGER_MODE* peMode);
/** Sets the trigger mode: stops acquisition, empties the buffers, wakes
 *  every waiting VYXZEB_CaptureData() with #VYXZEB_RET_CAPTURE_TIMEOUT and
 *  restarts acquisition; blocks about 100 ms.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_PL_UNAVAILABLE; #VYXZEB_RET_BAD_PARAMETER (mode outside 0 to
 *  5, refused before anything changes); #VYXZEB_RET_REGISTER_ACCESS_FAILED. */
VYXZEB_API int VYXZEB_SetTriggerMode(int nIndex, VYXZEB_TRIGGER_MODE eMode);

/** Stores a callback with the set; nothing calls it.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_SET_UNAVAILABLE. */
VYXZEB_API int VYXZEB_SetTriggerCallback(int nIndex, VYXZEB_TRIGGER_CALLBACK pfnCallback);

/** Range of the external-trigger delay: 0 to 65535 PL units (microseconds
 *  on the virtual board).  A larger delay is written to the PL as given and
 *  read back as such.  A null output of the getters is skipped (nothing
 *  written, #VYXZEB_RET_SUCCESS returned).
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_PL_UNAVAILABLE or #VYXZEB_RET_SET_UNAVAILABLE;
 *  #VYXZEB_RET_REGISTER_ACCESS_FAILED. */
VYXZEB_API int VYXZEB_GetTriggerDelayRange(int nIndex, unsigned long* pulMin, unsigned long* pulMax);
/** The external-trigger delay in force.  Results as for
 *  VYXZEB_GetTriggerDelayRange(). */
VYXZEB_API int VYXZEB_GetTriggerDelay(int nIndex, unsigned long* pulDelay);
/** Sets the external-trigger delay (PL units).  Results as for
 *  VYXZEB_GetTriggerDelayRange(). */
VYXZEB_API int VYXZEB_SetTriggerDelay(int nIndex, unsigned long ulDelay);

/** Fixed frame rate in frames per second (0 = off: the sensor's own rate).
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_BAD_PARAMETER (null); #VYXZEB_RET_SET_UNAVAILABLE;
 *  #VYXZEB_RET_REGISTER_ACCESS_FAILED. */
VYXZEB_API int VYXZEB_GetFixFrameRate(int nIndex, unsigned long* pulFps);
/** Sets a fixed frame rate in frames per second for continuous mode (0 =
 *  off).  Same results as VYXZEB_GetFixFrameRate(). */
VYXZEB_API int VYXZEB_SetFixFrameRate(int nIndex, unsigned long ulFps);

/** Range of frames stored per frame buffer: 1 up to 10 MiB / frame bytes.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_BAD_PARAMETER (null); #VYXZEB_RET_FAILED (zero-byte frames);
 *  #VYXZEB_RET_SET_UNAVAILABLE. */
VYXZEB_API int VYXZEB_GetMultiFrameRange(int nIndex, unsigned long* pulMin, unsigned long* pulMax);
/** Frames stored per frame buffer.  Results as for
 *  VYXZEB_GetMultiFrameRange(). */
VYXZEB_API int VYXZEB_GetMultiFrame(int nIndex, unsigned long* pulCount);
/** Sets the frames stored per frame buffer.  Results as for
 *  VYXZEB_GetMultiFrameRange(), with #VYXZEB_RET_BAD_PARAMETER also for 0
 *  or too many, and #VYXZEB_RET_REGISTER_ACCESS_FAILED. */
VYXZEB_API int VYXZEB_SetMultiFrame(int nIndex, unsigned long ulCount);

/** Range of the external-trigger filter: 0 to 65535 PL units (microseconds
 *  on the virtual board), for any index.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_BAD_PARAMETER (null). */
VYXZEB_API int VYXZEB_GetTriggerFilterRange(int nIndex, unsigned short* pusMin, unsigned short* pusMax);
/** The external-trigger filter in force.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_BAD_PARAMETER (null); #VYXZEB_RET_SET_UNAVAILABLE. */
VYXZEB_API int VYXZEB_GetTriggerFilter(int nIndex, unsigned short* pusFilter);
/** Sets the external-trigger filter (PL units).
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_SET_UNAVAILABLE; #VYXZEB_RET_REGISTER_ACCESS_FAILED. */
VYXZEB_API int VYXZEB_SetTriggerFilter(int nIndex, unsigned short usFilter);

/** Reads one of the PL's FPGA control registers (byte offsets 0 to 152,
 *  multiples of 4).  A null pulValue is skipped (nothing read into it,
 *  #VYXZEB_RET_SUCCESS returned).
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_SET_UNAVAILABLE; #VYXZEB_RET_REGISTER_ACCESS_FAILED (bad
 *  offset or block unavailable). */
VYXZEB_API int VYXZEB_RdRegFPGA(int nIndex, unsigned short usOffset, unsigned long* pulValue);
/** Writes one of the PL's FPGA control registers.  Results as for
 *  VYXZEB_RdRegFPGA(). */
VYXZEB_API int VYXZEB_WrRegFPGA(int nIndex, unsigned short usOffset, unsigned long ulValue);

/** @} */

/** @name Display and user memory
 *  @{ */

/** Video widget: the rectangle of the 1280 x 720 HDMI screen used for
 *  showing (clamped to the screen, multiples of 4).  Takes effect at the
 *  next show.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_SET_UNAVAILABLE. */
VYXZEB_API int VYXZEB_SetVideoWidgetPos(int nIndex, unsigned int unX, unsigned int unY,
                                        unsigned int unWidth, unsigned int unHeight);
/** Placement of the image relative to the widget and the size it is scaled
 *  to (multiples of 4; may lie partly outside the widget).  Results as for
 *  VYXZEB_SetVideoWidgetPos(). */
VYXZEB_API int VYXZEB_SetPosition(int nIndex, int nX, int nY, unsigned int unWidth, unsigned int unHeight);

/** Shows a frame returned by VYXZEB_CaptureData() (and not yet released) on
 *  HDMI.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_SET_UNAVAILABLE; #VYXZEB_RET_FAILED (not a frame pointer);
 *  #VYXZEB_RET_SENSOR_FAILED. */
VYXZEB_API int VYXZEB_ShowCaptureData(int nIndex, unsigned char* pFrame);

/** Takes one 8 MiB block of physically contiguous memory (any size up to
 *  8 MiB; 24 blocks exist).  Serialise with VYXZEB_Free().
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_FAILED (too large or none free); #VYXZEB_RET_BAD_PARAMETER
 *  (null ppBlock). */
VYXZEB_API int VYXZEB_Malloc(unsigned long ulSize, unsigned char** ppBlock);

/** Gives a block back and sets *ppBlock to null.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_NULL_BUFFER (no block); #VYXZEB_RET_FAILED (not a block, or a
 *  block already given back: nothing changes). */
VYXZEB_API int VYXZEB_Free(unsigned char** ppBlock);

/** Shows an image held in a block from VYXZEB_Malloc(): width x height
 *  pixels, 8 (grey) or 24 (B, G, R) bits per pixel, rows of
 *  width x bits / 8 bytes.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_SET_UNAVAILABLE; #VYXZEB_RET_FAILED (not a block start);
 *  #VYXZEB_RET_BAD_PARAMETER (another depth, or an image larger than its
 *  block). */
VYXZEB_API int VYXZEB_ShowUserLoadData(int nIndex, unsigned char* pBlock, unsigned int unWidth,
                                       unsigned int unHeight, unsigned int unBitCount);

/** @} */

/** @name GPIO and flash
 *  GPIO lines 0 to 2 are inputs, 3 to 7 outputs; the directions are fixed
 *  by the board.
 *  @{ */

/** Number of GPIO lines (8).
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_BAD_PARAMETER (null). */
VYXZEB_API int VYXZEB_GpioGetNum(unsigned short* pusNum);
/** Direction mask: bit i set = line i is an output (0xF8).  Results as for
 *  VYXZEB_GpioGetNum(). */
VYXZEB_API int VYXZEB_GpioGetDirection(unsigned short* pusMask);
/** Directions are fixed by the board.
 *  @return always #VYXZEB_RET_NOT_SUPPORTED, in any state. */
VYXZEB_API int VYXZEB_GpioSetDirection(unsigned short usMask);
/** Sets an output line.  The driver has lines 0 to 9: 3 to 9 can be set
 *  and 0 to 9 read (lines 8 and 9 lie beyond the eight pins
 *  VYXZEB_GpioGetNum() counts).
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_GPIO_FAILED (no device, not an output line, driver
 *  refused). */
VYXZEB_API int VYXZEB_GpioSet(unsigned int unPin, bool bLevel);
/** Reads a line (0 to 9).  Results as for VYXZEB_GpioSet(), with
 *  #VYXZEB_RET_BAD_PARAMETER for a null pointer. */
VYXZEB_API int VYXZEB_GpioGet(unsigned int unPin, bool* pbLevel);
/** All lines at once: bit i = line i.  Reading stops at the first failing
 *  line (the bits read so far stay in *pusLevels).
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_BAD_PARAMETER (null); #VYXZEB_RET_GPIO_FAILED. */
VYXZEB_API int VYXZEB_GpioGetStatus(unsigned short* pusLevels);
/** Sets lines 3 to 7 from bits 3 to 7, stopping at the first failure.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_GPIO_FAILED. */
VYXZEB_API int VYXZEB_GpioSetStatus(unsigned short usLevels);

/** Switches the sensor's flash (strobe) output on or off.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_SET_UNAVAILABLE; #VYXZEB_RET_SENSOR_FAILED. */
VYXZEB_API int VYXZEB_FlashSetEnable(int nIndex, bool bEnable);
/** Whether the flash output is on.  Results as for VYXZEB_FlashSetEnable(),
 *  with #VYXZEB_RET_BAD_PARAMETER for a null pointer. */
VYXZEB_API int VYXZEB_FlashGetEnable(int nIndex, bool* pbEnable);
/** Inverts the flash output's polarity.  Results as for
 *  VYXZEB_FlashSetEnable(). */
VYXZEB_API int VYXZEB_FlashSetInvert(int nIndex, bool bInvert);
/** Whether the flash output is inverted.  Results as for
 *  VYXZEB_FlashGetEnable(). */
VYXZEB_API int VYXZEB_FlashGetInvert(int nIndex, bool* pbInvert);

/** @} */

/** @name Files
 *  @{ */

/** Writes an image as a BMP file under "/picture/sd/" or "/picture/data/".
 *  pData holds the rows top to bottom, each padded to a multiple of 4 bytes;
 *  nBitCount is 8 (grey palette), 24 or 32.  The file appears complete or
 *  not at all.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_BAD_PARAMETER (bad argument, path outside the folders or
 *  with a ".." component or through a folder that is a
 *  symbolic link); #VYXZEB_RET_FAILED (folder missing, disk full,
 *  write failed). */
VYXZEB_API int VYXZEB_HelperSaveToBmp(unsigned char* pData, int nWidth, int nHeight, int nBitCount,
                                      const char* pszFileName);

/** @} */

#ifdef __cplusplus
} /* extern "C" */

/* Exported under their C++ names. */

/** Frame-buffer number of the PL (0 to 3).
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_BAD_PARAMETER (null); #VYXZEB_RET_SET_UNAVAILABLE. */
VYXZEB_API int VYXZEB_GetFrameBufNum(int nIndex, unsigned long* pulNumber);
/** Sets the frame-buffer number of the PL.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_BAD_PARAMETER (above 3); #VYXZEB_RET_SET_UNAVAILABLE;
 *  #VYXZEB_RET_REGISTER_ACCESS_FAILED. */
VYXZEB_API int VYXZEB_SetFrameBufNum(int nIndex, unsigned long ulNumber);

/** Placement set by VYXZEB_SetPosition().  Null outputs are skipped.
 *  @return #VYXZEB_RET_SUCCESS; #VYXZEB_RET_NOT_INITIALIZED;
 *  #VYXZEB_RET_SET_UNAVAILABLE. */
VYXZEB_API int VYXZEB_GetPosition(int nIndex, int* pnX, int* pnY, unsigned int* punWidth,
                                  unsigned int* punHeight);
#endif

#endif /* VYXZEBAPI_H */
