// Faults.h - the board's one place for injected faults: per node and
// operation (the fault points the drivers call), the process services the
// SDK's failure paths depend on, missing nodes and the plug-in's stand-in.
// Every call through a fault point is counted, failing or not.
#ifndef VYX_BOARD_CORE_FAULTS_H
#define VYX_BOARD_CORE_FAULTS_H

#include <cstdint>
#include <string>

#include "VyxBoard.h"

namespace vb {
namespace faults {

// A driver's fault point: counts the call and returns the errno it must
// fail with, or 0.  physOffset (mmap) and request (ioctl) are matched against
// a fault that names one.
int check(Node node, Op op, int64_t physOffset = -1, unsigned long request = 0);
// errno a process service call fails with, or 0.
int service(Service service);
bool missing(Node node);
// Path dlopen uses for the board's plug-in path: `fallback` unless a test
// named another library; nullptr when the plug-in is made missing.
const char* pluginTarget(const char* fallback, std::string& keep);

void set(Node node, Op op, const Fault& fault);
void clear(Node node, Op op);
unsigned calls(Node node, Op op);
void resetCalls();
void setMissing(Node node, bool missing);
void setService(Service service, const Fault& fault);
void clearService(Service service);
void setPluginMissing(bool missing);
void setPluginPath(const std::string& hostPath);
// Every fault, missing node and plug-in override cleared.
void resetAll();

}  // namespace faults
}  // namespace vb

#endif
