// The log: results, entry formats, console mode, folders, bounds, the default
// folder beside a long executable path, and switching off under writers.
#include <gtest/gtest.h>

#include "TestSupport.h"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "VYXLog.h"

extern char** environ;

namespace {

constexpr size_t kPrefixLen = 26;      // "YYYY-MM-DD hh-mm-ss-mmmm: "
constexpr size_t kDefaultNameLen = 27; // "VYXLog_YYYYMMDD(hhmmss).txt"

using vyxtest::ReadFile;

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

int64_t NowMs()
{
    timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

int64_t LocalToMs(int year, int mon, int day, int hour, int min, int sec, int ms)
{
    std::tm t{};
    t.tm_year = year - 1900, t.tm_mon = mon - 1, t.tm_mday = day;
    t.tm_hour = hour, t.tm_min = min, t.tm_sec = sec, t.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&t)) * 1000 + ms;
}

// Parses an entry prefix at `pos`: its time stamp (ms since the epoch) and the
// printed milliseconds.  (Plain parsing: std::regex trips a false
// -Wmaybe-uninitialized in the sanitizer build.)
bool ParsePrefix(const std::string& s, size_t pos, int64_t* ms = nullptr, int* msField = nullptr)
{
    static const char shape[] = "dddd-dd-dd dd-dd-dd-dddd: ";
    if (s.size() < pos + kPrefixLen)
        return false;
    for (size_t i = 0; i < kPrefixLen; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[pos + i]);
        if (shape[i] == 'd' ? !isdigit(c) : c != static_cast<unsigned char>(shape[i]))
            return false;
    }
    auto n = [&](size_t off, size_t len) { return std::stoi(s.substr(pos + off, len)); };
    if (ms != nullptr)
        *ms = LocalToMs(n(0, 4), n(5, 2), n(8, 2), n(11, 2), n(14, 2), n(17, 2), n(20, 4));
    if (msField != nullptr)
        *msField = n(20, 4);
    return true;
}

std::string CurrentLogPath()
{
    bool on = false;
    char path[VYXLOG_PATH_SIZE] = {};
    VYXLOG_LogGet(&on, path);
    return on ? std::string(path) : std::string();
}

unsigned int* PathArg(const std::string& s)
{
    return reinterpret_cast<unsigned int*>(const_cast<char*>(s.c_str()));
}

std::string ExePath()
{
    char exe[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    return n > 0 ? std::string(exe, n) : std::string();
}

// Every test works in a private folder under $TMPDIR (or /tmp) with the log off.
class Log : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* base = getenv("TMPDIR");
        std::string tmpl = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vyxlog_XXXXXX";
        ASSERT_NE(mkdtemp(&tmpl[0]), nullptr);
        dir = tmpl;
        VYXLOG_LogSet(false, nullptr);
    }
    void TearDown() override
    {
        VYXLOG_LogSet(false, nullptr);
        nftw(dir.c_str(), [](const char* p, const struct stat*, int, FTW*) { return remove(p); }, 16,
             FTW_DEPTH | FTW_PHYS);
    }
    std::string dir;
};

TEST_F(Log, OffUntilSwitchedOnAndOffAgain)
{
    EXPECT_EQ(VYXLOG_OutputString(hVYXLog, "x", 1), 1);
    EXPECT_EQ(VYXLOG_OutputStringEx(hVYXLog, 1, "x%d", 1), 1);
    EXPECT_EQ(VYXLOG_OutputError(hVYXLog, ENOENT, 1), 1);
    EXPECT_EQ(VYXLOG_LogSet(false, nullptr), 1);

    // No trailing slash on the folder: the file lies inside it, stamped with
    // the local time of the switch-on.
    const int64_t before = NowMs();
    ASSERT_EQ(VYXLOG_LogSet(true, dir.c_str()), 0);
    const int64_t after = NowMs();
    const std::string path = CurrentLogPath();
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    ASSERT_EQ(sscanf(path.c_str() + dir.size(), "/VYXLog_%4d%2d%2d(%2d%2d%2d).txt", &y, &mo, &d, &h, &mi, &s), 6);
    char name[64];
    snprintf(name, sizeof name, "/VYXLog_%04d%02d%02d(%02d%02d%02d).txt", y, mo, d, h, mi, s);
    ASSERT_EQ(path, dir + name);
    EXPECT_GE(LocalToMs(y, mo, d, h, mi, s, 0), before / 1000 * 1000);
    EXPECT_LE(LocalToMs(y, mo, d, h, mi, s, 0), after);

    ASSERT_EQ(VYXLOG_LogSet(false, nullptr), 0);
    EXPECT_EQ(hVYXLog, nullptr);
    EXPECT_EQ(VYXLOG_LogSet(false, nullptr), 1);
    bool on = true;
    char buf[VYXLOG_PATH_SIZE];
    memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(VYXLOG_LogGet(&on, buf), 0);
    EXPECT_FALSE(on);
    EXPECT_EQ(buf[0], 'Z') << "folder buffer must stay untouched while off";
}

