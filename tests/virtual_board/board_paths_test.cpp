// Which paths the board owns: the device nodes however they are spelled, the
// /picture/ sandbox, and the plug-in path.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/time.h>
#include <utime.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "BoardTest.h"
#include "VyxBoard.h"

namespace {

// Each test has a scratch folder and may change the working directory; it
// starts on a reset board and leaves no descriptor or mapping open
// (BoardTest.h).
class BoardPaths : public vyxtest::BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        char templ[] = "/tmp/vyxboard-paths-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        scratch = templ;
    }
    void TearDown() override {
        EXPECT_EQ(chdir(cwd), 0);
        std::string cmd = "rm -rf '" + scratch + "'";
        EXPECT_EQ(system(cmd.c_str()), 0);
        BoardTest::TearDown();
    }
    // Opens a path and reports which node the board gave (Node::Count: none).
    static vb::Node opened(int fd) {
        vb::Node n = vb::nodeOfDescriptor(fd);
        if (fd >= 0) close(fd);
        return n;
    }
    char cwd[PATH_MAX];
    std::string scratch;
};

TEST_F(BoardPaths, NodesAreOwnedHoweverTheyAreSpelled) {
    EXPECT_EQ(opened(open("//dev/./mem", O_RDWR)), vb::Node::Mem);
    EXPECT_EQ(opened(open("/dev/../dev/cache_ops", O_RDWR)), vb::Node::CacheOps);
    EXPECT_EQ(opened(open64("/dev//spidev32766.1", O_RDWR)), vb::Node::Spi1);

    int dev = open("/dev", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dev, 0);
    EXPECT_EQ(opened(openat(dev, "vyx_capture_0", O_RDONLY)), vb::Node::Capture);
    EXPECT_EQ(opened(openat(dev, "./misc_vyx_gpio", O_RDONLY)), vb::Node::Gpio);
    close(dev);

    ASSERT_EQ(chdir("/dev"), 0);
    EXPECT_EQ(opened(open("mem", O_RDWR)), vb::Node::Mem);
    EXPECT_EQ(opened(openat(AT_FDCWD, "spidev32766.0", O_RDWR)), vb::Node::Spi0);
    ASSERT_EQ(chdir("/"), 0);
    EXPECT_EQ(opened(open("dev/cache_ops", O_RDWR)), vb::Node::CacheOps);

    // Links, including ones that dangle on this host.
    std::string link = scratch + "/mem-link", chain = scratch + "/chain";
    ASSERT_EQ(symlink("/dev/mem", link.c_str()), 0);
    ASSERT_EQ(symlink(link.c_str(), chain.c_str()), 0);
    EXPECT_EQ(opened(open(chain.c_str(), O_RDWR)), vb::Node::Mem);
    std::string devLink = scratch + "/devdir";
    ASSERT_EQ(symlink("/dev", devLink.c_str()), 0);
    EXPECT_EQ(opened(open((devLink + "/vyx_capture_0").c_str(), O_RDONLY)), vb::Node::Capture);
    FILE* f = fopen((devLink + "/misc_vyx_gpio").c_str(), "r");
    ASSERT_NE(f, nullptr);
    int streamFd = fileno(f);
    EXPECT_EQ(vb::nodeOfDescriptor(streamFd), vb::Node::Gpio);
    // fclose closes inside libc, past the board; the number may come back
    // for another node and must be counted once.
    fclose(f);
    int again = open("/dev/spidev32766.0", O_RDWR);
    EXPECT_EQ(again, streamFd);
    EXPECT_EQ(vb::openNodeDescriptors(), 1);
    close(again);
}

