// Progress.h - a one-line progress bar on standard error, for people: only
// when standard error is a terminal and more than one frame is asked for.
#ifndef VYXCAM_PROGRESS_H
#define VYXCAM_PROGRESS_H

namespace vyxcam {

// Seconds on the monotonic clock, for rates and redraw pacing.
double monotonicSeconds();

class Progress {
public:
    Progress(unsigned long total, const char* unit);
    ~Progress();   // ends the line
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Redraws at most ten times a second, and always for the last frame.
    void update(unsigned long done, unsigned long failed, double fps);

private:
    unsigned long m_total;
    const char* m_unit;
    bool m_enabled;
    bool m_drawn = false;
    double m_lastDraw = 0;
};

}  // namespace vyxcam

#endif
