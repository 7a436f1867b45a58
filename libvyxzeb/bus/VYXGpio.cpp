// VYXGpio.cpp - GPIO lines through the board's GPIO driver.
#include "VYXGpio.h"

#include <fcntl.h>
#include <stdint.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "Nodes.h"
#include "VYXLog.h"
#include "VYXZebApi.h"
#include "LogHandle.h"

using vyxnode::kGpioFirstOutput;
using vyxnode::kGpioLines;

unsigned long CGPIO::ReadRequest(unsigned int unLine)
{
    if (unLine < kGpioFirstOutput)
        return vyxnode::kGpioReadInput[unLine];
    return vyxnode::kGpioReadBase + (unLine - kGpioFirstOutput);
}

unsigned long CGPIO::WriteRequest(unsigned int unLine)
{
    return vyxnode::kGpioWriteBase + (unLine - kGpioFirstOutput);
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
    m_nFd = open(vyxnode::kGpioPath, O_RDONLY | O_CLOEXEC);
    if (m_nFd >= 0)
        return VYXZEB_RET_SUCCESS;
    VYXLOG_OutputString(SdkLog(), "VYXERR_(CGPIO::GPIOInit open device failed!)", 1);
    return VYXZEB_RET_GPIO_FAILED;
}

int CGPIO::GPIOGet(unsigned int unLine, bool* pbLevel)
{
    if (unLine >= kGpioLines || m_nFd < 0)
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
    if (m_nFd < 0 || unLine < kGpioFirstOutput || unLine >= kGpioLines)
        return VYXZEB_RET_GPIO_FAILED;
    int32_t nValue = bLevel ? 1 : 0;
    if (ioctl(m_nFd, WriteRequest(unLine), &nValue) < 0)
        return VYXZEB_RET_GPIO_FAILED;
    return VYXZEB_RET_SUCCESS;
}
