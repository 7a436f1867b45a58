// SensorQ210B.cpp - the Q210B object: construction, the register protocol
// over SPI, the shadow registers, and the plug-in entry points.
#include "SensorQ210B.h"

#include <errno.h>
#include <linux/spi/spidev.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <new>

#include "plugin/IBus.h"
#include "VYXLog.h"
#include "LogHandle.h"

using namespace q210b;

int CSensorQ210B::s_SensorType = VYXZEB_SENSOR_Q210B;

namespace {

// The registers the rest of the sensor code depends on, in the order of
// their shadow copies.
const unsigned char kShadowedRegs[] = {
    kRegLineLength, kRegLineTermH, kRegClockSelect, kRegControl, kRegPll,
    kRegReadout, kRegLineOptions, kRegExposure, kReg17, kRegFirstRow,
    kRegRowCount, kRegFirstCol, kRegColCount, kRegAddressMode, kRegGainB,
    kRegGainA, kRegLineTermK, kReg118, kRegOscTrim,
};
const int kShadowCount = sizeof(kShadowedRegs) / sizeof(kShadowedRegs[0]);

int ShadowIndex(unsigned char ucAddr)
{
    for (int i = 0; i < kShadowCount; ++i)
        if (kShadowedRegs[i] == ucAddr)
            return i;
    return -1;
}

// Read-back order after start-up.  The PLL register is read too, so that the
// clocks are computed from what the chip really holds.
const unsigned char kReadBackOrder[] = {
    kRegLineLength, kRegLineTermH, kRegControl, kRegExposure, kReg17,
    kRegFirstRow, kRegRowCount, kRegFirstCol, kRegColCount, kRegAddressMode,
    kRegReadout, kRegGainB, kRegGainA, kRegLineTermK, kRegLineOptions,
    kRegClockSelect, kReg118, kRegPll, kRegOscTrim,
};

// Restore order: every shadowed register except the PLL, which only the
// start-up table writes.
const unsigned char kRecoverOrder[] = {
    kRegLineLength, kRegLineTermH, kRegControl, kRegExposure, kReg17,
    kRegFirstRow, kRegRowCount, kRegFirstCol, kRegColCount, kRegAddressMode,
    kRegReadout, kRegGainB, kRegGainA, kRegLineTermK, kRegLineOptions,
    kRegClockSelect, kReg118, kRegOscTrim,
};

struct RegValue {
    unsigned char ucAddr;
    unsigned short usValue;
};

// Start-up values: no mirror, flip or flash; PLL at 456 MHz feeding both
// selected clocks, pixel clock = PLL / 2; the whole array as the window.
const RegValue kStartupTable[] = {
    {kRegControl, 0x0E01},
    {kRegClockSelect, 0x0F21},
    {kRegPll, 0x634B},
    {kRegFirstRow, 0x0006},   // first row 0
    {kRegRowCount, 0x0400},   // 1024 rows
    {kRegFirstCol, 0x0006},   // first column 0
    {kRegColCount, 0x0500},   // 1280 columns
    {kRegOscTrim, 0x80F0},
    {kRegLineOptions, 0x0100},
};

const size_t kDumpLineBytes = 256;

}  // namespace

// ---- object ---------------------------------------------------------------

CSensorQ210B::CSensorQ210B(CIBus* pBus, bool* pbInit) : CSensor(pBus, pbInit)
{
    if (pbInit != nullptr)
        *pbInit = false;
    m_nBitCount = 8;
    memset(m_usRegShadow, 0, sizeof(m_usRegShadow));

    // The start-up table ignores write failures: a bus that cannot transfer
    // shows up in the read-back right after it.
    if (SensorInit() != VYXZEB_RET_SUCCESS)
        return;
    if (SensorRdReg() != VYXZEB_RET_SUCCESS)
        return;
    UpdatePixClk();
    // The time in force starts as what the chip already exposes: when its
    // lines already match 25 ms, the next step writes nothing and would
    // otherwise leave the time in force unset.  (The request set here is
    // replaced by the next step.)
    UpdateExposureTime();
    SetExposureTime(25.0f);
    SetCaptureFieldOfView(0, 0, kArrayWidth, kArrayHeight);
    UpdateCaptureWidth();
    UpdateCaptureHeight();

    if (pbInit != nullptr)
        *pbInit = true;
}

// The descriptor belongs to the bus: nothing to release here.
CSensorQ210B::~CSensorQ210B() = default;

int CSensorQ210B::GetType(int* pnType)
{
    VYXZEB_SENSOR_TYPE eType = VYXZEB_SENSOR_Q210B;
    const int nRet = GetType(&eType);
    if (pnType != nullptr)
        *pnType = eType;
    return nRet;
}

int CSensorQ210B::GetType(VYXZEB_SENSOR_TYPE* pType)
{
    if (pType != nullptr)
        *pType = static_cast<VYXZEB_SENSOR_TYPE>(s_SensorType);
    return VYXZEB_RET_SUCCESS;
}

