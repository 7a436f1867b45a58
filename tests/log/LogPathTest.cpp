// The default log folder beside the executable, also when the executable's
// path does not fit in the 128-byte path buffer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <cstring>

#include "LogTestUtil.h"

extern char** environ;

using namespace logtest;

namespace {

constexpr size_t kDefaultNameLen = 27; // VYXLog_YYYYMMDD(hhmmss).txt

std::string ExePath()
{
    char exe[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    return n > 0 ? std::string(exe, n) : std::string();
}

// Whether the default log of an executable in `dir` (with its trailing "/")
// fits in the path buffer.
bool DefaultFits(const std::string& dir)
{
    return dir.size() + strlen("VYXLog/") + kDefaultNameLen < VYXLOG_PATH_SIZE;
}

TEST(LogDefaultFolder, BesideTheExecutable)
{
    VYXLOG_LogSet(false, nullptr);
    const std::string exe = ExePath();
    ASSERT_FALSE(exe.empty());
    const std::string folder = exe.substr(0, exe.rfind('/') + 1) + "VYXLog";
    if (!DefaultFits(folder.substr(0, folder.size() - 6))) {
        EXPECT_EQ(VYXLOG_LogSet(true, nullptr), 1);
        return;
    }
    const bool existed = IsDir(folder);
    // Null and empty both mean the default.
    ASSERT_EQ(VYXLOG_LogSet(true, ""), 0);
    const std::string first = CurrentLogPath();
    ASSERT_EQ(VYXLOG_LogSet(true, nullptr), 0);
    const std::string path = CurrentLogPath();
    EXPECT_EQ(first.rfind(folder + "/VYXLog_", 0), 0u) << first;
    EXPECT_EQ(path.rfind(folder + "/VYXLog_", 0), 0u) << path;
    EXPECT_EQ(path.size(), folder.size() + 1 + kDefaultNameLen);
    EXPECT_EQ(VYXLOG_OutputString(hVYXLog, "VYXLOG_(default folder)", 1), 0);
    EXPECT_EQ(VYXLOG_LogSet(false, nullptr), 0);
    EXPECT_NE(ReadFile(path).find("VYXLOG_(default folder)"), std::string::npos);

    remove(first.c_str());
    remove(path.c_str());
    if (!existed)
        rmdir(folder.c_str());
}

// Run by the parent below inside a copy of this executable.
TEST(LogChild, SwitchOnBesideExecutable)
{
    const char* expect = getenv("VYX_LOG_CHILD_EXPECT");
    if (expect == nullptr)
        GTEST_SKIP() << "runs only as a child of LongExecutablePath";
    ASSERT_EQ(VYXLOG_LogSet(true, nullptr), atoi(expect));
    if (hVYXLog != nullptr) {
        EXPECT_EQ(VYXLOG_OutputString(hVYXLog, "VYXLOG_(child)", 1), 0);
    }
    VYXLOG_LogSet(false, nullptr);
}

bool CopyFile(const std::string& from, const std::string& to)
{
    {
        std::ifstream in(from, std::ios::binary);
        std::ofstream out(to, std::ios::binary);
        out << in.rdbuf();
        if (!in || !out)
            return false;
    }
    return chmod(to.c_str(), 0755) == 0;
}

// Runs the copy `exe` with the child test; its exit status, 127 if it could
// not be started, -1 if it did not end within the bound.
int RunChild(const std::string& exe, int expect, const std::string& output)
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        env.emplace_back(*e);
    env.push_back("VYX_LOG_CHILD_EXPECT=" + std::to_string(expect));
    std::vector<char*> envp;
    for (auto& s : env)
        envp.push_back(&s[0]);
    envp.push_back(nullptr);
    std::string filter = "--gtest_filter=LogChild.*";
    char* argv[] = {const_cast<char*>(exe.c_str()), &filter[0], nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return 127;

    // Bound the wait: a pidfd becomes readable when the child ends.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        const int ready = poll(&p, 1, 120000);
        close(pidfd);
        if (ready != 1) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return -1;
        }
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST(LogDefaultFolder, LongExecutablePath)
{
    TempDir tmp;
    ASSERT_TRUE(tmp.ok());
    const std::string self = ExePath();
    // Two executables whose paths exceed 128 bytes: one in a folder short
    // enough for the default log path, one in a folder that is too long.
    const std::string name(70, 'e');
    std::string fits = tmp.path() + "/";
    fits.append(90 - fits.size(), 'd');
    std::string tooLong = tmp.path() + "/";
    tooLong.append(100 - tooLong.size(), 'D');
    ASSERT_TRUE(DefaultFits(fits + "/"));
    ASSERT_FALSE(DefaultFits(tooLong + "/"));

    for (const std::string& dir : {fits, tooLong}) {
        SCOPED_TRACE(dir);
        const std::string exe = dir + "/" + name;
        ASSERT_GE(exe.size(), static_cast<size_t>(VYXLOG_PATH_SIZE));
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
        ASSERT_TRUE(CopyFile(self, exe));
        const bool ok = dir == fits;
        const int status = RunChild(exe, ok ? 0 : 1, tmp.path() + "/child.out");
        if (status == 127)
            GTEST_SKIP() << "cannot start a copy of this executable here (emulated target?)";
        EXPECT_EQ(status, 0) << ReadFile(tmp.path() + "/child.out");
        const std::vector<std::string> logs = ListFolder(dir + "/VYXLog");
        if (ok) {
            ASSERT_EQ(logs.size(), 1u);
            EXPECT_NE(ReadFile(dir + "/VYXLog/" + logs[0]).find("VYXLOG_(child)"), std::string::npos);
        } else {
            EXPECT_FALSE(Exists(dir + "/VYXLog"));
        }
    }
}

} // namespace
