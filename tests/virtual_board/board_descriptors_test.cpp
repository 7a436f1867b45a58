// The board's own descriptors (what every open of a node duplicates, the
// memories behind the mappings) live at high numbers, close-on-exec, and a
// program that closes every descriptor, dup2()s onto numbers or has a number
// replaced behind the board's back can never make the board write into the
// program's files.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "BoardTest.h"
#include "Nodes.h"
#include "VyxBoard.h"

namespace {

// The board's own objects of the memfd-backed nodes, by node path, as
// /proc/self/fd names them ("/memfd:/dev/spidev32766.0 (deleted)").
std::map<std::string, int> ownNodeDescriptors() {
    std::map<std::string, int> found;
    DIR* d = opendir("/proc/self/fd");
    if (!d) return found;
    while (dirent* e = readdir(d)) {
        int fd = atoi(e->d_name);
        if (e->d_name[0] == '.' || fd == dirfd(d)) continue;
        char target[256];
        ssize_t n = readlink(("/proc/self/fd/" + std::string(e->d_name)).c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = 0;
        std::string t = target;
        const std::string prefix = "/memfd:";
        if (t.compare(0, prefix.size(), prefix) != 0) continue;
        std::string name = t.substr(prefix.size(), t.find(' ') - prefix.size());
        if (vb::nodeOfDescriptor(fd) == vb::Node::Count) found[name] = fd;
    }
    closedir(d);
    return found;
}

bool sameFile(int a, int b) {
    struct stat sa, sb;
    return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

off_t sizeOf(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 ? st.st_size : -1;
}

// One write frame setting sensor register 0x15.
const uint8_t kFrame[3] = {0x95, 0x05, 0x00};

bool sensorGot(int bus) {
    for (const auto& f : vb::spiLog())
        if (f.bus == bus && f.sent.size() == 3 && f.sent[0] == kFrame[0] && f.result == 3) return true;
    return false;
}

class BoardDescriptors : public vyxtest::BoardTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(vb::isActive());
        BoardTest::SetUp();
        own = ownNodeDescriptors();
        ASSERT_EQ(own.count(vyxnode::kSpi0Path), 1u) << "the SPI node's own object is not in /proc/self/fd";
        ASSERT_EQ(own.count(vyxnode::kSpi1Path), 1u);
        data = fileno(tmpfile());
        ASSERT_GE(data, 0);
    }
    void TearDown() override {
        close(data);
        BoardTest::TearDown();
    }
    std::map<std::string, int> own;
    int data = -1;
};

TEST_F(BoardDescriptors, OwnObjectsSitHighAndAreClosedOnExec) {
    rlimit rl;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &rl), 0);
    const long limit =
        rl.rlim_cur == RLIM_INFINITY || rl.rlim_cur > 65536 ? 65536 : static_cast<long>(rl.rlim_cur);
    for (const auto& [name, fd] : own) {
        EXPECT_GE(fd, limit / 2) << name << " sits at a low number";
        EXPECT_LT(fd, limit) << name;
        EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << name << " is passed on across exec";
    }
    // A program's own next descriptor is a low number, not one past the board's.
    int fd = open("/dev/null", O_RDONLY);
    EXPECT_LT(fd, limit / 2);
    close(fd);
}

TEST_F(BoardDescriptors, ClosingEveryDescriptorLeavesTheBoardWorking) {
    for (const auto& [name, fd] : own) {
        EXPECT_EQ(close(fd), 0) << name;
        EXPECT_EQ(close_range(static_cast<unsigned>(fd), static_cast<unsigned>(fd), 0), 0) << name;
        EXPECT_GE(fcntl(fd, F_GETFD), 0) << name << " was closed under the board";
    }
    closefrom(own.begin()->second);
    int spi = open(vyxnode::kSpi0Path, O_RDWR);
    ASSERT_GE(spi, 0) << strerror(errno);
    EXPECT_EQ(write(spi, kFrame, 3), 3);
    close(spi);
    EXPECT_TRUE(sensorGot(0));
}

TEST_F(BoardDescriptors, Dup2OntoABoardNumberMovesTheBoardOutOfTheWay) {
    const int target = own.at(vyxnode::kSpi0Path);
    ASSERT_EQ(dup2(data, target), target);
    EXPECT_TRUE(sameFile(target, data)) << "dup2 did not give the program its number";
    int spi = open(vyxnode::kSpi0Path, O_RDWR);
    ASSERT_GE(spi, 0) << strerror(errno);
    EXPECT_FALSE(sameFile(spi, data));
    EXPECT_EQ(write(spi, kFrame, 3), 3);
    close(spi);
    EXPECT_TRUE(sensorGot(0));
    EXPECT_EQ(sizeOf(data), 0) << "SPI frames were written into the program's file";
    close(target);
    // The board's object moved: nothing of it is left at the program's number.
    EXPECT_EQ(ownNodeDescriptors().count(vyxnode::kSpi0Path), 1u);
}

TEST_F(BoardDescriptors, ANumberReplacedBehindTheBoardsBackIsNeverWrittenThrough) {
    const int target = own.at(vyxnode::kSpi1Path);
    // A raw system call passes no interposer: the board finds out on use.
    const int saved = fcntl(target, F_DUPFD_CLOEXEC, 0);
    ASSERT_GE(saved, 0);
    ASSERT_EQ(syscall(SYS_dup3, data, target, O_CLOEXEC), target);
    errno = 0;
    int spi = open(vyxnode::kSpi1Path, O_RDWR);
    EXPECT_EQ(spi, -1);
    EXPECT_EQ(errno, EBADF);
    if (spi >= 0) {
        EXPECT_EQ(write(spi, kFrame, 3), -1);
        close(spi);
    }
    EXPECT_EQ(sizeOf(data), 0) << "SPI frames were written into the program's file";
    // Put the board's object back for the rest of the suite.
    ASSERT_EQ(syscall(SYS_dup3, saved, target, O_CLOEXEC), target);
    close(saved);
    spi = open(vyxnode::kSpi1Path, O_RDWR);
    EXPECT_GE(spi, 0);
    close(spi);
}

}  // namespace
