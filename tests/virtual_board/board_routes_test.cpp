// Routes around the board's path rules: a link followed by "..", a working
// directory too deep to name, and the calls that name, describe or walk a
// path (statx, readlink, realpath, chdir, scandir, nftw, name handles).
// Each route must end at the board's node or the /picture sandbox, or be
// refused; none may pass a board path on to the host.  The node used where a
// route could slip through is the capture node, which no PC has: a route
// that slipped would fail with ENOENT and touch nothing real.
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "BoardTest.h"
#include "VyxBoard.h"

namespace {

constexpr char kCapture[] = "/dev/vyx_capture_0";

// Each test has a scratch folder and may change the working directory.
class BoardRoutes : public vyxtest::BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        char templ[] = "/tmp/vyxboard-routes-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        scratch = templ;
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    }
    void TearDown() override {
        EXPECT_EQ(chdir(cwd), 0);
        EXPECT_EQ(system(("rm -rf '" + scratch + "'").c_str()), 0);
        BoardTest::TearDown();
    }
    char cwd[PATH_MAX] = {};
    std::string scratch;
};

// The node a descriptor was opened on (Node::Count: none); closes it.
vb::Node nodeOf(int fd) {
    const vb::Node n = vb::nodeOfDescriptor(fd);
    if (fd >= 0) close(fd);
    return n;
}

