// GpioCommand.cpp - `vyxcam gpio get|set|status`: the camera's GPIO lines
// by number.  Outputs keep the level the driver was given; which lines are
// outputs is the board's direction mask (VYXZEB_GpioGetDirection).
#include <climits>
#include <cstdio>
#include <vector>

#include "Camera.h"
#include "Commands.h"
#include "Errors.h"
#include "Parse.h"
#include "VYXZebApi.h"

namespace vyxcam {

namespace {

struct LineLevel {
    unsigned line = 0;
    bool level = false;
};

struct GpioLines {
    unsigned short count = 0;
    unsigned short outputs = 0;   // direction mask: bit set = output

    bool isOutput(unsigned line) const { return line < sizeof outputs * 8 && ((outputs >> line) & 1u) != 0; }
};

GpioLines readLines()
{
    GpioLines g;
    VYXCAM_CHECK(VYXZEB_GpioGetNum, &g.count);
    VYXCAM_CHECK(VYXZEB_GpioGetDirection, &g.outputs);
    return g;
}

unsigned lineValue(const std::string& text)
{
    const auto line = parseUnsigned(text, UINT_MAX);
    if (!line) throw UsageError("'" + text + "' is not a line number");
    return static_cast<unsigned>(*line);
}

LineLevel assignment(const std::string& text)
{
    const size_t eq = text.find('=');
    const std::string level = eq == std::string::npos ? std::string() : text.substr(eq + 1);
    if (eq == std::string::npos || (level != "0" && level != "1"))
        throw UsageError("'" + text + "' is not LINE=0 or LINE=1");
    return LineLevel{lineValue(text.substr(0, eq)), level == "1"};
}

void checkLine(const GpioLines& g, unsigned line, bool forOutput)
{
    if (line >= g.count)
        throw UsageError("line " + std::to_string(line) + ": the camera has lines 0 to " + std::to_string(g.count - 1));
    if (forOutput && !g.isOutput(line)) {
        std::string outs;
        for (unsigned l = 0; l < g.count; ++l)
            if (g.isOutput(l)) outs += (outs.empty() ? "" : " ") + std::to_string(l);
        throw UsageError("line " + std::to_string(line) + " is an input; the outputs are " + outs);
    }
}

std::vector<LineLevel> readLevels(const std::vector<unsigned>& lines)
{
    std::vector<LineLevel> levels;
    for (unsigned line : lines) {
        bool level = false;
        const int rc = VYXZEB_GpioGet(line, &level);
        check("VYXZEB_GpioGet", rc, "line " + std::to_string(line) + ": no GPIO device, or the driver refused the read");
        levels.push_back(LineLevel{line, level});
    }
    return levels;
}

void printLevels(const std::vector<LineLevel>& levels, const GpioLines& g, bool json)
{
    if (json) {
        Json lines = Json::array();
        for (const LineLevel& l : levels)
            lines.push_back(Json{{"line", l.line}, {"level", l.level ? 1 : 0}, {"direction", g.isOutput(l.line) ? "out" : "in"}});
        printJson(Json{{"lines", lines}});
        return;
    }
    for (size_t i = 0; i < levels.size(); ++i)
        std::printf("%s%u=%d", i ? " " : "", levels[i].line, levels[i].level ? 1 : 0);
    std::printf("\n");
}

}  // namespace

int runGpioGet(const GpioOptions& o, const GlobalOptions& opts)
{
    std::vector<unsigned> wanted;
    for (const std::string& t : o.lines) wanted.push_back(lineValue(t));
    Camera camera(0, runLogFolder(opts));
    const GpioLines g = readLines();
    if (wanted.empty())
        for (unsigned l = 0; l < g.count; ++l) wanted.push_back(l);
    for (unsigned l : wanted) checkLine(g, l, false);
    printLevels(readLevels(wanted), g, opts.json);
    return kExitOk;
}

int runGpioSet(const GpioOptions& o, const GlobalOptions& opts)
{
    std::vector<LineLevel> sets;
    for (const std::string& t : o.lines) sets.push_back(assignment(t));
    Camera camera(0, runLogFolder(opts));
    const GpioLines g = readLines();
    for (const LineLevel& s : sets) checkLine(g, s.line, true);
    std::vector<unsigned> lines;
    for (const LineLevel& s : sets) {
        const int rc = VYXZEB_GpioSet(s.line, s.level);
        check("VYXZEB_GpioSet", rc, "line " + std::to_string(s.line) + ": no GPIO device, or the driver refused the write");
        lines.push_back(s.line);
    }
    // What the driver reports back for the lines just set.
    printLevels(readLevels(lines), g, opts.json);
    return kExitOk;
}

int runGpioStatus(const GlobalOptions& opts)
{
    Camera camera(0, runLogFolder(opts));
    const GpioLines g = readLines();
    unsigned short levels = 0;
    VYXCAM_CHECK(VYXZEB_GpioGetStatus, &levels);
    if (opts.json) {
        Json lines = Json::array();
        for (unsigned l = 0; l < g.count; ++l)
            lines.push_back(Json{{"line", l}, {"level", (levels >> l) & 1u}, {"direction", g.isOutput(l) ? "out" : "in"}});
        printJson(Json{{"count", g.count}, {"direction_mask", g.outputs}, {"levels", levels}, {"lines", lines}});
        return kExitOk;
    }
    std::printf("%u lines, direction mask 0x%02X, levels 0x%02X\n", g.count, g.outputs, levels);
    for (unsigned l = 0; l < g.count; ++l)
        std::printf("line %u: %-3s %u\n", l, g.isOutput(l) ? "out" : "in", (levels >> l) & 1u);
    return kExitOk;
}

}  // namespace vyxcam
