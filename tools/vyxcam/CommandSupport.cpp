// CommandSupport.cpp - what several subcommands share.
#include <CLI/CLI.hpp>

#include <climits>
#include <cstdio>

#include "Commands.h"
#include "LogState.h"
#include "Parse.h"

namespace vyxcam {

std::string runLogFolder(const GlobalOptions& g)
{
    if (!g.logFolder.empty()) return g.logFolder;
    return savedLogFolder().value_or(std::string());
}

void printJson(const Json& j) { std::printf("%s\n", j.dump(2).c_str()); }

void addCountOption(CLI::App& command, unsigned long& count, const std::string& help)
{
    command
        .add_option_function<std::string>(
            "-n,--count",
            [&count](const std::string& t) {
                const auto n = parseUnsigned(t, ULONG_MAX);
                if (!n || *n == 0) throw CLI::ValidationError("-n", "'" + t + "' is not a number of frames (1 or more)");
                count = *n;
            },
            help)
        ->type_name("N");
}

}  // namespace vyxcam
