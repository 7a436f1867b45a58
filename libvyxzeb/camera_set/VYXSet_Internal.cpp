// VYXSet_Internal.cpp - the trigger callback, the PL resynchronisation and
// the raw FPGA and acquisition settings of the set's PL.
#include "plugin/ISensor.h"
#include "PL.h"
#include "VYXLog.h"
#include "VYXSet.h"

int CVYXSet::SetTriggerCallback(VYXSET_TRIGGER_CALLBACK pfnCallback) {
    m_pTriggerCallback = pfnCallback;
    return VYXZEB_RET_SUCCESS;
}

// The PL must be told the frame size whenever the sensor's window or address
// mode changed; without a PL there is nothing to resynchronise.
int CVYXSet::UpdatePL_WhenSensorFovChanged() {
    return PL(VYXZEB_RET_SUCCESS, &CPL::SyncSensorSize_WhenSensorFovChanged);
}

int CVYXSet::ValidatePLAllBatReg() { return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::ValidateAllBatReg); }

int CVYXSet::RdRegFPGA(unsigned short usOffset, unsigned long* pulValue) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::CMD_RdReg_FPGA, usOffset, pulValue);
}
int CVYXSet::WrRegFPGA(unsigned short usOffset, unsigned long ulValue) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::CMD_WrReg_FPGA, usOffset, ulValue);
}
int CVYXSet::GetVersionFPGA(unsigned long* pulVersion) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::GetVersionFPGA, pulVersion);
}
int CVYXSet::GetFrameBuf(unsigned long* pulNumber) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::GetFrameBuf, pulNumber);
}
int CVYXSet::SetFrameBuf(unsigned long ulNumber) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::SetFrameBuf, ulNumber);
}
int CVYXSet::GetMultiFrame(unsigned long* pulCount) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::GetMultiFrame, pulCount);
}
int CVYXSet::SetMultiFrame(unsigned long ulCount) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::SetMultiFrame, ulCount);
}
int CVYXSet::GetFixFrameRate(unsigned long* pulPeriod) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::GetFixFrameRate, pulPeriod);
}
int CVYXSet::SetFixFrameRate(unsigned long ulPeriod) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::SetFixFrameRate, ulPeriod);
}
int CVYXSet::ClearWriteFrameBuf(unsigned long ulValue) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::ClearWriteFrameBuf, ulValue);
}
int CVYXSet::ClearReadFrameBuf(unsigned long ulValue) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::ClearReadFrameBuf, ulValue);
}
