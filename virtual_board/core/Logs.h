// Logs.h - the board's logs: a fixed-capacity ring that keeps the newest
// entries (allocated once, so an endless run or a test that watches the heap
// sees no growth), and the ioctl log every driver writes to.
#ifndef VYX_BOARD_CORE_LOGS_H
#define VYX_BOARD_CORE_LOGS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "VyxBoard.h"

namespace vb {

constexpr size_t kLogEntries = 4096;

// Newest last; not thread-safe, the owner locks.
template <typename T>
class Ring {
public:
    Ring() : buf_(kLogEntries) {}
    void push(const T& v) {
        buf_[(head_ + count_) % kLogEntries] = v;
        if (count_ < kLogEntries)
            count_++;
        else
            head_ = (head_ + 1) % kLogEntries;
    }
    template <typename F>
    void forEach(F f) const {
        for (size_t i = 0; i < count_; ++i) f(buf_[(head_ + i) % kLogEntries]);
    }
    void clear() { head_ = count_ = 0; }

private:
    std::vector<T> buf_;
    size_t head_ = 0, count_ = 0;
};

namespace logs {

void ioctl(Node node, unsigned long request, bool hasValue, int32_t value, int result, int error);
// Logs a refused request and fails with `error` (errno set, -1 returned).
int refuseIoctl(Node node, unsigned long request, int error);
std::vector<IoctlRecord> ioctls();
void clearIoctls();

}  // namespace logs
}  // namespace vb

#endif
