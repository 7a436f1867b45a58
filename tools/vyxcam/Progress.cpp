// Progress.cpp - "[#######.............]  35/100 frames  23.5 fps".
#include "Progress.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace vyxcam {

namespace {

constexpr int kBarCells = 30;
constexpr double kRedrawSeconds = 0.1;

}  // namespace

double monotonicSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

Progress::Progress(unsigned long total, const char* unit)
    : m_total(total), m_unit(unit), m_enabled(total > 1 && isatty(STDERR_FILENO))
{
}

Progress::~Progress()
{
    if (m_drawn) std::fputc('\n', stderr);
}

void Progress::update(unsigned long done, unsigned long failed, double fps)
{
    if (!m_enabled) return;
    const double now = monotonicSeconds();
    if (done < m_total && m_drawn && now - m_lastDraw < kRedrawSeconds) return;
    m_lastDraw = now;
    m_drawn = true;
    const int cells = static_cast<int>(kBarCells * static_cast<double>(done) / static_cast<double>(m_total));
    const std::string bar = std::string(static_cast<size_t>(cells), '#') + std::string(static_cast<size_t>(kBarCells - cells), '.');
    std::fprintf(stderr, "\r[%s] %lu/%lu %s  %.1f fps", bar.c_str(), done, m_total, m_unit, fps);
    if (failed != 0) std::fprintf(stderr, "  %lu failed", failed);
    std::fflush(stderr);
}

}  // namespace vyxcam
