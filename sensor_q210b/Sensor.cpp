// Sensor.cpp - common part of every sensor object.
#include "Sensor.h"

#include "plugin/IBus.h"

int CSensor::s_SensorType = -1;

CSensor::CSensor(CIBus* pBus, bool* /*pbInit*/)
    : m_pBus(pBus), m_nCaptureWidth(0), m_nCaptureHeight(0), m_nBitCount(0),
      m_fExposureTime(0.0f), m_fReqExposureTime(0.0f), m_usRegShadow(),
      m_fPixClkPeriod(0.0f), m_nFd(-1)
{
    // Without a bus there is nothing to talk to: the descriptor stays -1 and
    // every transfer is refused, so construction of the concrete sensor fails
    // cleanly instead of crashing here.
    if (m_pBus != nullptr)
        m_pBus->GetFd(m_nFd);
}

CSensor::~CSensor() = default;

int CSensor::GetType(int* pnType)
{
    if (pnType != nullptr)
        *pnType = s_SensorType;
    return VYXZEB_RET_SUCCESS;
}

int CSensor::GetRedGain(unsigned long*) { return VYXZEB_RET_SENSOR_NOT_SUPPORTED; }
int CSensor::SetRedGain(unsigned long) { return VYXZEB_RET_SENSOR_NOT_SUPPORTED; }
int CSensor::GetBlueGain(unsigned long*) { return VYXZEB_RET_SENSOR_NOT_SUPPORTED; }
int CSensor::SetBlueGain(unsigned long) { return VYXZEB_RET_SENSOR_NOT_SUPPORTED; }
int CSensor::GetGreenGain(unsigned long*) { return VYXZEB_RET_SENSOR_NOT_SUPPORTED; }
int CSensor::SetGreenGain(unsigned long) { return VYXZEB_RET_SENSOR_NOT_SUPPORTED; }