// ---- shadow helpers -------------------------------------------------------

unsigned short* CSensorQ210B::Shadow(unsigned char ucAddr)
{
    const int i = ShadowIndex(ucAddr);
    return i < 0 ? nullptr : &m_usRegShadow[i];
}

unsigned short CSensorQ210B::Reg(unsigned char ucAddr) const
{
    const int i = ShadowIndex(ucAddr);
    return i < 0 ? 0 : m_usRegShadow[i];
}

int CSensorQ210B::WriteBits(unsigned char ucAddr, unsigned short usMask, unsigned short usBits)
{
    const unsigned short usValue =
        static_cast<unsigned short>((Reg(ucAddr) & ~usMask) | (usBits & usMask));
    return SensorWrReg(ucAddr, usValue, nullptr);
}

// ---- register protocol ----------------------------------------------------

int CSensorQ210B::Write(int nFd, unsigned short usAddr, unsigned short usValue)
{
    if (nFd < 0)
        return VYXZEB_RET_SENSOR_FAILED;
    const unsigned char frame[kSpiFrameBytes] = {
        static_cast<unsigned char>(kSpiWriteFlag | (usAddr & kSpiAddrMask)),
        static_cast<unsigned char>(usValue >> 8),
        static_cast<unsigned char>(usValue & 0xFF),
    };
    // Half duplex: nothing comes back for a write, so a plain write will do.
    if (write(nFd, frame, kSpiFrameBytes) < 0) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "vyxerr_(CMD_Q210BWrite write fail(%s))", strerror(errno));
        return VYXZEB_RET_SENSOR_FAILED;
    }
    return VYXZEB_RET_SUCCESS;
}

int CSensorQ210B::Read(int nFd, unsigned short usAddr, void* pValue)
{
    if (pValue == nullptr || nFd < 0)
        return VYXZEB_RET_SENSOR_FAILED;
    int nSpeed = 0;
    if (m_pBus == nullptr || m_pBus->GetSpeed(nSpeed) != VYXZEB_RET_SUCCESS)
        return VYXZEB_RET_SENSOR_FAILED;

    // Full duplex: the value comes back in bytes 1 and 2 while the filler
    // goes out.
    unsigned char tx[kSpiFrameBytes] = {
        static_cast<unsigned char>(usAddr & kSpiAddrMask), kSpiReadFiller, kSpiReadFiller};
    unsigned char rx[kSpiFrameBytes] = {0, 0, 0};
    struct spi_ioc_transfer xfer;
    memset(&xfer, 0, sizeof(xfer));
    // The buffer fields are 64 bits wide on every architecture.
    xfer.tx_buf = static_cast<__u64>(reinterpret_cast<uintptr_t>(tx));
    xfer.rx_buf = static_cast<__u64>(reinterpret_cast<uintptr_t>(rx));
    xfer.len = kSpiFrameBytes;
    xfer.speed_hz = static_cast<__u32>(nSpeed);

    if (ioctl(nFd, SPI_IOC_MESSAGE(1), &xfer) <= 0) {
        VYXLOG_OutputString(SdkLog(), "vyxerr_(fail to read on spi bus)", 1);
        return VYXZEB_RET_SENSOR_FAILED;
    }
    const unsigned short usValue = static_cast<unsigned short>(rx[1] * 256 + rx[2]);
    memcpy(pValue, &usValue, sizeof(usValue));
    return VYXZEB_RET_SUCCESS;
}

int CSensorQ210B::CMD_SensorWrReg(unsigned char ucAddr, unsigned short usValue)
{
    return Write(m_nFd, ucAddr, usValue);
}

int CSensorQ210B::CMD_SensorRdReg(unsigned char ucAddr, unsigned short* pusValue)
{
    return Read(m_nFd, ucAddr, pusValue);
}

int CSensorQ210B::CMD_SensorWrReg32(unsigned long ulAddr, unsigned long ulValue)
{
    // Raw access: the shadow is not told.
    return CMD_SensorWrReg(static_cast<unsigned char>(ulAddr & 0xFF),
                           static_cast<unsigned short>(ulValue & 0xFFFF));
}

int CSensorQ210B::CMD_SensorRdReg32(unsigned long ulAddr, unsigned long* pulValue)
{
    if (pulValue == nullptr)
        return VYXZEB_RET_SENSOR_FAILED;
    *pulValue = 0;
    unsigned short usValue = 0;
    const int nRet = CMD_SensorRdReg(static_cast<unsigned char>(ulAddr & 0xFF), &usValue);
    if (nRet == VYXZEB_RET_SUCCESS)
        *pulValue = usValue;
    return nRet;
}

int CSensorQ210B::SensorInit()
{
    for (const RegValue& r : kStartupTable)
        CMD_SensorWrReg(r.ucAddr, r.usValue);
    return VYXZEB_RET_SUCCESS;
}

