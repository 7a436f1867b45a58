// The log's results, entry formats, console mode and bounds.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "LogTestUtil.h"

using namespace logtest;

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        VYXLOG_LogSet(false, nullptr);
    }
    void TearDown() override { VYXLOG_LogSet(false, nullptr); }

    TempDir dir;
};

TEST_F(LogTest, OffUntilSwitchedOnAndOffAgain)
{
    // Nothing open: every output call is refused.
    EXPECT_EQ(VYXLOG_OutputString(hVYXLog, "x", 1), 1);
    EXPECT_EQ(VYXLOG_OutputStringEx(hVYXLog, 1, "x%d", 1), 1);
    EXPECT_EQ(VYXLOG_OutputError(hVYXLog, ENOENT, 1), 1);
    EXPECT_EQ(VYXLOG_LogSet(false, nullptr), 1);
    HANDLE none = nullptr;
    EXPECT_EQ(VYXLOG_UnInit(&none), 1);

    const int64_t before = NowMs();
    ASSERT_EQ(VYXLOG_LogSet(true, dir.path().c_str()), 0);
    const int64_t after = NowMs();
    ASSERT_NE(hVYXLog, nullptr);

    // The folder argument has no trailing slash: the file lies inside it,
    // named with the local time of the switch-on.
    const std::string path = CurrentLogPath();
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    ASSERT_EQ(sscanf(path.c_str() + dir.path().size(), "/VYXLog_%4d%2d%2d(%2d%2d%2d).txt", &y, &mo, &d, &h, &mi, &s), 6)
        << path;
    char name[64];
    snprintf(name, sizeof name, "/VYXLog_%04d%02d%02d(%02d%02d%02d).txt", y, mo, d, h, mi, s);
    ASSERT_EQ(path, dir.path() + name);
    const int64_t stamp = LocalToMs(y, mo, d, h, mi, s, 0);
    EXPECT_GE(stamp, before / 1000 * 1000);
    EXPECT_LE(stamp, after);
    EXPECT_EQ(ListFolder(dir.path()).size(), 1u);

    ASSERT_EQ(VYXLOG_OutputString(hVYXLog, "VYXLOG_(on)", 1), 0);
    ASSERT_EQ(VYXLOG_LogSet(false, nullptr), 0);
    EXPECT_EQ(hVYXLog, nullptr);
    EXPECT_EQ(VYXLOG_LogSet(false, nullptr), 1);

    // Off: reported as such, the caller's buffer untouched, nothing written.
    bool on = true;
    char buf[VYXLOG_PATH_SIZE];
    memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(VYXLOG_LogGet(&on, buf), 0);
    EXPECT_FALSE(on);
    EXPECT_EQ(buf[0], 'Z');
    EXPECT_EQ(VYXLOG_OutputString(hVYXLog, "VYXLOG_(off)", 1), 1);
    EXPECT_EQ(ReadFile(path).find("off"), std::string::npos);
}

TEST_F(LogTest, TextEntriesCarryTheLocalTimeAndTheText)
{
    ASSERT_EQ(VYXLOG_LogSet(true, dir.path().c_str()), 0);
    const std::string path = CurrentLogPath();
    const int64_t before = NowMs();
    ASSERT_EQ(VYXLOG_OutputString(hVYXLog, "VYXLOG_(++++++++++Start)", 1), 0);
    ASSERT_EQ(VYXLOG_OutputStringEx(hVYXLog, 1, "VYXERR_(%s %d %u)", "code", -1009, 7u), 0);
    ASSERT_EQ(VYXLOG_OutputString(hVYXLog, "level 0 and 9 are written too", 0), 0);
    ASSERT_EQ(VYXLOG_OutputString(hVYXLog, "nine", 9), 0);
    const int64_t after = NowMs();

    const std::vector<std::string> expected = {"VYXLOG_(++++++++++Start)", "VYXERR_(code -1009 7)",
                                               "level 0 and 9 are written too", "nine"};
    const std::string text = ReadFile(path);
    ASSERT_EQ(text.back(), '\n');
    const std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), expected.size()) << text;
    for (size_t i = 0; i < lines.size(); ++i) {
        int64_t ms = 0;
        int msField = 0;
        ASSERT_TRUE(ParsePrefix(lines[i], 0, &ms, &msField)) << lines[i];
        EXPECT_LT(msField, 1000) << "milliseconds, not hundredths";
        EXPECT_GE(ms, before);
        EXPECT_LE(ms, after);
        EXPECT_EQ(lines[i].substr(kPrefixLen), expected[i]);
    }
}

