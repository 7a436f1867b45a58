// VyxcamRun.h - runs vyxcam as a process on the virtual board:
//   vyxsim --root DIR/root -- vyxcam ARGS
// with the test hooks preloaded beside the board (vyxcam_test_hooks.cpp),
// the working directory and the tool's configuration folder inside a fresh
// temporary folder, and every wait bounded.
#ifndef VYXCAM_RUN_H
#define VYXCAM_RUN_H

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vyxcamtest {

// Long enough for a loaded 2-core machine under qemu or the sanitizers.
constexpr std::chrono::seconds kRunBound{240};

struct ToolResult {
    bool finished = false;   // ended within kRunBound
    int status = -1;         // exit status; 128 + signal when one ended it
    std::string out;
    std::string err;
};

class VyxcamTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the tool; returns the launcher's process id.  env adds NAME=VALUE
    // entries (VYXCAM_HOOK_... for the hooks).
    pid_t Start(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
    // Waits for the launcher (which ends with the tool's status).
    ToolResult Finish(pid_t launcher);
    ToolResult Run(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
    {
        return Finish(Start(args, env));
    }
    // The tool's own process id: the launcher's child.
    pid_t ToolPid(pid_t launcher);
    // Sends the tool a signal (as Ctrl-C or a service manager would) and
    // waits for the launcher.
    ToolResult Stop(pid_t launcher, int signal);

    // A path inside the test's folder.
    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    // Host path of a camera picture folder file ("/picture/data/x.bmp").
    std::string PicturePath(const std::string& boardPath) const { return m_dir + "/root" + boardPath; }

    // Polls until done() or the bound passes.
    static bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound = kRunBound);

    // Exit status as expected, and no sanitizer report.
    static void ExpectStatus(const ToolResult& r, int status);

private:
    std::string m_dir;
    int m_runs = 0;
    std::vector<std::pair<pid_t, int>> m_outputs;   // launcher, run number
};

// The hooks' exit report (VYXCAM_HOOK_REPORT): per device node path, what
// was still open when the tool exited and how often it had been opened.
struct NodeUse {
    int descriptors = 0;
    int mappings = 0;
    int opens = 0;
};
std::map<std::string, NodeUse> ReadNodeReport(const std::string& path);
// Nothing the camera opens is left open (an empty report fails: the tool
// did not end through exit()).
void ExpectCameraClosed(const std::string& reportPath);

bool Exists(const std::string& path);
std::string ReadText(const std::string& path);
bool Contains(const std::string& text, const std::string& what);
size_t CountOf(const std::string& text, const std::string& what);

}  // namespace vyxcamtest

#endif
