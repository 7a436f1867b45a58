// VyxcamRun.cpp - starting, watching and ending the tool's processes.
#include "VyxcamRun.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace vyxcamtest {

namespace {

constexpr std::chrono::milliseconds kPollPeriod{10};

std::vector<std::string> split(const std::string& s, char sep)
{
    std::vector<std::string> out;
    std::stringstream in(s);
    for (std::string part; std::getline(in, part, sep);)
        if (!part.empty()) out.push_back(part);
    return out;
}

// bin/ of the build: ctest says so, else it is where this test lives.
std::string binDir()
{
    const char* bin = std::getenv("VYX_TEST_BIN");
    if (bin != nullptr) return bin;
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return ".";
    const std::string path = self;
    return path.substr(0, path.rfind('/'));
}

int decodeStatus(int status)
{
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

std::map<std::string, NodeUse> ReadNodeReport(const std::string& path)
{
    std::map<std::string, NodeUse> nodes;
    std::istringstream in(ReadText(path));
    std::string node;
    NodeUse use;
    while (in >> node >> use.descriptors >> use.mappings >> use.opens) nodes[node] = use;
    return nodes;
}

void ExpectCameraClosed(const std::string& reportPath)
{
    const std::map<std::string, NodeUse> nodes = ReadNodeReport(reportPath);
    ASSERT_FALSE(nodes.empty()) << "no exit report: the tool did not end through exit()";
    for (const auto& n : nodes) {
        if (n.first == "/dev/mem") continue;   // the PL objects live until the process ends
        EXPECT_EQ(n.second.descriptors, 0) << n.first;
        EXPECT_EQ(n.second.mappings, 0) << n.first;
    }
    EXPECT_GT(nodes.at("/dev/cache_ops").opens, 0) << "the camera was never opened";
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool Contains(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

size_t CountOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

void VyxcamTest::SetUp()
{
    char templ[] = "/tmp/vyxcam-test-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    m_dir = templ;
    ASSERT_TRUE(Exists(binDir() + "/vyxcam")) << "vyxcam is not built in " << binDir();
}

void VyxcamTest::TearDown()
{
    if (!m_dir.empty() && !HasFailure()) {
        const std::string cmd = "rm -rf '" + m_dir + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
}

pid_t VyxcamTest::Start(const std::vector<std::string>& args, const std::vector<std::string>& env)
{
    std::vector<std::string> argv = split(VYX_TEST_EMULATOR, '|');
    for (const std::string& a : {binDir() + "/vyxsim", std::string("--root"), m_dir + "/root", std::string("--"),
                                 binDir() + "/vyxcam"})
        argv.push_back(a);
    argv.insert(argv.end(), args.begin(), args.end());

    std::vector<std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) vars.push_back(*e);
    // The hooks ride along with the board; the tool keeps its log setting here.
    vars.push_back(std::string("VYXSIM_BOARD=") + VYX_TEST_BOARD + ":" + VYX_TEST_HOOKS);
    vars.push_back("XDG_CONFIG_HOME=" + m_dir + "/config");
    vars.insert(vars.end(), env.begin(), env.end());

    std::vector<char*> cargv, cenv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    for (auto& v : vars) cenv.push_back(v.data());
    cenv.push_back(nullptr);

    const int run = ++m_runs;
    const std::string out = Path("stdout-" + std::to_string(run) + ".txt");
    const std::string err = Path("stderr-" + std::to_string(run) + ".txt");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&fa, m_dir.c_str());
    // A group of its own: an overrun kills the launcher and the tool together.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, cargv[0], &fa, &attr, cargv.data(), cenv.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    EXPECT_EQ(rc, 0) << "posix_spawnp " << cargv[0] << ": " << std::strerror(rc);
    m_outputs.emplace_back(pid, run);
    return rc == 0 ? pid : -1;
}

ToolResult VyxcamTest::Finish(pid_t launcher)
{
    ToolResult r;
    if (launcher <= 0) return r;
    int status = 0;
    r.finished = WaitFor([&] { return waitpid(launcher, &status, WNOHANG) == launcher; });
    if (!r.finished) {
        kill(-launcher, SIGKILL);
        waitpid(launcher, &status, 0);
    }
    r.status = decodeStatus(status);
    for (const auto& o : m_outputs) {
        if (o.first != launcher) continue;
        r.out = ReadText(Path("stdout-" + std::to_string(o.second) + ".txt"));
        r.err = ReadText(Path("stderr-" + std::to_string(o.second) + ".txt"));
    }
    return r;
}

pid_t VyxcamTest::ToolPid(pid_t launcher)
{
    const std::string children = "/proc/" + std::to_string(launcher) + "/task/" + std::to_string(launcher) + "/children";
    pid_t tool = -1;
    WaitFor([&] {
        tool = static_cast<pid_t>(std::atoi(ReadText(children).c_str()));
        return tool > 0;
    });
    return tool;
}

ToolResult VyxcamTest::Stop(pid_t launcher, int signal)
{
    const pid_t tool = ToolPid(launcher);
    EXPECT_GT(tool, 0) << "the launcher started no tool";
    if (tool > 0) {
        EXPECT_EQ(kill(tool, signal), 0);
    }
    return Finish(launcher);
}

bool VyxcamTest::WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound)
{
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(kPollPeriod);
    }
    return true;
}

void VyxcamTest::ExpectStatus(const ToolResult& r, int status)
{
    EXPECT_TRUE(r.finished) << "the run did not end in time; stderr:\n" << r.err;
    EXPECT_EQ(r.status, status) << "stdout:\n" << r.out << "\nstderr:\n" << r.err;
    for (const char* bad : {"AddressSanitizer", "LeakSanitizer", "runtime error:"})
        EXPECT_FALSE(Contains(r.err, bad)) << r.err;
}

}  // namespace vyxcamtest