TEST_F(LogTest, ErrorEntriesRunOnOneLine)
{
    ASSERT_EQ(VYXLOG_LogSet(true, dir.path().c_str()), 0);
    ASSERT_EQ(VYXLOG_OutputError(hVYXLog, ENOENT, 1), 0);
    errno = EACCES;
    ASSERT_EQ(VYXLOG_OutputLastError(hVYXLog, 1), 0);
    ASSERT_EQ(VYXLOG_OutputString(hVYXLog, "after", 1), 0);

    // prefix, error text, prefix, error text, prefix, text, line break.
    const std::string text = ReadFile(CurrentLogPath());
    size_t pos = 0;
    for (const std::string& part : {std::string(strerror(ENOENT)), std::string(strerror(EACCES)),
                                   std::string("after\n")}) {
        ASSERT_TRUE(ParsePrefix(text, pos)) << text;
        pos += kPrefixLen;
        ASSERT_EQ(text.compare(pos, part.size(), part), 0) << text;
        pos += part.size();
    }
    EXPECT_EQ(pos, text.size()) << text;
}

TEST_F(LogTest, NegativeLevelWritesNothingInEitherMode)
{
    ASSERT_EQ(VYXLOG_LogSet(true, dir.path().c_str()), 0);
    EXPECT_EQ(VYXLOG_OutputString(hVYXLog, "x", -1), 1);
    EXPECT_EQ(VYXLOG_OutputStringEx(hVYXLog, -5, "%s", "x"), 1);
    EXPECT_EQ(VYXLOG_OutputError(hVYXLog, ENOENT, -1), 1);
    EXPECT_EQ(ReadFile(CurrentLogPath()), "");

    HANDLE console = nullptr;
    ASSERT_EQ(VYXLOG_Init(&console, AsPathArg(dir.path() + "/unused.txt"), false, false), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(VYXLOG_OutputString(console, "x", -1), 1);
    EXPECT_EQ(VYXLOG_OutputError(console, ENOENT, -1), 1);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(VYXLOG_UnInit(&console), 0);
}

TEST_F(LogTest, ConsoleModePrintsAndCreatesNoFile)
{
    const std::string path = dir.path() + "/console.txt";
    HANDLE console = nullptr;
    ASSERT_EQ(VYXLOG_Init(&console, AsPathArg(path), false, true), 0);
    ASSERT_NE(console, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(VYXLOG_OutputString(console, "first", 1), 0);
    EXPECT_EQ(VYXLOG_OutputError(console, ENOENT, 1), 0);
    EXPECT_EQ(VYXLOG_OutputStringEx(console, 1, "second %d", 2), 0);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string("first\n") + strerror(ENOENT) + "second 2\n");
    EXPECT_FALSE(Exists(path));

    // A closed handle is nulled; a stale copy of it is refused everywhere.
    HANDLE copy = console;
    EXPECT_EQ(VYXLOG_UnInit(&console), 0);
    EXPECT_EQ(console, nullptr);
    EXPECT_EQ(VYXLOG_OutputString(copy, "late", 1), 1);
    EXPECT_EQ(VYXLOG_UnInit(&copy), 1);
    EXPECT_EQ(copy, nullptr);
}

TEST_F(LogTest, FolderThatCannotBeMadeLeavesTheLogOff)
{
    ASSERT_EQ(VYXLOG_LogSet(true, dir.path().c_str()), 0);
    // A missing parent: only the last level is created.
    const std::string orphan = dir.path() + "/missing/logs";
    EXPECT_EQ(VYXLOG_LogSet(true, orphan.c_str()), 1);
    EXPECT_EQ(hVYXLog, nullptr);
    EXPECT_EQ(CurrentLogPath(), "");
    EXPECT_FALSE(Exists(dir.path() + "/missing"));

    // A regular file where the folder should be stays as it was.
    const std::string file = dir.path() + "/plain";
    { std::ofstream(file) << "keep"; }
    EXPECT_EQ(VYXLOG_LogSet(true, file.c_str()), 1);
    EXPECT_EQ(hVYXLog, nullptr);
    EXPECT_EQ(ReadFile(file), "keep");

    // A new folder is made when its parent exists.
    const std::string fresh = dir.path() + "/fresh";
    EXPECT_EQ(VYXLOG_LogSet(true, fresh.c_str()), 0);
    EXPECT_TRUE(IsDir(fresh));
    EXPECT_EQ(CurrentLogPath().rfind(fresh + "/VYXLog_", 0), 0u);
}

TEST_F(LogTest, LongPathsAreRefusedAndLongTextsCut)
{
    // The default name has 27 characters: a folder of exactly 99 characters
    // makes a 127-character path, the longest that fits.
    std::string folder = dir.path() + "/";
    ASSERT_LT(folder.size(), 99u);
    folder.append(99 - folder.size(), 'f');
    EXPECT_EQ(VYXLOG_LogSet(true, (folder + "g").c_str()), 1);
    EXPECT_FALSE(Exists(folder + "g")) << "a refused path must leave nothing behind";
    ASSERT_EQ(VYXLOG_LogSet(true, folder.c_str()), 0);
    EXPECT_EQ(CurrentLogPath().size(), 127u);
    EXPECT_EQ(VYXLOG_LogSet(true, std::string(300, 'x').c_str()), 1);

    HANDLE h = nullptr;
    const std::string longName(VYXLOG_PATH_SIZE, 'n');
    EXPECT_EQ(VYXLOG_InitEx(&h, AsPathArg(dir.path()), AsPathArg(longName), true, false), 1);
    EXPECT_EQ(h, nullptr);

    // A file path of 128 bytes gives a handle without a file, not a file under
    // a cut name.
    const std::string longPath = dir.path() + "/" + std::string(VYXLOG_PATH_SIZE, 'p');
    ASSERT_EQ(VYXLOG_Init(&h, AsPathArg(longPath), true, false), 0);
    EXPECT_EQ(VYXLOG_OutputString(h, "x", 1), 1);
    EXPECT_EQ(VYXLOG_UnInit(&h), 0);
    const size_t entries = ListFolder(dir.path()).size();
    EXPECT_EQ(entries, 1u) << "only the 99-character folder";

    // Formatted texts are cut after 1023 characters.
    ASSERT_EQ(VYXLOG_LogSet(true, dir.path().c_str()), 0);
    std::string big;
    for (int i = 0; big.size() < 3000; ++i)
        big += std::to_string(i) + ",";
    ASSERT_EQ(VYXLOG_OutputStringEx(hVYXLog, 1, "%s", big.c_str()), 0);
    const std::string text = ReadFile(CurrentLogPath());
    ASSERT_TRUE(ParsePrefix(text, 0));
    EXPECT_EQ(text.substr(kPrefixLen), big.substr(0, VYXLOG_TEXT_SIZE - 1) + "\n");
}

TEST_F(LogTest, AppPathAndDateTimeHelpers)
{
    EXPECT_EQ(VYXLOG_GetAppPath(nullptr), -1);
    char exe[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    // At most 128 bytes land in the buffer, without a terminator.
    char buf[VYXLOG_PATH_SIZE + 16];
    memset(buf, '#', sizeof buf);
    const int got = VYXLOG_GetAppPath(buf);
    EXPECT_EQ(got, n < VYXLOG_PATH_SIZE ? n : VYXLOG_PATH_SIZE);
    EXPECT_EQ(std::string(buf, got), std::string(exe, got));
    EXPECT_EQ(std::string(buf + got, sizeof buf - got), std::string(sizeof buf - got, '#'));

    struct date dt;
    struct time tm;
    EXPECT_EQ(VYXLOG_GetDateTime(nullptr, &tm), -1);
    EXPECT_EQ(VYXLOG_GetDateTime(&dt, nullptr), -1);
    const int64_t before = NowMs();
    ASSERT_EQ(VYXLOG_GetDateTime(&dt, &tm), 0);
    const int64_t at = LocalToMs(dt.da_year, dt.da_mon, dt.da_day, tm.ti_hour, tm.ti_min, tm.ti_sec,
                                 static_cast<int>(tm.ti_hund));
    EXPECT_GE(at, before);
    EXPECT_LE(at, NowMs());
}

} // namespace
