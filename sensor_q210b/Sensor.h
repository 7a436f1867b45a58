// Sensor.h - CSensor, the data every sensor object carries and the default
// answers for operations a sensor may not have (the colour gains).
#ifndef VYX_SENSOR_H
#define VYX_SENSOR_H

#include "plugin/ISensor.h"

class VYXZEB_API CSensor : public CISensor {
public:
    // Keeps the bus (not owned) and a copy of its descriptor.  The flag is the
    // concrete sensor's business.
    CSensor(CIBus* pBus, bool* pbInit);
    ~CSensor() override;

    int GetType(int* pnType) override;                  // -1: not a concrete sensor

    // A grey sensor has no colour gains: -1003, outputs untouched.
    int GetRedGain(unsigned long* pulGain) override;
    int SetRedGain(unsigned long ulGain) override;
    int GetBlueGain(unsigned long* pulGain) override;
    int SetBlueGain(unsigned long ulGain) override;
    int GetGreenGain(unsigned long* pulGain) override;
    int SetGreenGain(unsigned long ulGain) override;

    static int s_SensorType;

    static const unsigned int kRegShadowBytes = 262144;

protected:
    CIBus* m_pBus;                  // not owned; must outlive the sensor
    int m_nCaptureWidth;            // delivered image, pixels
    int m_nCaptureHeight;           // delivered image, rows
    int m_nBitCount;                // bits per pixel
    float m_fExposureTime;          // in force, ms
    float m_fReqExposureTime;       // last asked for, ms
    unsigned short m_usRegShadow[kRegShadowBytes / sizeof(unsigned short)];
    float m_fPixClkPeriod;          // one pixel clock, ms
    int m_nFd;                      // the bus's descriptor, copied at construction

private:
    CSensor(const CSensor&) = delete;
    CSensor& operator=(const CSensor&) = delete;
};

#endif
