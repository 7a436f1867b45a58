// BusSPI.cpp - descriptor and clock bookkeeping shared by both SPI buses.
#include "BusSPI.h"

#include <fcntl.h>
#include <unistd.h>

CBusSPI::CBusSPI(unsigned long /*ulSpeed*/, unsigned char ucSetting0, unsigned char ucSetting1)
    : m_nFd(-1), m_unSpeed(kSpeedHz), m_ucSetting0(ucSetting0), m_ucSetting1(ucSetting1)
{
}

CBusSPI::~CBusSPI()
{
    if (m_nFd >= 0) {
        close(m_nFd);
        m_nFd = -1;
    }
}

int CBusSPI::GetFd(int& nFd)
{
    if (m_nFd > 0) {
        nFd = m_nFd;
        return VYXZEB_RET_SUCCESS;
    }
    nFd = -1;
    return VYXZEB_RET_FAILED;
}

int CBusSPI::GetSpeed(int& nSpeed)
{
    nSpeed = static_cast<int>(m_unSpeed);
    return m_unSpeed != 0 ? VYXZEB_RET_SUCCESS : VYXZEB_RET_FAILED;
}

void CBusSPI::OpenNode(const char* pszPath, bool* pbInit)
{
    if (pbInit != nullptr)
        *pbInit = false;
    // Close-on-exec: a program the application starts must not inherit the
    // sensor's bus.
    m_nFd = open(pszPath, O_RDWR | O_CLOEXEC);
    if (pbInit != nullptr)
        *pbInit = m_nFd >= 0;
}
