// Logs.cpp - the ioctl log shared by the drivers.
#include "Logs.h"

#include <cerrno>
#include <mutex>

namespace vb {
namespace logs {

namespace {
struct IoctlLog {
    std::mutex mu;
    Ring<IoctlRecord> ring;
};
IoctlLog& ioctlLog() {
    static IoctlLog* log = new IoctlLog;
    return *log;
}
}  // namespace

void ioctl(Node node, unsigned long request, bool hasValue, int32_t value, int result, int error) {
    IoctlRecord r;
    r.node = node;
    r.request = request;
    r.hasValue = hasValue;
    r.value = value;
    r.result = result;
    r.error = error;
    IoctlLog& log = ioctlLog();
    std::lock_guard<std::mutex> lock(log.mu);
    log.ring.push(r);
}

int refuseIoctl(Node node, unsigned long request, int error) {
    ioctl(node, request, false, 0, -1, error);
    errno = error;
    return -1;
}

std::vector<IoctlRecord> ioctls() {
    IoctlLog& log = ioctlLog();
    std::lock_guard<std::mutex> lock(log.mu);
    std::vector<IoctlRecord> out;
    log.ring.forEach([&](const IoctlRecord& r) { out.push_back(r); });
    return out;
}

void clearIoctls() {
    IoctlLog& log = ioctlLog();
    std::lock_guard<std::mutex> lock(log.mu);
    log.ring.clear();
}

}  // namespace logs
}  // namespace vb
