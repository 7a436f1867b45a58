// FramePattern.cpp - checks a pattern once, then formats names safely.
#include "FramePattern.h"

#include <cstdio>
#include <cstring>

namespace vyxcam {

namespace {

constexpr const char* kFlags = "-0";   // the flags that mean something for an unsigned number
constexpr size_t kMaxWidthDigits = 2;

}  // namespace

std::optional<FramePattern> FramePattern::parse(const std::string& text, std::string* error)
{
    FramePattern p;
    std::string* part = &p.m_prefix;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            *part += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '%') {
            *part += '%';
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < text.size() && std::strchr(kFlags, text[j]) != nullptr && text[j] != '\0') ++j;
        const size_t widthStart = j;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
        const bool widthOk = j - widthStart <= kMaxWidthDigits;
        if (j >= text.size() || !widthOk || std::strchr("diu", text[j]) == nullptr || text[j] == '\0') {
            *error = "'" + text + "': only a frame number such as %d or %04d may follow a %";
            return std::nullopt;
        }
        if (p.m_numbered) {
            *error = "'" + text + "' has more than one frame number";
            return std::nullopt;
        }
        // The number is unsigned: print it as such, whatever letter was used.
        p.m_conversion = text.substr(i, j - i) + "lu";
        p.m_numbered = true;
        part = &p.m_suffix;
        i = j;
    }
    if (p.m_prefix.empty() && p.m_suffix.empty() && !p.m_numbered) {
        *error = "the file name is empty";
        return std::nullopt;
    }
    return p;
}

std::string FramePattern::name(unsigned long frame) const
{
    if (!m_numbered) return m_prefix;
    char number[64];
    std::snprintf(number, sizeof number, m_conversion.c_str(), frame);
    return m_prefix + number + m_suffix;
}

}  // namespace vyxcam
