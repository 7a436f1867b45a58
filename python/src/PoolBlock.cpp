// PoolBlock.cpp - a pool block taken and given back under the pool lock.
#include "PoolBlock.h"

#include <mutex>
#include <string>

#include "LibraryError.h"
#include "Session.h"
#include "VYXZebApi.h"

namespace vyxpy {

PoolBlock::PoolBlock(std::shared_ptr<Session> session, unsigned long bytes)
    : m_session(std::move(session)), m_size(bytes) {
    int rc;
    {
        std::lock_guard<std::mutex> lock(m_session->poolLock());
        rc = VYXZEB_Malloc(bytes, &m_block);
    }
    if (rc != VYXZEB_RET_SUCCESS)
        throw LibraryError(rc, "VYXZEB_Malloc", "a pool block of " + std::to_string(bytes) + " bytes");
}

PoolBlock::~PoolBlock() {
    std::lock_guard<std::mutex> lock(m_session->poolLock());
    VYXZEB_Free(&m_block);
}

}  // namespace vyxpy
