// PoolBlock.h - one block of the library's physically contiguous memory pool
// (VYXZEB_Malloc / VYXZEB_Free), owned for as long as the object lives.
//
// The display path reads images out of pool blocks by DMA, so images shown
// from Python are copied into one first.  Calls are serialised through the
// session's pool lock, as the library requires.
#ifndef VYXPY_POOL_BLOCK_H
#define VYXPY_POOL_BLOCK_H

#include <cstdint>
#include <memory>

namespace vyxpy {

class Session;

class PoolBlock {
public:
    // Takes a block of at least `bytes` bytes; throws LibraryError.  Called
    // without the GIL.
    PoolBlock(std::shared_ptr<Session> session, unsigned long bytes);
    ~PoolBlock();
    PoolBlock(const PoolBlock&) = delete;
    PoolBlock& operator=(const PoolBlock&) = delete;

    uint8_t* data() const { return m_block; }
    unsigned long size() const { return m_size; }

private:
    std::shared_ptr<Session> m_session;
    unsigned char* m_block = nullptr;
    unsigned long m_size;
};

}  // namespace vyxpy

#endif