int CSensorQ210B::SensorWrReg(unsigned long ulAddr, unsigned long ulValue, bool* pbChanged)
{
    if (pbChanged != nullptr)
        *pbChanged = false;

    // Only registers with a shadow copy may be set.  The PLL has one too, but
    // only the start-up table writes it.
    if (ulAddr > 0xFF || ulAddr == kRegPll)
        return VYXZEB_RET_BAD_SENSOR_REGISTER;
    const unsigned char ucAddr = static_cast<unsigned char>(ulAddr);
    unsigned short* pShadow = Shadow(ucAddr);
    if (pShadow == nullptr)
        return VYXZEB_RET_BAD_SENSOR_REGISTER;

    if (ulValue == *pShadow)
        return VYXZEB_RET_SUCCESS;

    const unsigned short usValue = static_cast<unsigned short>(ulValue & 0xFFFF);
    const int nRet = CMD_SensorWrReg(ucAddr, usValue);
    if (nRet != VYXZEB_RET_SUCCESS)
        return nRet;
    if (pbChanged != nullptr)
        *pbChanged = true;
    *pShadow = usValue;

    // Keep everything derived from the register in step with the chip.  A
    // new line length re-derives the exposure lines from the requested time,
    // and new exposure lines re-derive the time in force.
    switch (ucAddr) {
    case kRegLineLength:
        SyncExposureLine();
        break;
    case kRegClockSelect:
        UpdatePixClk();
        SyncLineLength();
        break;
    case kRegReadout:
    case kRegAddressMode:
        UpdateCaptureWidth();
        UpdateCaptureHeight();
        SyncLineLength();
        break;
    case kRegLineOptions:
    case kRegLineTermK:
        SyncLineLength();
        break;
    case kRegExposure:
        UpdateExposureTime();
        break;
    case kRegRowCount:
        UpdateCaptureHeight();
        break;
    case kRegColCount:
        UpdateCaptureWidth();
        SyncLineLength();
        break;
    case kRegOscTrim:
        UpdatePixClk();
        break;
    default:
        break;
    }
    return VYXZEB_RET_SUCCESS;
}

int CSensorQ210B::SensorRdReg()
{
    memset(m_usRegShadow, 0, sizeof(m_usRegShadow));
    for (unsigned char ucAddr : kReadBackOrder) {
        const int nRet = CMD_SensorRdReg(ucAddr, Shadow(ucAddr));
        if (nRet != VYXZEB_RET_SUCCESS)
            return nRet;
    }
    return VYXZEB_RET_SUCCESS;
}

int CSensorQ210B::SensorRecover()
{
    for (unsigned char ucAddr : kRecoverOrder) {
        const int nRet = CMD_SensorWrReg(ucAddr, *Shadow(ucAddr));
        if (nRet != VYXZEB_RET_SUCCESS)
            return nRet;
    }
    return VYXZEB_RET_SUCCESS;
}

int CSensorQ210B::DumpSensorRegister(char* pszText)
{
    size_t nLen = 0;
    if (pszText != nullptr)
        pszText[0] = '\0';
    unsigned short usValue = 0;
    for (unsigned int unAddr = 0; unAddr <= kRegLast; ++unAddr) {
        // A failed read leaves the previous value in place.
        CMD_SensorRdReg(static_cast<unsigned char>(unAddr), &usValue);
        char szLine[kDumpLineBytes];
        const int n = snprintf(szLine, sizeof(szLine), "reg(%x)_vlu(%x)\n", unAddr, usValue);
        if (pszText != nullptr && n > 0) {
            memcpy(pszText + nLen, szLine, static_cast<size_t>(n) + 1);
            nLen += static_cast<size_t>(n);
        }
        VYXLOG_OutputStringEx(SdkLog(), 1, "vyxlog_(DumpSensor reg(%x)_vlu(%x))", unAddr, usValue);
    }
    return VYXZEB_RET_SUCCESS;
}

// ---- plug-in entry points -------------------------------------------------

extern "C" VYXZEB_API int newSensor(CISensor** ppSensor, CIBus* pBus, bool* pbInit)
{
    if (ppSensor == nullptr)
        return VYXZEB_RET_SENSOR_FAILED;
    bool bOwnFlag = false;
    bool* pbFlag = pbInit != nullptr ? pbInit : &bOwnFlag;
    CSensorQ210B* pSensor = new (std::nothrow) CSensorQ210B(pBus, pbFlag);
    if (pSensor == nullptr) {
        *pbFlag = false;
        return VYXZEB_RET_SUCCESS;
    }
    if (*pbFlag)
        *ppSensor = pSensor;
    else
        delete pSensor;
    return VYXZEB_RET_SUCCESS;
}

extern "C" VYXZEB_API int deleteSensor(CISensor** ppSensor)
{
    if (ppSensor == nullptr || *ppSensor == nullptr)
        return VYXZEB_RET_SENSOR_FAILED;
    delete *ppSensor;
    *ppSensor = nullptr;
    return VYXZEB_RET_SUCCESS;
}
