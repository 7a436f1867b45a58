// Zeb_Internal.cpp - set lookup, batch-register validation, raw PL access and
// the physical memory pool.
#include <fcntl.h>
#include <inttypes.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "VYXLog.h"
#include "VYXSet.h"
#include "Zeb.h"
#include "LogHandle.h"

namespace phys = vyxpl::phys;

// Sensor indices outside 0..3 are treated like empty slots.
CVYXSet* CZeb::SetAt(int nIndex) const {
    if (nIndex < 0 || nIndex >= kZebMaxSets) return nullptr;
    return m_pSet[nIndex];
}

// m_nCurrentSet stays -1, so every setting validates; the validation writes
// only the registers whose value differs from what the hardware last got,
// so repeating it costs no register traffic.
int CZeb::ValidateBatRegToCurrentSet(int nIndex) {
    CVYXSet* pSet = SetAt(nIndex);
    if (!pSet) return VYXZEB_RET_SET_UNAVAILABLE;
    if (nIndex == m_nCurrentSet) return VYXZEB_RET_SUCCESS;
    return pSet->ValidatePLAllBatReg();
}

int CZeb::GetPLVersion(int nIndex, unsigned long* pulVersion) {
    return Query(nIndex, &CVYXSet::GetVersionFPGA, pulVersion);
}

int CZeb::RdRegFPGA(int nIndex, unsigned short usOffset, unsigned long* pulValue) {
    return Query(nIndex, &CVYXSet::RdRegFPGA, usOffset, pulValue);
}

int CZeb::WrRegFPGA(int nIndex, unsigned short usOffset, unsigned long ulValue) {
    return Query(nIndex, &CVYXSet::WrRegFPGA, usOffset, ulValue);
}

int CZeb::CreatePhysicalPool() {
    m_nFdPhyMemPool = open(vyxnode::kCacheOpsPath, O_RDWR | O_SYNC | O_CLOEXEC);
    if (m_nFdPhyMemPool < 0) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(----------%s open device %s failed)",
                              "CreatePhysicalPool", vyxnode::kCacheOpsPath);
        return VYXZEB_RET_FAILED;
    }
    void* pBase = mmap(nullptr, phys::kPoolBytes, PROT_READ | PROT_WRITE, MAP_SHARED, m_nFdPhyMemPool,
                       static_cast<off_t>(phys::kPoolBase));
    if (pBase == MAP_FAILED) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(----------%s mmap m_pPhyMemPoolMapBase failed)",
                              "CreatePhysicalPool");
        return VYXZEB_RET_FAILED;
    }
    m_pPhyMemPoolMapBase = static_cast<unsigned char*>(pBase);
    m_unPhyPlBlkFree = phys::kPoolBlocks;
    for (int k = 0; k < phys::kPoolBlocks; ++k) {
        m_PhyPlBlk[k].bUsed = false;
        m_PhyPlBlk[k].pPhyAddr =
            reinterpret_cast<unsigned char*>(phys::kPoolBase + k * phys::kPoolBlockBytes);
        m_PhyPlBlk[k].pVirAddr = m_pPhyMemPoolMapBase + k * phys::kPoolBlockBytes;
    }
    return VYXZEB_RET_SUCCESS;
}

void CZeb::ReleasePhysicalPool() {
    if (m_pPhyMemPoolMapBase) {
        munmap(m_pPhyMemPoolMapBase, phys::kPoolBytes);
        m_pPhyMemPoolMapBase = nullptr;
    }
    if (m_nFdPhyMemPool >= 0) {
        close(m_nFdPhyMemPool);
        m_nFdPhyMemPool = -1;
    }
}

// Every request of at most one block receives a whole block.  The free
// counter starts three above the blocks that can be handed out and is
// lowered by every request that gets past the two checks, so its message
// appears only once that spare count has been used up.
int CZeb::MallocPhyPoolBlk(unsigned long ulSize, unsigned char** ppBlock) {
    if (!ppBlock) return VYXZEB_RET_BAD_PARAMETER;
    if (ulSize > phys::kPoolBlockBytes) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(----------%s size(%lu))", "MallocPhyPoolBlk", ulSize);
        return VYXZEB_RET_FAILED;
    }
    if (m_unPhyPlBlkFree == 0) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(----------%s m_unPhyPlBlkFree(%u))", "MallocPhyPoolBlk",
                              m_unPhyPlBlkFree);
        return VYXZEB_RET_FAILED;
    }
    --m_unPhyPlBlkFree;
    for (int k = 0; k < phys::kPoolBlocksHandedOut; ++k) {
        if (!m_PhyPlBlk[k].bUsed) {
            m_PhyPlBlk[k].bUsed = true;
            *ppBlock = m_PhyPlBlk[k].pVirAddr;
            return VYXZEB_RET_SUCCESS;
        }
    }
    return VYXZEB_RET_FAILED;
}

// Only a block that is handed out can come back: a second free (through a
// copy of the pointer) would otherwise let the block be handed out twice.
int CZeb::FreePhyPoolBlk(unsigned char* pBlock) {
    for (int k = 0; k < phys::kPoolBlocksHandedOut; ++k) {
        if (m_PhyPlBlk[k].pVirAddr == pBlock) {
            if (!m_PhyPlBlk[k].bUsed) return VYXZEB_RET_FAILED;
            ++m_unPhyPlBlkFree;
            m_PhyPlBlk[k].bUsed = false;
            return VYXZEB_RET_SUCCESS;
        }
    }
    return VYXZEB_RET_FAILED;
}

int CZeb::GetLoadDataPhyAddress(unsigned char* pBlock, unsigned char** ppPhy) {
    if (!pBlock) return VYXZEB_RET_FAILED;
    for (int k = 0; k < phys::kPoolBlocks; ++k) {
        if (m_PhyPlBlk[k].pVirAddr == pBlock) {
            if (ppPhy) *ppPhy = m_PhyPlBlk[k].pPhyAddr;
            // The driver does not look at the record; the request itself makes
            // the block coherent for the display DMA.
            unsigned char record[vyxnode::kCacheSyncRecordBytes] = {};
            ioctl(m_nFdPhyMemPool, vyxnode::kCacheSync, record);
            return VYXZEB_RET_SUCCESS;
        }
    }
    return VYXZEB_RET_FAILED;
}