TEST_F(Log, EntryFormatsAgainstTheClock)
{
    ASSERT_EQ(VYXLOG_LogSet(true, dir.c_str()), 0);
    const int64_t before = NowMs();
    ASSERT_EQ(VYXLOG_OutputString(hVYXLog, "VYXLOG_(++++++++++Start)", 1), 0);
    ASSERT_EQ(VYXLOG_OutputStringEx(hVYXLog, 0, "VYXERR_(%s %d %u)", "code", -1009, 7u), 0);
    ASSERT_EQ(VYXLOG_OutputError(hVYXLog, ENOENT, 9), 0);
    errno = EACCES;
    ASSERT_EQ(VYXLOG_OutputLastError(hVYXLog, 1), 0);
    // An error entry is in the file at once, as a text entry is: a process
    // that dies right after it must not lose it.
    const std::string sofar = ReadFile(CurrentLogPath());
    const std::string lastError = strerror(EACCES);
    ASSERT_GE(sofar.size(), lastError.size());
    EXPECT_EQ(sofar.substr(sofar.size() - lastError.size()), lastError) << sofar;
    ASSERT_EQ(VYXLOG_OutputString(hVYXLog, "after", 1), 0);
    const int64_t after = NowMs();
    // Negative levels are never written.
    EXPECT_EQ(VYXLOG_OutputString(hVYXLog, "x", -1), 1);
    EXPECT_EQ(VYXLOG_OutputStringEx(hVYXLog, -5, "%s", "x"), 1);
    EXPECT_EQ(VYXLOG_OutputError(hVYXLog, ENOENT, -1), 1);

    // Text entries end the line; the two error entries run on into the next.
    const std::string text = ReadFile(CurrentLogPath());
    size_t pos = 0;
    for (const std::string& part : {std::string("VYXLOG_(++++++++++Start)\n"), std::string("VYXERR_(code -1009 7)\n"),
                                    std::string(strerror(ENOENT)), std::string(strerror(EACCES)),
                                    std::string("after\n")}) {
        int64_t ms = 0;
        int msField = 0;
        ASSERT_TRUE(ParsePrefix(text, pos, &ms, &msField)) << text;
        EXPECT_LT(msField, 1000) << "milliseconds, not hundredths";
        EXPECT_GE(ms, before);
        EXPECT_LE(ms, after);
        pos += kPrefixLen;
        ASSERT_EQ(text.compare(pos, part.size(), part), 0) << text;
        pos += part.size();
    }
    EXPECT_EQ(pos, text.size()) << text;
}

TEST_F(Log, ConsoleModePrintsAndCreatesNoFile)
{
    const std::string path = dir + "/console.txt";
    HANDLE console = nullptr;
    ASSERT_EQ(VYXLOG_Init(&console, PathArg(path), false, true), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(VYXLOG_OutputString(console, "first", 1), 0);
    EXPECT_EQ(VYXLOG_OutputError(console, ENOENT, 1), 0);
    EXPECT_EQ(VYXLOG_OutputString(console, "hidden", -1), 1);
    EXPECT_EQ(VYXLOG_OutputStringEx(console, 1, "second %d", 2), 0);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string("first\n") + strerror(ENOENT) + "second 2\n");
    EXPECT_FALSE(Exists(path));

    // A closed handle is nulled; a stale copy of it is refused everywhere.
    HANDLE copy = console;
    EXPECT_EQ(VYXLOG_UnInit(&console), 0);
    EXPECT_EQ(console, nullptr);
    EXPECT_EQ(VYXLOG_UnInit(&console), 1);
    EXPECT_EQ(VYXLOG_OutputString(copy, "late", 1), 1);
    EXPECT_EQ(VYXLOG_UnInit(&copy), 1);
}

TEST_F(Log, FolderThatCannotBeMadeLeavesTheLogOff)
{
    ASSERT_EQ(VYXLOG_LogSet(true, dir.c_str()), 0);
    EXPECT_EQ(VYXLOG_LogSet(true, (dir + "/missing/logs").c_str()), 1) << "only the last level is made";
    EXPECT_EQ(hVYXLog, nullptr);
    EXPECT_EQ(CurrentLogPath(), "");
    EXPECT_FALSE(Exists(dir + "/missing"));

    const std::string file = dir + "/plain";
    std::ofstream(file) << "keep";
    EXPECT_EQ(VYXLOG_LogSet(true, file.c_str()), 1);
    EXPECT_EQ(hVYXLog, nullptr);
    EXPECT_EQ(ReadFile(file), "keep");
}

