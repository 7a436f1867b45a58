// The BMP writer's handling of the name it saves under: names that cannot be
// created are refused before anything is written, an existing image is
// replaced only where this process could write it and keeps its permissions
// and owner, and temporary files of saves that were killed half-way are
// cleared by the next save into their folder.
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "BmpTestSupport.h"
#include "TestSupport.h"
#include "VYXZebApi.h"
#include "VyxBoard.h"

using namespace bmptest;

namespace {

constexpr uid_t kOrdinaryId = 65534;   // "nobody"
constexpr int kWidth = 8, kHeight = 8;
constexpr off_t kFileBytes = 1078 + kWidth * kHeight;

struct FileState {
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    off_t size = -1;
};

FileState StateOf(const std::string& boardPath) {
    struct stat st;
    FileState s;
    if (lstat(Host(boardPath).c_str(), &st) == 0) s = {st.st_mode & 07777, st.st_uid, st.st_gid, st.st_size};
    return s;
}

// This thread's file accesses made as an ordinary user for the life of the
// object.  Run as root, the file-system identity of the calling thread
// alone changes (setfsuid), and the sandbox's folders are opened to it; run
// as an ordinary user, nothing needs to change.
class OrdinaryUser {
public:
    OrdinaryUser() {
        if (geteuid() != 0) {
            m_bOk = true;
            return;
        }
        for (const char* folder : {"", "/picture", "/picture/sd", "/picture/data"}) {
            const std::string host = folder[0] ? Host(folder) : vb::sandboxRoot();
            struct stat st;
            if (stat(host.c_str(), &st) != 0) return;
            m_saved.push_back({host, st.st_mode & 07777});
            chmod(host.c_str(), 0777);
        }
        setfsgid(kOrdinaryId);
        setfsuid(kOrdinaryId);
        m_bSwitched = true;
        m_bOk = setfsuid(static_cast<uid_t>(-1)) == kOrdinaryId;
    }
    ~OrdinaryUser() {
        if (m_bSwitched) {
            setfsuid(0);
            setfsgid(0);
        }
        for (const Saved& s : m_saved) chmod(s.path.c_str(), s.mode);
    }
    bool ok() const { return m_bOk; }
    uid_t uid() const { return geteuid() == 0 ? kOrdinaryId : geteuid(); }

private:
    struct Saved {
        std::string path;
        mode_t mode;
    };
    std::vector<Saved> m_saved;
    bool m_bSwitched = false;
    bool m_bOk = false;
};

class BmpReplaceTest : public SharedDeviceTest {
protected:
    void SetUp() override {
        SharedDeviceTest::SetUp();
        ASSERT_EQ(0, s_init);
        EmptyFolder("/picture/sd/");
        EmptyFolder("/picture/data/");
    }
    int Save(const char* pszName) { return VYXZEB_HelperSaveToBmp(m_pixels.data(), kWidth, kHeight, 8, pszName); }

