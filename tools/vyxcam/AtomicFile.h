// AtomicFile.h - a file that appears whole or not at all.
//
// The content goes to a hidden temporary file beside the target
// (".NAME.tmp-PID-N"), which commit() renames over the target.  Destroyed
// without commit() (an error, an exception), the temporary file is removed
// and the target is left as it was.  A signal can therefore never leave a
// half-written picture under the name a script waits for.
#ifndef VYXCAM_ATOMIC_FILE_H
#define VYXCAM_ATOMIC_FILE_H

#include <cstdio>
#include <string>

namespace vyxcam {

class AtomicFile {
public:
    // Throws RunError when the temporary file cannot be created.
    explicit AtomicFile(const std::string& path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    FILE* stream() { return m_stream; }
    // Writes bytes; throws RunError on a short write.
    void write(const void* data, size_t bytes);
    // Flushes, closes and renames into place; throws RunError on failure.
    void commit();

private:
    [[noreturn]] void fail(const char* what);

    std::string m_path;
    std::string m_temp;
    FILE* m_stream = nullptr;
};

}  // namespace vyxcam

#endif
