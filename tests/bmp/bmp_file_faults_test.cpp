// The BMP writer when the storage's file calls fail or come back short: a
// save either completes with every byte of the image or reports the failure
// and leaves the earlier image as it was, with no temporary file behind.
// The file calls go through the fault points of tests/reliability/
// FileFaults.cpp, linked into this program before the board.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "../reliability/FileFaults.h"
#include "BmpTestSupport.h"
#include "VYXZebApi.h"

using namespace bmptest;
using vyxsweep::FileCall;

namespace {

constexpr int kSide = 8;
const char kTarget[] = "/picture/data/frame.bmp";

class BmpFileFaults : public SharedDeviceTest {
protected:
    static void SetUpTestSuite() {
        SharedDeviceTest::SetUpTestSuite();
        vyxsweep::WatchPrefix("/picture/");
    }
    void SetUp() override {
        ASSERT_EQ(0, s_init);
        EmptyFolder("/picture/data/");
        // The image a save must leave alone when it fails, and the bytes a
        // complete save of the new one writes.
        ASSERT_EQ(0, Save(0x11));
        m_old = ReadHost(Host(kTarget));
        ASSERT_EQ(0, Save(0x22));
        m_new = ReadHost(Host(kTarget));
        ASSERT_EQ(m_old.size(), m_new.size());
        ASSERT_NE(m_old, m_new);
        ASSERT_EQ(0, Save(0x11));
        vyxsweep::ResetFileCalls();
    }
    void TearDown() override {
        vyxsweep::DisarmFileFaults();
        EmptyFolder("/picture/data/");
    }
    static int Save(unsigned char grey) {
        std::vector<unsigned char> pixels(kSide * kSide, grey);
        return VYXZEB_HelperSaveToBmp(pixels.data(), kSide, kSide, 8, kTarget);
    }
    // The save of the new image with its call k of `call` failing as
    // `error`; the calls are counted from the start of this save.
    static int SaveFailing(FileCall call, unsigned k, int error) {
        vyxsweep::ResetFileCalls();
        vyxsweep::ArmFileFault(call, k, error);
        const int nRet = Save(0x22);
        vyxsweep::DisarmFileFaults();
        return nRet;
    }
    void ExpectOnly(const std::string& content, const char* what) {
        EXPECT_EQ(std::vector<std::string>{"frame.bmp"}, Listing("/picture/data/")) << what;
        EXPECT_TRUE(content == ReadHost(Host(kTarget)))
            << what << (content == m_old ? ": not the earlier image" : ": not the new image");
    }
    std::string m_old, m_new;
};

// A write interrupted by a signal before it wrote anything, or one that
// wrote only part of the block, is carried on.
TEST_F(BmpFileFaults, InterruptedAndShortWritesAreCarriedOn) {
    for (unsigned k : {1u, 2u}) {
        SCOPED_TRACE(k);
        ASSERT_EQ(0, SaveFailing(FileCall::Write, k, EINTR));
        ExpectOnly(m_new, "interrupted");
        ASSERT_EQ(0, Save(0x11));
        ASSERT_EQ(0, SaveFailing(FileCall::Write, k, vyxsweep::kShortCount));
        ExpectOnly(m_new, "short");
        ASSERT_EQ(0, Save(0x11));
    }
}

// The headers' write, the pixels' write, the sync, the close and the
// rename: whichever fails, the save reports it and the earlier image stays.
TEST_F(BmpFileFaults, AFailureAnywhereLeavesTheEarlierImage) {
    struct Case {
        const char* what;
        FileCall call;
        unsigned k;
        int error;
    };
    const Case cases[] = {
        {"headers", FileCall::Write, 1, EIO}, {"pixels", FileCall::Write, 2, ENOSPC},
        {"sync", FileCall::Fsync, 1, EIO},    {"close", FileCall::Close, 1, EIO},
        {"rename", FileCall::Rename, 1, EIO}, {"free space", FileCall::Statfs, 1, EIO},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VYXZEB_RET_FAILED, SaveFailing(c.call, c.k, c.error)) << c.what;
        ExpectOnly(m_old, c.what);
    }
}

// A temporary name in use is skipped for the next; any other failure to
// create the temporary file ends the save at once.
TEST_F(BmpFileFaults, TheTemporaryFileTakesTheNextFreeName) {
    ASSERT_EQ(0, SaveFailing(FileCall::Open, 1, EEXIST));
    EXPECT_EQ(2u, vyxsweep::FileCalls(FileCall::Open));
    ExpectOnly(m_new, "name in use");

    ASSERT_EQ(0, Save(0x11));
    EXPECT_EQ(VYXZEB_RET_FAILED, SaveFailing(FileCall::Open, 1, EACCES));
    EXPECT_EQ(1u, vyxsweep::FileCalls(FileCall::Open));
    ExpectOnly(m_old, "no permission");
}

// The replacement takes over the image's owner where the process may set
// it, its group alone where only that is allowed, and its modes where the
// card keeps any: a refusal does not stop the save.
TEST_F(BmpFileFaults, OwnersTheCardRefusesDoNotStopTheSave) {
    ASSERT_EQ(0, SaveFailing(FileCall::Fchown, 1, EPERM));
    EXPECT_EQ(2u, vyxsweep::FileCalls(FileCall::Fchown)) << "the group alone is tried";
    ExpectOnly(m_new, "owner refused");

    ASSERT_EQ(0, Save(0x11));
    ASSERT_EQ(0, SaveFailing(FileCall::Fchmod, 1, EPERM));
    ExpectOnly(m_new, "modes refused");
}

}  // namespace