    std::vector<unsigned char> m_pixels = std::vector<unsigned char>(kWidth * kHeight, 0x5A);
};

// The log's line for a name that cannot be created (a log line holds the
// first 200 characters of a long name).
std::string CreateFailed(const std::string& name) {
    const std::string line = "VYXERR_(VYXZEB_HelperSaveToBmp create file " + name + " failed)";
    return name.size() > 200 ? line.substr(0, 200) : line;
}

TEST_F(BmpReplaceTest, FoldersAndNamesTooLongAreRefusedBeforeWriting) {
    ASSERT_EQ(0, mkdir(Host("/picture/data/sub").c_str(), 0755));
    const std::string longName = "/picture/sd/" + std::string(NAME_MAX + 1, 'a');
    std::string deepName = "/picture/sd/";
    while (deepName.size() < PATH_MAX) deepName += "d/";
    deepName += "x.bmp";
    const std::string names[] = {"/picture/data/", "/picture/sd/", "/picture/data/sub", "/picture/sd/x.bmp/",
                                 longName, deepName};
    vyxtest::LogCapture log;
    ASSERT_TRUE(log.ok());
    for (const std::string& name : names) {
        log.Mark();
        EXPECT_EQ(VYXZEB_RET_FAILED, Save(name.c_str())) << name;
        const std::string text = log.SinceMark();
        EXPECT_TRUE(vyxtest::Contains(text, CreateFailed(name))) << text;
        EXPECT_FALSE(vyxtest::Contains(text, "write file")) << text;
    }
    EXPECT_EQ(std::vector<std::string>{"sub"}, Listing("/picture/data/"));
    EXPECT_TRUE(Listing("/picture/data/sub/").empty());
    EXPECT_TRUE(Listing("/picture/sd/").empty());

    // The longest name the file system holds is fine.
    const std::string longest = "/picture/sd/" + std::string(NAME_MAX, 'b');
    EXPECT_EQ(0, Save(longest.c_str()));
    EXPECT_EQ(kFileBytes, StateOf(longest).size);
}

TEST_F(BmpReplaceTest, AReplacedImageKeepsItsPermissions) {
    std::vector<mode_t> modes = {0600, 0640, 0664, 0604};
    // Root may write a write-protected image: it is replaced and stays so.
    if (geteuid() == 0) modes.push_back(0444);
    for (mode_t mode : modes) {
        WriteHost(Host("/picture/sd/a.bmp"), "old");
        ASSERT_EQ(0, chmod(Host("/picture/sd/a.bmp").c_str(), mode));
        ASSERT_EQ(0, Save("/picture/sd/a.bmp")) << std::oct << mode;
        const FileState s = StateOf("/picture/sd/a.bmp");
        EXPECT_EQ(mode, s.mode) << std::oct << mode;
        EXPECT_EQ(kFileBytes, s.size);
    }
    EXPECT_EQ(std::vector<std::string>{"a.bmp"}, Listing("/picture/sd/"));
}

TEST_F(BmpReplaceTest, AReplacedImageKeepsItsOwnerWhereTheProcessMaySetIt) {
    if (geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
    WriteHost(Host("/picture/data/b.bmp"), "old");
    ASSERT_EQ(0, chown(Host("/picture/data/b.bmp").c_str(), 12345, 23456));
    ASSERT_EQ(0, chmod(Host("/picture/data/b.bmp").c_str(), 0640));
    ASSERT_EQ(0, Save("/picture/data/b.bmp"));
    const FileState s = StateOf("/picture/data/b.bmp");
    EXPECT_EQ(12345u, s.uid);
    EXPECT_EQ(23456u, s.gid);
    EXPECT_EQ(0640u, s.mode);
    EXPECT_EQ(kFileBytes, s.size);
}

// As an ordinary user: a write-protected image, and one owned by someone
// else that the user may not write, stay as they are; one the user may
// write is replaced, keeps its permissions and now belongs to the user.
TEST_F(BmpReplaceTest, AnImageTheProcessCannotWriteIsNotReplaced) {
    const bool bRoot = geteuid() == 0;
    if (bRoot) {
        WriteHost(Host("/picture/sd/root.bmp"), "root's");
        chmod(Host("/picture/sd/root.bmp").c_str(), 0644);
        WriteHost(Host("/picture/sd/shared.bmp"), "anyone's");
        chmod(Host("/picture/sd/shared.bmp").c_str(), 0666);
    }
    vyxtest::LogCapture log;
    ASSERT_TRUE(log.ok());
    {
        OrdinaryUser user;
        if (!user.ok()) GTEST_SKIP() << "cannot act as an ordinary user here";

        WriteHost(Host("/picture/sd/mine.bmp"), "protected");
        ASSERT_EQ(0, chmod(Host("/picture/sd/mine.bmp").c_str(), 0444));
        EXPECT_EQ(VYXZEB_RET_FAILED, Save("/picture/sd/mine.bmp"));
        EXPECT_EQ("protected", ReadHost(Host("/picture/sd/mine.bmp")));
        EXPECT_EQ(0444u, StateOf("/picture/sd/mine.bmp").mode);
        if (bRoot) {
            EXPECT_EQ(VYXZEB_RET_FAILED, Save("/picture/sd/root.bmp"));
            EXPECT_EQ("root's", ReadHost(Host("/picture/sd/root.bmp")));
            EXPECT_EQ(0u, StateOf("/picture/sd/root.bmp").uid);

            ASSERT_EQ(0, Save("/picture/sd/shared.bmp"));
            const FileState s = StateOf("/picture/sd/shared.bmp");
            EXPECT_EQ(0666u, s.mode);
            EXPECT_EQ(user.uid(), s.uid);
            EXPECT_EQ(kFileBytes, s.size);
        }
    }
    const std::string text = log.Text();
    EXPECT_TRUE(vyxtest::Contains(text, CreateFailed("/picture/sd/mine.bmp"))) << text;
    if (bRoot) {
        EXPECT_TRUE(vyxtest::Contains(text, CreateFailed("/picture/sd/root.bmp"))) << text;
    }
    for (const std::string& n : Listing("/picture/sd/")) EXPECT_EQ(std::string::npos, n.find(".tmp")) << n;
}

TEST_F(BmpReplaceTest, TemporaryFilesOfEndedProcessesAreClearedByTheNextSave) {
    const std::string dead = std::to_string(EndedProcess());
    const std::string self = std::to_string(getpid());
    ASSERT_EQ(0, mkdir(Host("/picture/sd/day").c_str(), 0755));
    const std::string big(64 * 1024, 'x');
    // Left by ended processes (this writer's names, and an earlier
    // release's), and by an earlier process that had this one's id.
    const std::vector<std::string> stale = {".vyxbmp-" + dead + "-0badf00d-3.tmp", ".vyxbmp-" + dead + "-7.tmp",
                                            ".vyxbmp-" + self + "-earlier-0.tmp"};
    // A save in progress in a live process (pid 1 always runs), and
    // names that are not the writer's.
    const std::vector<std::string> kept = {".vyxbmp-1-0badf00d-0.tmp", ".vyxbmp-notes.txt", ".vyxbmp--1.tmp",
                                           "keep.tmp"};
    for (const std::string& n : stale) WriteHost(Host("/picture/sd/" + n), big);
    for (const std::string& n : kept) WriteHost(Host("/picture/sd/" + n), "k");
    WriteHost(Host("/picture/sd/day/" + stale[0]), big);
    WriteHost(Host("/picture/data/" + stale[0]), big);

    ASSERT_EQ(0, Save("/picture/sd/new.bmp"));
    std::vector<std::string> expected = kept;
    expected.push_back("day");
    expected.push_back("new.bmp");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, Listing("/picture/sd/"));
    // Only the folder saved into is cleared.
    EXPECT_EQ(std::vector<std::string>{stale[0]}, Listing("/picture/sd/day/"));
    EXPECT_EQ(std::vector<std::string>{stale[0]}, Listing("/picture/data/"));

    ASSERT_EQ(0, Save("/picture/sd/day/x.bmp"));
    EXPECT_EQ(std::vector<std::string>{"x.bmp"}, Listing("/picture/sd/day/"));
    // A save refused by a later check still clears its folder.
    EXPECT_EQ(VYXZEB_RET_FAILED, Save("/picture/data/"));
    EXPECT_TRUE(Listing("/picture/data/").empty());
}

}  // namespace
