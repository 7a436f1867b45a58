// BoardMain.cpp - main() of every test executable.  Tests must never reach a
// real device node, so before any test runs this checks that the virtual
// board is loaded and that the process's own calls of open() and fopen() on
// a board node really land on the board.  Otherwise it refuses to run.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "Nodes.h"
#include "VyxBoard.h"

namespace {

bool refuse(const char* why) {
    fprintf(stderr,
            "FATAL: the virtual board is not active (%s).\n"
            "Refusing to run: these tests would reach the machine's real device nodes.\n"
            "Link the test against vyxboard with -Wl,--no-as-needed (vyx_add_test does).\n",
            why);
    return false;
}

bool boardOwnsNodes() {
    if (!vb::isActive()) return refuse("the board says it is not active");
    int fd = open(vyxnode::kCapturePath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return refuse("open of the capture node failed");
    bool owned = vb::nodeOfDescriptor(fd) == vb::Node::Capture;
    close(fd);
    if (!owned) return refuse("open() of the capture node bypassed the board");
    FILE* f = fopen(vyxnode::kGpioPath, "r");
    if (!f) return refuse("fopen of the GPIO node failed");
    owned = vb::nodeOfDescriptor(fileno(f)) == vb::Node::Gpio;
    fclose(f);
    if (!owned) return refuse("fopen() of the GPIO node bypassed the board");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (!boardOwnsNodes()) return 3;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
