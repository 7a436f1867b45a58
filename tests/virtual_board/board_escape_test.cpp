// The escape suite: stand-in device nodes (regular files holding a marker,
// never a real node) are planted at the board's paths in a mount namespace
// of the test's own, and a program under vyxsim tries every route that
// passes the board by: a child with a clean environment, a child with the
// board's variables removed, a raw openat system call, a link walk.  None
// may read a marker.  A control run with --no-namespace proves the stand-ins
// are there to be found.  Where this machine allows no private namespace the
// suite says why and skips: the routes the board itself catches are proven
// by the route tests without one.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "BoardTest.h"
#include "SimCommand.h"

namespace {

constexpr char kMarker[] = "STAND-IN-NODE";
constexpr int kNoNamespace = 77;

using vyxtest::binDir;

int run(const std::string& cmd, std::string& out) { return vyxtest::runCommand(cmd, out); }

class BoardEscape : public vyxtest::BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        char templ[] = "/tmp/vyxboard-escape-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
        sim = vyxtest::vyxsimCommand(dir);
    }
    void TearDown() override {
        EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
        BoardTest::TearDown();
    }

    // Runs `body` in a private mount namespace whose /dev has the stand-ins
    // (an overlay over the machine's /dev, so /dev/null and the rest stay).
    // Status kNoNamespace when the machine allows no such namespace.
    int inPlantedNamespace(const std::string& body, std::string& out) {
        const std::string plant = dir + "/plant.sh";
        std::ofstream(plant) << "mount --make-rprivate / || exit 77\n"
                                "mount -t tmpfs none "
                             << dir << "/layer || exit 77\n"
                             << "mkdir " << dir << "/layer/up " << dir << "/layer/work\n"
                             << "mount -t overlay overlay -o lowerdir=/dev,upperdir=" << dir
                             << "/layer/up,workdir=" << dir << "/layer/work /dev || exit 77\n"
                             << "for n in mem cache_ops spidev32766.0 spidev32766.1 vyx_capture_0 "
                                "misc_vyx_gpio; do echo "
                             << kMarker << " > /dev/$n || exit 77; done\n"
                             << body;
        if (mkdir((dir + "/layer").c_str(), 0755) != 0) return -1;
        // Root takes a mount namespace; another user a user namespace too.
        const std::string unshare = geteuid() == 0 ? "unshare -m" : "unshare -r -m";
        return run("timeout 120 " + unshare + " /bin/sh " + plant, out);
    }

    std::string dir, sim;
};

TEST_F(BoardEscape, NoRouteReachesAStandInNodeUnderVyxsim) {
    const std::string py =
        "import ctypes, os\n"
        "n = {'x86_64': 257, 'aarch64': 56}.get(os.uname().machine, 322)\n"
        "libc = ctypes.CDLL(None, use_errno=True)\n"
        "fd = libc.syscall(n, -100, b'/dev/mem', 0)\n"
        "print('raw', os.read(fd, 64) if fd >= 0 else 'refused')\n";
    std::ofstream(dir + "/raw.py") << py;
    // Each run is bounded; a node read that waits (the capture node) is
    // not among the routes.
    const std::string bounded = sim + " --seconds 30";
    const std::string routes =
        "echo control:\n" + bounded + " --no-namespace -- env -i /bin/cat /dev/mem\n" +  //
        "echo routes:\n" +                                                               //
        bounded + " -- env -i /bin/cat /dev/mem /dev/spidev32766.0\n" +                  //
        bounded + " -- /bin/sh -c 'unset LD_PRELOAD QEMU_SET_ENV; /bin/cat /dev/misc_vyx_gpio'\n" + bounded +
        " -- python3 " + dir + "/raw.py\n" +  //
        "ln -s /dev/shm " + dir + "/shm\n" +  //
        bounded + " -- /bin/sh -c 'cat " + dir + "/shm/../misc_vyx_gpio; env -i cat " + dir +
        "/shm/../cache_ops'\n" + "echo end\n";
    std::string out;
    const int status = inPlantedNamespace(routes, out);
    if (status == kNoNamespace) GTEST_SKIP() << "no private mount namespace on this machine: " << out;
    ASSERT_EQ(status, 0) << out;
    const size_t control = out.find("control:"), escapes = out.find("routes:"), end = out.find("\nend");
    ASSERT_NE(control, std::string::npos) << out;
    ASSERT_NE(escapes, std::string::npos) << out;
    ASSERT_NE(end, std::string::npos) << out;
    EXPECT_NE(out.substr(control, escapes - control).find(kMarker), std::string::npos)
        << "the control run did not find the stand-in: the suite would prove nothing\n"
        << out;
    const std::string routed = out.substr(escapes, end - escapes);
    EXPECT_EQ(routed.find(kMarker), std::string::npos) << "a route reached a stand-in node:\n" << out;
    EXPECT_NE(routed.find("raw "), std::string::npos) << "the raw system call did not run\n" << out;
    EXPECT_EQ(routed.find("no private view"), std::string::npos) << out;
}

// Where the view cannot be made, --require-namespace refuses the run
// before the program starts; here it can, and the program runs.
TEST_F(BoardEscape, RequiringTheViewRunsWhereItCanBeMade) {
    std::string out;
    const int status =
        inPlantedNamespace(sim + " --require-namespace -- env -i /bin/cat /dev/mem; echo status $?\n", out);
    if (status == kNoNamespace) GTEST_SKIP() << "no private mount namespace on this machine: " << out;
    EXPECT_NE(out.find("status 0"), std::string::npos) << out;
    EXPECT_EQ(out.find(kMarker), std::string::npos) << out;
}

}  // namespace
