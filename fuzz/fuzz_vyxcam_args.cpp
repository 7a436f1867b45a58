// fuzz_vyxcam_args - vyxcam's command line, every subcommand and option.
//
// The input is a command line, one argument a line (at most 64 arguments).
// It is read by the tool's own reader (runCommandLine, CommandLine.cpp); the
// subcommands it would run are replaced here by stand-ins that only check
// what the reader handed over, so no input can reach the camera.  Runs on
// the virtual board: after every input no device node has been opened,
// whatever the arguments named.  Checked on every subcommand the reader
// accepts:
//   - the exit status is 0 (run), 2 (usage) or help/version's 0;
//   - settings satisfy the API's fixed limits (SettingsCheck.h);
//   - capture: a count of 1 or more, a known format, and an output pattern
//     that, when accepted, names frame 0, 1 and the last possible frame
//     without reading a printf argument that is not there (AddressSanitizer);
//   - show: a rectangle inside the 1280 x 720 screen;
//   - serve: a host and a port of 0..65535, 1..64 streams.
// The reader's messages and help text are thrown away (the C and C++ streams
// point at /dev/null), so the sanitizers' reports still reach standard error.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <iostream>
#include <streambuf>
#include <sstream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"
#include "FramePattern.h"
#include "ImageFile.h"
#include "SettingsCheck.h"
#include "VyxBoard.h"

namespace {

constexpr const char* kTarget = "fuzz_vyxcam_args";
constexpr size_t kMaxArguments = 64;

// Standard error as the process got it: the reader's own messages go to
// /dev/null while it runs.
FILE* g_report = stderr;
FILE* g_null = nullptr;

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(g_report, "%s: %s\n", kTarget, what.c_str());
    std::abort();
}

// A stream buffer that keeps nothing.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// The subcommand a stand-in was called for, "" when none ran.
std::string g_ran;

void CheckPattern(const vyxcam::CaptureOptions& o)
{
    std::string error;
    const auto pattern = vyxcam::FramePattern::parse(o.pattern, &error);
    if (!pattern) {
        if (error.empty())
            Fail("a refused pattern without a reason");
        return;
    }
    const std::string first = pattern->name(0), second = pattern->name(1), last = pattern->name(ULONG_MAX);
    if (pattern->numbered()) {
        if (first == second)
            Fail("a numbered pattern names frames 0 and 1 alike: " + o.pattern);
        if (last.find(std::to_string(ULONG_MAX)) == std::string::npos)
            Fail("the last frame's number is missing from " + last);
    } else if (first != second || first != last) {
        Fail("an unnumbered pattern names frames differently: " + o.pattern);
    }
}

}  // namespace

// Stand-ins for the subcommands (CaptureCommand.cpp and the others are not
// linked): they check what the command line gave them and run nothing.
namespace vyxcam {

int runInfo(const GlobalOptions&)
{
    g_ran = "info";
    return 0;
}

int runCapture(const CaptureOptions& o, const GlobalOptions&)
{
    g_ran = "capture";
    if (o.count == 0)
        Fail("capture accepted a count of 0");
    if (!o.format.empty() && !formatFromName(o.format))
        Fail("capture accepted the format " + o.format);
    vyxfuzz::CheckSettings(kTarget, o.settings);
    CheckPattern(o);
    return 0;
}

int runShow(const ShowOptions& o, const GlobalOptions&)
{
    g_ran = "show";
    if (o.at && (o.at->width == 0 || o.at->height == 0 || o.at->x + o.at->width > kScreenWidth ||
                 o.at->y + o.at->height > kScreenHeight))
        Fail("show accepted a rectangle outside the screen");
    vyxfuzz::CheckSettings(kTarget, o.settings);
    return 0;
}

int runServe(const ServeOptions& o, const GlobalOptions&)
{
    g_ran = "serve";
    if (o.host.empty() || o.port < 0 || o.port > 65535)
        Fail("serve accepted an address without host or port");
    if (o.maxStreams < 1 || o.maxStreams > kMaxStreams)
        Fail("serve accepted a stream count outside 1..64");
    vyxfuzz::CheckSettings(kTarget, o.settings);
    return 0;
}

int runGpioGet(const GpioOptions&, const GlobalOptions&)
{
    g_ran = "gpio get";
    return 0;
}

int runGpioSet(const GpioOptions& o, const GlobalOptions&)
{
    g_ran = "gpio set";
    if (o.lines.empty())
        Fail("gpio set ran without a line");
    return 0;
}

int runGpioStatus(const GlobalOptions&)
{
    g_ran = "gpio status";
    return 0;
}

int runLogOn(const std::string& folder, const GlobalOptions&)
{
    g_ran = "log on";
    if (folder.empty())
        Fail("log on ran without a folder");
    return 0;
}

int runLogOff(const GlobalOptions&)
{
    g_ran = "log off";
    return 0;
}

int runLogStatus(const GlobalOptions&)
{
    g_ran = "log status";
    return 0;
}

}  // namespace vyxcam

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Help, version and usage texts go nowhere; descriptors 1 and 2 stay for
    // the fuzzer and the sanitizers.
    g_null = std::fopen("/dev/null", "w");
    if (g_null == nullptr)
        Fail("cannot open /dev/null");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> args{"vyxcam"};
    std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream lines(text);
    for (std::string arg; args.size() <= kMaxArguments && std::getline(lines, arg);)
        args.push_back(arg);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    vb::resetCounters();
    g_ran.clear();
    // The streams point at the sink only while the reader runs: at exit they
    // flush into their own buffers again.
    static NullBuffer sink;
    FILE* const out = stdout;
    stdout = stderr = g_null;
    std::streambuf* const cout = std::cout.rdbuf(&sink);
    std::streambuf* const cerr = std::cerr.rdbuf(&sink);
    const int status = vyxcam::runCommandLine(static_cast<int>(args.size()), argv.data());
    std::cout.rdbuf(cout);
    std::cerr.rdbuf(cerr);
    stdout = out;
    stderr = g_report;
    if (status != 0 && status != vyxcam::kExitUsage)
        Fail("exit status " + std::to_string(status));
    if (status == vyxcam::kExitUsage && !g_ran.empty())
        Fail(g_ran + " ran, yet the status says a usage error");
    for (int n = 0; n < vb::kNodeCount; ++n) {
        if (vb::callCount(static_cast<vb::Node>(n), vb::Op::Open) != 0)
            Fail(std::string("reading the command line opened ") + vb::nodePath(static_cast<vb::Node>(n)));
    }
    return 0;
}
