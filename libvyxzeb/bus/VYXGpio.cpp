// VYXGpio.cpp - GPIO lines through the board's GPIO driver.
#include "VYXGpio.h"

#include <fcntl.h>
#include <stdint.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "VYXLog.h"
#include "VYXZebApi.h"

const char* const CGPIO::kDevicePath = "/dev/misc_vyx_gpio";

namespace {
// Read requests of the three input-only lines.
const unsigned long kInputReadRequest[CGPIO::kFirstOutputLine] = {0, 1, 3};
}

unsigned long CGPIO::ReadRequest(unsigned int unLine)
{
    if (unLine < kFirstOutputLine)
        return kInputReadRequest[unLine];
    return kReadRequestOutputBase + (unLine - kFirstOutputLine);
}

unsigned long CGPIO::WriteRequest(unsigned int unLine)
{
    return kWriteRequestOutputBase + (unLine - kFirstOutputLine);
}

CGPIO::CGPIO(bool* pbInit) : m_nFd(-1)
{
    if (pbInit != nullptr)
        *pbInit = false;
    const int nRet = GPIOInit();
    if (pbInit != nullptr)
        *pbInit = nRet == VYXZEB_RET_SUCCESS;
}

CGPIO::~CGPIO()
{
    if (m_nFd >= 0) {
        close(m_nFd);
        m_nFd = -1;
    }
}

int CGPIO::GPIOInit()
{
    // The driver takes its write requests on a read-only descriptor as well.
    // Close-on-exec, like every descriptor of the library.
    m_nFd = open(kDevicePath, O_RDONLY | O_CLOEXEC);
    if (m_nFd >= 0)
        return VYXZEB_RET_SUCCESS;
    VYXLOG_OutputString(hVYXLog, "VYXERR_(CGPIO::GPIOInit open device failed!)", 1);
    return VYXZEB_RET_GPIO_FAILED;
}

int CGPIO::GPIOGet(unsigned int unLine, bool* pbLevel)
{
    if (unLine >= kLineCount || m_nFd < 0)
        return VYXZEB_RET_GPIO_FAILED;
    int32_t nValue = 0;
    if (ioctl(m_nFd, ReadRequest(unLine), &nValue) < 0)
        return VYXZEB_RET_GPIO_FAILED;
    if (pbLevel != nullptr)
        *pbLevel = nValue != 0;
    return VYXZEB_RET_SUCCESS;
}

int CGPIO::GPIOSet(unsigned int unLine, bool bLevel)
{
    if (m_nFd < 0 || unLine < kFirstOutputLine || unLine >= kLineCount)
        return VYXZEB_RET_GPIO_FAILED;
    int32_t nValue = bLevel ? 1 : 0;
    if (ioctl(m_nFd, WriteRequest(unLine), &nValue) < 0)
        return VYXZEB_RET_GPIO_FAILED;
    return VYXZEB_RET_SUCCESS;
}