// The folder is there but the file is not: every name the next half minute
// could stamp is taken by a folder, so the log file cannot be opened.
TEST_F(Log, FileThatCannotBeCreatedLeavesTheLogOff)
{
    const time_t now = time(nullptr);
    for (time_t t = now - 1; t <= now + 30; ++t) {
        std::tm local{};
        localtime_r(&t, &local);
        char name[64];
        strftime(name, sizeof name, "/VYXLog_%Y%m%d(%H%M%S).txt", &local);
        ASSERT_EQ(mkdir((dir + name).c_str(), 0755), 0);
    }
    EXPECT_EQ(VYXLOG_LogSet(true, dir.c_str()), 1);
    EXPECT_EQ(hVYXLog, nullptr);
    EXPECT_EQ(CurrentLogPath(), "");
}

TEST_F(Log, LongPathsAreRefusedAndLongTextsCut)
{
    // A folder of 99 characters and the default name make 127, the most.
    std::string folder = dir + "/";
    ASSERT_LT(folder.size(), 99u);
    folder.append(99 - folder.size(), 'f');
    EXPECT_EQ(VYXLOG_LogSet(true, (folder + "g").c_str()), 1);
    EXPECT_FALSE(Exists(folder + "g")) << "a refused path leaves nothing behind";
    ASSERT_EQ(VYXLOG_LogSet(true, folder.c_str()), 0);
    EXPECT_EQ(CurrentLogPath().size(), 127u);
    // Another log's failed opening does not change the SDK log's reported path.
    const std::string sdkLog = CurrentLogPath();
    HANDLE h = nullptr;
    EXPECT_EQ(VYXLOG_InitEx(&h, PathArg(dir), PathArg(std::string(VYXLOG_PATH_SIZE, 'n')), true, false), 1);
    EXPECT_EQ(CurrentLogPath(), sdkLog);
    EXPECT_EQ(VYXLOG_LogSet(true, std::string(300, 'x').c_str()), 1);

    // A 128-byte file path gives a handle without a file, not a cut name.
    ASSERT_EQ(VYXLOG_Init(&h, PathArg(dir + "/" + std::string(VYXLOG_PATH_SIZE, 'p')), true, false), 0);
    EXPECT_EQ(VYXLOG_OutputString(h, "x", 1), 1);
    EXPECT_EQ(VYXLOG_UnInit(&h), 0);

    ASSERT_EQ(VYXLOG_LogSet(true, dir.c_str()), 0);
    std::string big;
    for (int i = 0; big.size() < 3000; ++i)
        big += std::to_string(i) + ",";
    ASSERT_EQ(VYXLOG_OutputStringEx(hVYXLog, 1, "%s", big.c_str()), 0);
    const std::string text = ReadFile(CurrentLogPath());
    ASSERT_TRUE(ParsePrefix(text, 0));
    EXPECT_EQ(text.substr(kPrefixLen), big.substr(0, VYXLOG_TEXT_SIZE - 1) + "\n");

    // The executable's path: at most 128 bytes, no terminator added.
    EXPECT_EQ(VYXLOG_GetAppPath(nullptr), -1);
    const std::string exe = ExePath();
    char buf[VYXLOG_PATH_SIZE + 16];
    memset(buf, '#', sizeof buf);
    const int got = VYXLOG_GetAppPath(buf);
    ASSERT_EQ(got, static_cast<int>(std::min<size_t>(exe.size(), VYXLOG_PATH_SIZE)));
    EXPECT_EQ(std::string(buf, got), exe.substr(0, got));
    EXPECT_EQ(std::string(buf + got, sizeof buf - got), std::string(sizeof buf - got, '#'));
}

TEST_F(Log, DefaultFolderBesideTheExecutable)
{
    const std::string exe = ExePath();
    const std::string folder = exe.substr(0, exe.rfind('/') + 1) + "VYXLog";
    if (folder.size() + 1 + kDefaultNameLen >= VYXLOG_PATH_SIZE) {
        EXPECT_EQ(VYXLOG_LogSet(true, nullptr), 1);
        return;
    }
    const bool existed = Exists(folder);
    ASSERT_EQ(VYXLOG_LogSet(true, ""), 0);
    const std::string path = CurrentLogPath();
    EXPECT_EQ(path.rfind(folder + "/VYXLog_", 0), 0u) << path;
    EXPECT_EQ(path.size(), folder.size() + 1 + kDefaultNameLen);
    EXPECT_EQ(VYXLOG_LogSet(false, nullptr), 0);
    remove(path.c_str());
    if (!existed)
        rmdir(folder.c_str());
}

