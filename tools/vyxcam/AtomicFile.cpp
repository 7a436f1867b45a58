// AtomicFile.cpp - write beside, rename over.
#include "AtomicFile.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "Errors.h"

namespace vyxcam {

namespace {

constexpr int kTempAttempts = 100;   // names tried when leftovers of killed runs are in the way

std::string tempName(const std::string& path, int attempt)
{
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return dir + "." + base + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
}

}  // namespace

AtomicFile::AtomicFile(const std::string& path) : m_path(path)
{
    int fd = -1;
    for (int attempt = 0; attempt < kTempAttempts && fd < 0; ++attempt) {
        m_temp = tempName(path, attempt);
        // The umask gives the final file its usual permissions.
        fd = open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) throw RunError("cannot create " + m_path + ": " + std::strerror(errno));
    m_stream = fdopen(fd, "wb");
    if (m_stream == nullptr) {
        const int error = errno;
        close(fd);
        unlink(m_temp.c_str());
        throw RunError("cannot write " + m_path + ": " + std::strerror(error));
    }
}

AtomicFile::~AtomicFile()
{
    if (m_stream != nullptr) {
        std::fclose(m_stream);
        unlink(m_temp.c_str());
    }
}

void AtomicFile::fail(const char* what)
{
    const int error = errno;
    std::fclose(m_stream);
    m_stream = nullptr;
    unlink(m_temp.c_str());
    throw RunError(std::string("cannot ") + what + " " + m_path + ": " + std::strerror(error ? error : EIO));
}

void AtomicFile::write(const void* data, size_t bytes)
{
    errno = 0;
    if (bytes != 0 && std::fwrite(data, 1, bytes, m_stream) != bytes) fail("write");
}

void AtomicFile::commit()
{
    errno = 0;
    if (std::fflush(m_stream) != 0 || std::ferror(m_stream)) fail("write");
    FILE* stream = m_stream;
    m_stream = nullptr;
    if (std::fclose(stream) != 0) {
        const int error = errno;
        unlink(m_temp.c_str());
        throw RunError("cannot write " + m_path + ": " + std::strerror(error));
    }
    if (std::rename(m_temp.c_str(), m_path.c_str()) != 0) {
        const int error = errno;
        unlink(m_temp.c_str());
        throw RunError("cannot rename into " + m_path + ": " + std::strerror(error));
    }
}

}  // namespace vyxcam