// The kernel follows a link before it applies a ".." after it: a link to a
// folder of /dev followed by "../<node>" is the node.
TEST_F(BoardRoutes, DotDotAfterALinkIsAppliedToTheLinksTarget) {
    const std::string shm = scratch + "/shm";
    ASSERT_EQ(symlink("/dev/shm", shm.c_str()), 0);
    ASSERT_EQ(mkdir((scratch + "/sub").c_str(), 0755), 0);
    const std::string viaLink = shm + "/../vyx_capture_0";
    EXPECT_EQ(nodeOf(open(viaLink.c_str(), O_RDONLY)), vb::Node::Capture);
    EXPECT_EQ(nodeOf(openat(AT_FDCWD, viaLink.c_str(), O_RDONLY)), vb::Node::Capture);
    struct stat st;
    ASSERT_EQ(stat(viaLink.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    errno = 0;
    EXPECT_EQ(chmod(viaLink.c_str(), 0666), -1);
    EXPECT_EQ(errno, EACCES);

    // A link whose own target climbs: sub/up -> ../shm/../vyx_capture_0.
    ASSERT_EQ(symlink("../shm/../vyx_capture_0", (scratch + "/sub/up").c_str()), 0);
    EXPECT_EQ(nodeOf(open((scratch + "/sub/up").c_str(), O_RDONLY)), vb::Node::Capture);
    // Relative to a directory descriptor.
    int dir = open(scratch.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dir, 0);
    EXPECT_EQ(nodeOf(openat(dir, "shm/../vyx_capture_0", O_RDONLY)), vb::Node::Capture);
    close(dir);
    // A plain ".." without links is still collapsed as spelled.
    ASSERT_EQ(mkdir((scratch + "/sub/x").c_str(), 0755), 0);
    int fd = open((scratch + "/sub/x/../up").c_str(), O_RDONLY);
    EXPECT_EQ(nodeOf(fd), vb::Node::Capture);
    // A loop of links is the kernel's ELOOP, never a pass.
    ASSERT_EQ(symlink("loop-b", (scratch + "/loop-a").c_str()), 0);
    ASSERT_EQ(symlink("loop-a", (scratch + "/loop-b").c_str()), 0);
    errno = 0;
    EXPECT_EQ(open((scratch + "/loop-a/../x").c_str(), O_RDONLY), -1);
    EXPECT_EQ(errno, ELOOP);
}

// A working directory deeper than PATH_MAX cannot be named: ordinary names
// in it still work, anything that could lead out of it (a link, "..") is
// refused instead of being passed on unchecked.
TEST_F(BoardRoutes, AWorkingDirectoryTooDeepToNameFailsClosed) {
    ASSERT_EQ(chdir(scratch.c_str()), 0);
    const std::string level(200, 'd');
    for (int i = 0; i < 25; ++i) {  // 25 * 201 characters > PATH_MAX
        ASSERT_EQ(mkdir(level.c_str(), 0755), 0) << i;
        ASSERT_EQ(chdir(level.c_str()), 0) << i;
    }
    char buf[PATH_MAX];
    ASSERT_EQ(getcwd(buf, sizeof buf), nullptr) << "the working directory is still short enough to name";

    int fd = open("plain.txt", O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0) << strerror(errno);
    EXPECT_EQ(write(fd, "ok", 2), 2);
    close(fd);
    struct stat st;
    EXPECT_EQ(stat("plain.txt", &st), 0);
    EXPECT_EQ(st.st_size, 2);
    ASSERT_EQ(symlink(kCapture, "node-link"), 0);
    const struct {
        const char* name;
        std::function<int()> call;
    } refused[] = {
        {"open through a link", [] { return open("node-link", O_RDONLY); }},
        {"stat through a link", [&] { return stat("node-link", &st); }},
        {"open with ..", [] { return open("../x", O_RDONLY); }},
        {"chmod through a link", [] { return chmod("node-link", 0600); }},
    };
    for (const auto& c : refused) {
        errno = 0;
        EXPECT_EQ(c.call(), -1) << c.name;
        EXPECT_EQ(errno, ENAMETOOLONG) << c.name << ": " << strerror(errno);
    }
    // The link itself may still be looked at and removed.
    EXPECT_EQ(lstat("node-link", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(unlink("node-link"), 0);
}

// The calls that describe, name or enter a path give the board's answer for
// a node and the sandbox's for /picture.
TEST_F(BoardRoutes, NamingAndDescribingCallsSeeTheNodesAndTheSandbox) {
    const std::string link = scratch + "/capture";
    ASSERT_EQ(symlink(kCapture, link.c_str()), 0);
    for (const std::string& path : {std::string(kCapture), link}) {
        SCOPED_TRACE(path);
        const char* p = path.c_str();
        struct statx sx;
        ASSERT_EQ(statx(AT_FDCWD, p, 0, STATX_TYPE, &sx), 0);
        EXPECT_TRUE(S_ISCHR(sx.stx_mode));
        char name[PATH_MAX];
        ASSERT_NE(realpath(p, name), nullptr);
        EXPECT_STREQ(name, kCapture);
        char* made = canonicalize_file_name(p);
        ASSERT_NE(made, nullptr);
        EXPECT_STREQ(made, kCapture);
        free(made);
        errno = 0;
        EXPECT_EQ(chdir(p), -1);
        EXPECT_EQ(errno, ENOTDIR);
        struct dirent** list = nullptr;
        errno = 0;
        EXPECT_EQ(scandir(p, &list, nullptr, nullptr), -1);
        EXPECT_EQ(errno, ENOTDIR);
        errno = 0;
        EXPECT_EQ(futimesat(AT_FDCWD, p, nullptr), -1);
        EXPECT_EQ(errno, EACCES);
        alignas(8) char handleSpace[sizeof(file_handle) + 128];
        auto* handle = reinterpret_cast<file_handle*>(handleSpace);
        handle->handle_bytes = 128;
        int mountId = 0;
        errno = 0;
        EXPECT_EQ(name_to_handle_at(AT_FDCWD, p, handle, &mountId, AT_SYMLINK_FOLLOW), -1);
        EXPECT_EQ(errno, EOPNOTSUPP);
    }
    struct statx sx;
    ASSERT_EQ(statx(AT_FDCWD, link.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE, &sx), 0);
    EXPECT_TRUE(S_ISLNK(sx.stx_mode));
    char target[PATH_MAX] = {};
    ASSERT_EQ(readlink(link.c_str(), target, sizeof target - 1), static_cast<ssize_t>(strlen(kCapture)));
    EXPECT_STREQ(target, kCapture);
    errno = 0;
    EXPECT_EQ(readlink(kCapture, target, sizeof target), -1);
    EXPECT_EQ(errno, EINVAL) << "a node is no link";
    vb::setNodeMissing(vb::Node::Capture, true);
    errno = 0;
    EXPECT_EQ(realpath(kCapture, target), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(statx(AT_FDCWD, kCapture, 0, STATX_TYPE, &sx), -1);
    EXPECT_EQ(errno, ENOENT);
    vb::setNodeMissing(vb::Node::Capture, false);
}

TEST_F(BoardRoutes, PictureIsAFolderToEnterListAndWalk) {
    const std::string dir = "/picture/data/walk-" + std::to_string(getpid());
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/in").c_str(), 0755), 0);
    FILE* f = fopen((dir + "/in/a.txt").c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    ASSERT_EQ(symlink("in/a.txt", (dir + "/soft").c_str()), 0);

    struct statx sx;
    ASSERT_EQ(statx(AT_FDCWD, (dir + "/in").c_str(), 0, STATX_TYPE, &sx), 0);
    EXPECT_TRUE(S_ISDIR(sx.stx_mode));
    char target[64] = {};
    ASSERT_EQ(readlink((dir + "/soft").c_str(), target, sizeof target - 1), 8);
    EXPECT_STREQ(target, "in/a.txt");
    char name[PATH_MAX];
    ASSERT_NE(realpath((dir + "/soft").c_str(), name), nullptr);
    EXPECT_EQ(std::string(name), dir + "/in/a.txt") << "realpath must name the board's path";

    // The 64-bit entries: a 32-bit program's plain scandir fails with
    // EOVERFLOW on a file system with 64-bit directory offsets.
    struct dirent64** list = nullptr;
    const int n = scandir64(dir.c_str(), &list, nullptr, alphasort64);
    ASSERT_EQ(n, 4) << strerror(errno);  // . .. in soft
    std::set<std::string> names;
    for (int i = 0; i < n; ++i) {
        names.insert(list[i]->d_name);
        free(list[i]);
    }
    free(list);
    EXPECT_EQ(names, (std::set<std::string>{".", "..", "in", "soft"}));

    static std::set<std::string>* visited;
    std::set<std::string> seen;
    visited = &seen;
    ASSERT_EQ(nftw(
                  dir.c_str(),
                  [](const char* p, const struct stat*, int, struct FTW* at) {
                      visited->insert(std::string(p) + "|" + (p + at->base));
                      return 0;
                  },
                  8, FTW_PHYS),
              0);
    EXPECT_EQ(seen, (std::set<std::string>{dir + "|walk-" + std::to_string(getpid()), dir + "/in|in",
                                           dir + "/in/a.txt|a.txt", dir + "/soft|soft"}));

    // Entering it: relative names then work on the sandbox.
    ASSERT_EQ(chdir(dir.c_str()), 0);
    struct stat st;
    EXPECT_EQ(stat("in/a.txt", &st), 0);
    ASSERT_EQ(mkdir("made", 0755), 0);
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(access(vb::sandboxPath(dir + "/made").c_str(), F_OK), 0);
    std::string cmd = "rm -rf '" + vb::sandboxPath(dir) + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
}

}  // namespace
