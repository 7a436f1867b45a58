// Parse.h - the number forms vyxcam reads from its command line: plain
// decimal digits only (no sign, no octal or hexadecimal, no spaces), so that
// "010" is ten and "-1" is refused rather than wrapped.
#ifndef VYXCAM_PARSE_H
#define VYXCAM_PARSE_H

#include <optional>
#include <string>
#include <vector>

namespace vyxcam {

// A whole number from 0 up to max.
std::optional<unsigned long> parseUnsigned(const std::string& text, unsigned long max);

// A finite decimal number, 0 or more ("2.5", "10", ".5"; no exponent).
std::optional<double> parseNonNegative(const std::string& text);

// Exactly count whole numbers separated by commas ("0,0,640,480").
std::optional<std::vector<unsigned long>> parseUnsignedList(const std::string& text, size_t count,
                                                            unsigned long max);

}  // namespace vyxcam

#endif
