// Errors.cpp - the one format of a failing library call.
#include "Errors.h"

#include <cstdio>

#include "VYXZebRet.h"

namespace vyxcam {

std::string describeCall(const char* function, int code, const std::string& detail)
{
    return std::string(function) + ": " + std::to_string(code) + " " + VYXZEB_RetName(code) + " (" +
           (detail.empty() ? VYXZEB_RetText(code) : detail) + ")";
}

CallError::CallError(const char* function, int code, const std::string& detail)
    : std::runtime_error(describeCall(function, code, detail)), m_function(function), m_code(code)
{
}

int reportCall(const char* function, int code, const std::string& detail)
{
    std::fprintf(stderr, "%s\n", describeCall(function, code, detail).c_str());
    return code;
}

void check(const char* function, int code, const std::string& detail)
{
    if (code != VYXZEB_RET_SUCCESS) throw CallError(function, code, detail);
}

}  // namespace vyxcam
