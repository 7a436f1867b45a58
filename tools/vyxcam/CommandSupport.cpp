// CommandSupport.cpp - what several subcommands share.
#include <cstdio>

#include "Commands.h"
#include "LogState.h"

namespace vyxcam {

std::string runLogFolder(const GlobalOptions& g)
{
    if (!g.logFolder.empty()) return g.logFolder;
    return savedLogFolder().value_or(std::string());
}

void printJson(const Json& j) { std::printf("%s\n", j.dump(2).c_str()); }

}  // namespace vyxcam