TEST_F(BoardPaths, MissingAndProtectedNodesNeverReachTheHost) {
    vb::setNodeMissing(vb::Node::Mem, true);
    ASSERT_EQ(chdir("/dev"), 0);
    errno = 0;
    EXPECT_EQ(open("mem", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    int dev = open("/dev", O_RDONLY | O_DIRECTORY);
    EXPECT_EQ(openat(dev, "mem", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    close(dev);
    vb::setNodeMissing(vb::Node::Mem, false);
    // Nodes cannot be removed or replaced.
    EXPECT_EQ(unlink("/dev/mem"), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(rename("/dev/cache_ops", "/dev/cache_ops.old"), -1);
    EXPECT_EQ(errno, EACCES);
    // stat-like calls describe a character device, whether or not the host has one.
    struct stat st;
    ASSERT_EQ(lstat("/dev/vyx_capture_0", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(BoardPaths, PictureFoldersLiveInTheSandbox) {
    std::string root = vb::sandboxRoot();
    ASSERT_FALSE(root.empty());
    EXPECT_EQ(vb::sandboxPath("/picture/sd/a.bmp"), root + "/picture/sd/a.bmp");
    struct stat st;
    ASSERT_EQ(lstat("/picture/sd/", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    ASSERT_EQ(stat("/picture/data", &st), 0);
    EXPECT_NE(lstat("/picture/sdcard/", &st), 0);

    // Write to a temporary name, then rename over the target, as a careful
    // writer does.
    char temp[] = "/picture/sd/.frame-XXXXXX";
    int fd = mkstemp(temp);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(strncmp(temp, "/picture/sd/.frame-", 19), 0) << temp;
    EXPECT_EQ(write(fd, "BM", 2), 2);
    close(fd);
    ASSERT_EQ(access(vb::sandboxPath(temp).c_str(), F_OK), 0);
    ASSERT_EQ(rename(temp, "/picture/sd/frame.bmp"), 0);
    FILE* f = fopen("/picture/sd/frame.bmp", "r");
    ASSERT_NE(f, nullptr);
    char buf[3] = {};
    EXPECT_EQ(fread(buf, 1, 2, f), 2u);
    EXPECT_STREQ(buf, "BM");
    fclose(f);

    // A link inside a storage folder is refused by O_NOFOLLOW, and one that
    // leads to a board node still gets the board's node.
    std::string link = vb::sandboxPath("/picture/sd/link.bmp");
    ASSERT_EQ(symlink("/dev/mem", link.c_str()), 0);
    EXPECT_EQ(open("/picture/sd/link.bmp", O_WRONLY | O_NOFOLLOW), -1);
    ASSERT_EQ(lstat("/picture/sd/link.bmp", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(opened(open("/picture/sd/link.bmp", O_RDWR)), vb::Node::Mem);

    EXPECT_EQ(unlink("/picture/sd/link.bmp"), 0);
    EXPECT_EQ(unlink("/picture/sd/frame.bmp"), 0);
    EXPECT_NE(access(vb::sandboxPath("/picture/sd/frame.bmp").c_str(), F_OK), 0);

    DIR* d = opendir("/picture/data/");
    ASSERT_NE(d, nullptr);
    closedir(d);
}

TEST_F(BoardPaths, FreeSpaceOfTheSandboxCanBeFaked) {
    struct statfs sf;
    vb::setFakeFreeSpace(1000);
    ASSERT_EQ(statfs("/picture/sd/", &sf), 0);
    EXPECT_LE(static_cast<uint64_t>(sf.f_bsize) * sf.f_bfree, 1000u);
    vb::setFakeFreeSpace(5ull << 30);   // more than 32 bits can count in bytes
    ASSERT_EQ(statfs("/picture/data/", &sf), 0);
    uint64_t free = static_cast<uint64_t>(sf.f_bsize) * sf.f_bfree;
    EXPECT_GT(free, 4ull << 30);
    EXPECT_LE(free, 5ull << 30);
    // Paths outside the sandbox report the truth.
    struct statfs tmp;
    ASSERT_EQ(statfs(scratch.c_str(), &tmp), 0);
    vb::clearFakeFreeSpace();
    ASSERT_EQ(statfs("/picture/sd/", &sf), 0);
}

TEST_F(BoardPaths, PluginPathLoadsThePluginOfThisTree) {
#ifdef __SANITIZE_ADDRESS__
    // The sanitizer's own dlopen runs before the board's and refuses
    // RTLD_DEEPBIND outright, so the board never gets to strip it there.
    const int mode = RTLD_NOW;
#else
    const int mode = RTLD_NOW | RTLD_DEEPBIND;
#endif
    void* h = dlopen("/usr/lib/libvyxSensorQ210B.so", mode);
    ASSERT_NE(h, nullptr) << dlerror();
    link_map* map = nullptr;
    ASSERT_EQ(dlinfo(h, RTLD_DI_LINKMAP, &map), 0);
    std::string name = map->l_name;
    EXPECT_NE(name, "/usr/lib/libvyxSensorQ210B.so");
    EXPECT_NE(name.find("libvyxSensorQ210B.so"), std::string::npos) << name;
    dlclose(h);
}

}  // namespace

// An ordinary absolute path takes the fast way (the kernel opens it without
// following links); every link, "..", device folder or node name still goes
// the full way and reaches the board.
TEST_F(BoardPaths, OrdinaryPathsAreFastAndLinksStillLeadToTheBoard) {
    const std::string alias = scratch + "/alias", devdir = scratch + "/devdir";
    ASSERT_EQ(symlink("/dev/spidev32766.0", alias.c_str()), 0);
    ASSERT_EQ(symlink("/dev", devdir.c_str()), 0);
    ASSERT_EQ(mkdir((scratch + "/sub").c_str(), 0755), 0);
    EXPECT_EQ(opened(open(alias.c_str(), O_RDWR)), vb::Node::Spi0);
    EXPECT_EQ(opened(open((devdir + "/misc_vyx_gpio").c_str(), O_RDONLY)), vb::Node::Gpio);
    EXPECT_EQ(opened(open((scratch + "/sub/../alias").c_str(), O_RDWR)), vb::Node::Spi0);
    EXPECT_EQ(opened(open((scratch + "/sub/../devdir/vyx_capture_0").c_str(), O_RDONLY)), vb::Node::Capture);
    struct stat st;
    ASSERT_EQ(stat(alias.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << "stat of a link to a node must describe the node";
    ASSERT_EQ(lstat(alias.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    // Ordinary files keep the kernel's answers.
    const std::string file = scratch + "/file";
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(vb::nodeOfDescriptor(fd), vb::Node::Count);
    close(fd);
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    errno = 0;
    EXPECT_EQ(open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(open((scratch + "/missing").c_str(), O_RDONLY), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(open(alias.c_str(), O_RDONLY | O_NOFOLLOW), -1);
    EXPECT_EQ(errno, ELOOP);
    const std::string fileLink = scratch + "/file-link";
    ASSERT_EQ(symlink(file.c_str(), fileLink.c_str()), 0);
    fd = open(fileLink.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0) << "a link to an ordinary file must still open";
    close(fd);
}

// No call that changes metadata or makes a name reaches a node: each is
// EACCES, by the node's path and through a link to it.  (The SPI node is
// absent on a PC, so a call that slipped through would fail with ENOENT,
// and nothing real is touched.)
TEST_F(BoardPaths, NodesCannotBeChangedOrRenamedByAnyCall) {
    const char* node = "/dev/spidev32766.0";
    const std::string link = scratch + "/spi", other = scratch + "/other";
    ASSERT_EQ(symlink(node, link.c_str()), 0);
    const timespec times[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
    const timeval tv[2] = {{1, 0}, {1, 0}};
    for (const std::string& path : {std::string(node), link}) {
        SCOPED_TRACE(path);
        const char* p = path.c_str();
        const struct {
            const char* name;
            std::function<int()> call;
        } calls[] = {
            {"chmod", [&] { return chmod(p, 0666); }},
            {"chown", [&] { return chown(p, getuid(), getgid()); }},
            {"fchmodat", [&] { return fchmodat(AT_FDCWD, p, 0666, 0); }},
            {"fchownat", [&] { return fchownat(AT_FDCWD, p, getuid(), getgid(), 0); }},
            {"truncate", [&] { return truncate(p, 0); }},
            {"utimensat", [&] { return utimensat(AT_FDCWD, p, times, 0); }},
            {"utimes", [&] { return utimes(p, tv); }},
            {"utime", [&] { return utime(p, nullptr); }},
            {"linkat follow",
             [&] { return linkat(AT_FDCWD, p, AT_FDCWD, other.c_str(), AT_SYMLINK_FOLLOW); }},
        };
        for (const auto& c : calls) {
            errno = 0;
            EXPECT_EQ(c.call(), -1) << c.name;
            EXPECT_EQ(errno, EACCES) << c.name;
        }
        struct stat st;
        EXPECT_NE(lstat(other.c_str(), &st), 0) << "a name for the node was made";
    }
    // Calls on the name itself.
    const struct {
        const char* name;
        std::function<int()> call;
    } named[] = {
        {"lchown", [&] { return lchown(node, getuid(), getgid()); }},
        {"link", [&] { return ::link(node, other.c_str()); }},
        {"renameat2", [&] { return renameat2(AT_FDCWD, node, AT_FDCWD, other.c_str(), 0); }},
        {"mkdirat", [&] { return mkdirat(AT_FDCWD, node, 0755); }},
        {"mkfifo", [&] { return mkfifo(node, 0644); }},
        {"symlink", [&] { return symlink("elsewhere", node); }},
        {"symlinkat", [&] { return symlinkat("elsewhere", AT_FDCWD, node); }},
        {"renameat2 onto", [&] { return renameat2(AT_FDCWD, link.c_str(), AT_FDCWD, node, 0); }},
    };
    for (const auto& c : named) {
        errno = 0;
        EXPECT_EQ(c.call(), -1) << c.name;
        EXPECT_EQ(errno, EACCES) << c.name;
    }
    errno = 0;
    EXPECT_EQ(chmod(node, 0666), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(freopen64(node, "r", stdin), nullptr);
}

// Under /picture every metadata and naming call works on the sandbox, as on
// a real folder.
TEST_F(BoardPaths, PictureIsARealFolderForMetadataAndNamingCalls) {
    const std::string dirPath = "/picture/data/meta-" + std::to_string(getpid());
    const char* dir = dirPath.c_str();
    ASSERT_EQ(mkdirat(AT_FDCWD, dir, 0755), 0) << strerror(errno);
    const std::string file = dirPath + "/f.txt";
    FILE* f = fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("twelve bytes", f);
    fclose(f);
    const std::string host = vb::sandboxPath(file);
    struct stat st;
    EXPECT_EQ(chmod(file.c_str(), 0600), 0);
    ASSERT_EQ(stat(host.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(truncate(file.c_str(), 5), 0);
    ASSERT_EQ(stat(host.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 5);
    const timespec old[2] = {{1000, 0}, {1000, 0}};
    EXPECT_EQ(utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
    ASSERT_EQ(stat(host.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1000);
    EXPECT_EQ(chown(file.c_str(), getuid(), getgid()), 0);
    EXPECT_EQ(symlink("f.txt", (dirPath + "/soft").c_str()), 0);
    EXPECT_EQ(lstat(vb::sandboxPath(dirPath + "/soft").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(link(file.c_str(), (dirPath + "/hard").c_str()), 0);
    EXPECT_EQ(renameat2(AT_FDCWD, (dirPath + "/hard").c_str(), AT_FDCWD, (dirPath + "/moved").c_str(), 0), 0);
    EXPECT_EQ(access(vb::sandboxPath(dirPath + "/moved").c_str(), F_OK), 0);
    EXPECT_EQ(mkfifo((dirPath + "/fifo").c_str(), 0644), 0);
    ASSERT_EQ(lstat(vb::sandboxPath(dirPath + "/fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    FILE* again = freopen64(file.c_str(), "r", tmpfile());
    ASSERT_NE(again, nullptr);
    char buf[16] = {};
    EXPECT_EQ(fread(buf, 1, sizeof buf, again), 5u);
    fclose(again);
    std::string cmd = "rm -rf '" + vb::sandboxPath(dirPath) + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
}
