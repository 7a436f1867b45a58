// Parse.cpp - decimal numbers and comma lists.
#include "Parse.h"

#include <cmath>
#include <cstdlib>

namespace vyxcam {

namespace {

bool allDigits(const std::string& text)
{
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

std::optional<unsigned long> parseUnsigned(const std::string& text, unsigned long max)
{
    if (!allDigits(text)) return std::nullopt;
    unsigned long value = 0;
    for (char c : text) {
        const unsigned long digit = static_cast<unsigned long>(c - '0');
        if (value > (max - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::optional<double> parseNonNegative(const std::string& text)
{
    const size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? std::string() : text.substr(dot + 1);
    if (whole.empty() && fraction.empty()) return std::nullopt;
    if ((!whole.empty() && !allDigits(whole)) || (dot != std::string::npos && !fraction.empty() && !allDigits(fraction)))
        return std::nullopt;
    const double value = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<std::vector<unsigned long>> parseUnsignedList(const std::string& text, size_t count,
                                                            unsigned long max)
{
    std::vector<unsigned long> values;
    size_t start = 0;
    while (values.size() < count) {
        const size_t comma = text.find(',', start);
        const bool last = values.size() + 1 == count;
        if (last != (comma == std::string::npos)) return std::nullopt;
        const auto value = parseUnsigned(text.substr(start, last ? std::string::npos : comma - start), max);
        if (!value) return std::nullopt;
        values.push_back(*value);
        start = comma + 1;
    }
    return values;
}

}  // namespace vyxcam
