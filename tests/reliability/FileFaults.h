// FileFaults.h - fault points on the file calls the library makes into the
// storage folders and its log folder: the sweep program defines these libc
// entry points itself, so the library's calls reach them first and go on to
// the board (which maps "/picture/..." into its sandbox) and to libc.  Only
// paths under a watched prefix, and the descriptors opened through them,
// are counted and failed.
#ifndef VYX_TESTS_FILE_FAULTS_H
#define VYX_TESTS_FILE_FAULTS_H

#include <string>

namespace vyxsweep {

enum class FileCall : int { Open = 0, Write, Fsync, Fchmod, Fchown, Close, Rename, Statfs, Fopen, Count };
const char* FileCallName(FileCall call);

// A write that fails this way returns half of the bytes asked for.
constexpr int kShortCount = 0;

void WatchPrefix(const std::string& prefix);
unsigned FileCalls(FileCall call);
void ResetFileCalls();
// Call number k (counted from now) fails with `error` (or kShortCount).
void ArmFileFault(FileCall call, unsigned k, int error);
void DisarmFileFaults();

}  // namespace vyxsweep

#endif