// Run only as a child of LongExecutablePath, inside a copy of this program.
TEST(LogChild, SwitchOnBesideExecutable)
{
    const char* expect = getenv("VYX_LOG_CHILD_EXPECT");
    if (expect == nullptr)
        GTEST_SKIP() << "child of LongExecutablePath only";
    ASSERT_EQ(VYXLOG_LogSet(true, nullptr), atoi(expect));
    EXPECT_EQ(VYXLOG_OutputString(hVYXLog, "VYXLOG_(child)", 1), atoi(expect));
    VYXLOG_LogSet(false, nullptr);
}

// Exit status of the child test run in `exe`; 127 if it cannot be started.
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
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0)
        return 127;
    // Bounded wait: the pidfd turns readable when the child ends.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    pollfd p{pidfd, POLLIN, 0};
    if (pidfd >= 0 && poll(&p, 1, 120000) != 1)
        kill(pid, SIGKILL);
    if (pidfd >= 0)
        close(pidfd);
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(Log, LongExecutablePath)
{
    // Executables whose paths exceed 128 bytes: in a folder short enough for
    // the default log path, and in one that is too long for it.
    const std::string name(70, 'e');
    for (const size_t dirLen : {90u, 100u}) {
        std::string sub = dir + "/";
        sub.append(dirLen - sub.size(), 'd');
        const bool fits = sub.size() + strlen("/VYXLog/") + kDefaultNameLen < VYXLOG_PATH_SIZE;
        ASSERT_EQ(fits, dirLen == 90u);
        const std::string exe = sub + "/" + name;
        ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
        {
            std::ifstream in(ExePath(), std::ios::binary);
            std::ofstream(exe, std::ios::binary) << in.rdbuf();
        }
        ASSERT_EQ(chmod(exe.c_str(), 0755), 0);
        const int status = RunChild(exe, fits ? 0 : 1, dir + "/child.out");
        if (status == 127)
            GTEST_SKIP() << "a copy of this program cannot be started here (emulated target)";
        EXPECT_EQ(status, 0) << ReadFile(dir + "/child.out");
        EXPECT_EQ(Exists(sub + "/VYXLog"), fits);
    }
}

TEST_F(Log, SwitchingOffWhileOthersWrite)
{
    constexpr int kWriters = 4, kRounds = 40, kWritesPerHandle = 8;
    constexpr long kMaxWrites = 50000000; // only bounds a runaway
    std::atomic<bool> stop{false};
    std::atomic<long> written{0}, bad{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < kWriters; ++t) {
        writers.emplace_back([&, t] {
            for (long i = 0; i < kMaxWrites && !stop.load();) {
                // Callers pass hVYXLog by value and keep using the value while
                // another thread switches off.  (The word is read atomically
                // here; on the board a plain aligned word read is.)
                HANDLE h = __atomic_load_n(&hVYXLog, __ATOMIC_RELAXED);
                for (int k = 0; k < kWritesPerHandle; ++k, ++i) {
                    const int r = k % 2 ? VYXLOG_OutputString(h, "VYXLOG_(plain)", 1)
                                        : VYXLOG_OutputStringEx(h, 1, "VYXLOG_(writer %d entry %ld)", t, i);
                    if (r == 0)
                        written.fetch_add(1);
                    else if (r != 1)
                        bad.fetch_add(1);
                }
            }
        });
    }
    // Each round switches on, waits (bounded) until a writer got through the
    // new log, and switches off while the writers keep going.
    std::set<std::string> files; // a switch-on within the same second reuses the file
    int round = 0;
    for (; round < kRounds; ++round) {
        const long before = written.load();
        if (VYXLOG_LogSet(true, dir.c_str()) != 0)
            break;
        files.insert(CurrentLogPath());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (written.load() == before && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        EXPECT_EQ(VYXLOG_LogSet(false, nullptr), 0);
        if (written.load() == before)
            break;
    }
    stop = true;
    for (auto& w : writers)
        w.join();
    EXPECT_EQ(round, kRounds);
    EXPECT_EQ(bad.load(), 0);

    // Every line of every file is one whole entry.
    long lines = 0;
    for (const std::string& file : files) {
        std::stringstream ss(ReadFile(file));
        for (std::string line; std::getline(ss, line); ++lines) {
            int t = -1;
            long i = -1;
            ASSERT_TRUE(ParsePrefix(line, 0)) << line;
            const std::string text = line.substr(kPrefixLen);
            ASSERT_TRUE(text == "VYXLOG_(plain)" ||
                        (sscanf(text.c_str(), "VYXLOG_(writer %d entry %ld", &t, &i) == 2 &&
                         text == "VYXLOG_(writer " + std::to_string(t) + " entry " + std::to_string(i) + ")"))
                << line;
        }
    }
    EXPECT_EQ(lines, written.load());
}

} // namespace
