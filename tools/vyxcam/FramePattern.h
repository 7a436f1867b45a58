// FramePattern.h - file names of numbered frames: a printf-style pattern
// with at most one integer conversion (%d, %i or %u with flags and width,
// for example "frame-%04d.png"); "%%" is a percent sign.
#ifndef VYXCAM_FRAME_PATTERN_H
#define VYXCAM_FRAME_PATTERN_H

#include <optional>
#include <string>

namespace vyxcam {

class FramePattern {
public:
    // The pattern, or nullopt with *error saying what is wrong with it.
    static std::optional<FramePattern> parse(const std::string& text, std::string* error);

    // The pattern holds a frame number (otherwise every frame gets one name).
    bool numbered() const { return m_numbered; }
    std::string name(unsigned long frame) const;

private:
    std::string m_prefix;
    std::string m_conversion;   // "%04lu": the pattern's flags and width
    std::string m_suffix;
    bool m_numbered = false;
};

}  // namespace vyxcam

#endif
