// board_probe - a program that knows only the board's device-file contracts
// (open, mmap, write, ioctl, select, read).  It does not link the virtual
// board: the launcher test runs it under vyxsim.
//
// It configures the sensor over SPI and reads the value back, starts capture,
// triggers one frame through the software-trigger register, waits for "169"
// on the capture node, and checks the frame stamp at the start of the buffer
// that the newest-buffer field names.  With --wait it then keeps the nodes
// open until it is ended from outside.  With --idle it touches nothing and
// ends at once (the launcher's refusals run it without the board).  With
// --first-open it opens an ordinary file (itself) and prints the number it
// got, as a program that never touches the board.  With --main-thread-ends
// it ignores SIGTERM, starts a thread that waits forever and ends its main
// thread: the process looks like a zombie but still runs.  With
// --unstamped the frame is expected without the board's stamp.  It prints
// a checksum of the whole frame.
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "PLRegs.h"

namespace {

using namespace vyxpl;

constexpr uint8_t kSensorColumnsReg = 0x15;   // number of columns
constexpr uint16_t kSensorColumns = 0x0500;   // 1280
constexpr unsigned kBufferShift = 30;         // newest buffer: register 52 bits 31..30
constexpr int kInterruptWaitS = 60;  // a bound, not an expectation: a loaded machine under qemu is slow
constexpr size_t kFramePixels = 1280 * 1024;  // the power-on frame

int fail(const char* what) {
    fprintf(stderr, "board_probe: %s\n", what);
    return 1;
}

// FNV-1a over a frame.
uint32_t checksum(const uint8_t* p, size_t n) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 16777619u;
    return h;
}

bool option(int argc, char** argv, const char* name) {
    for (int i = 1; i < argc; ++i)
        if (strcmp(argv[i], name) == 0) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const bool wait = option(argc, argv, "--wait");
    const bool unstamped = option(argc, argv, "--unstamped");
    if (option(argc, argv, "--idle")) return 0;
    if (option(argc, argv, "--main-thread-ends")) {
        signal(SIGTERM, SIG_IGN);
        pthread_t waiter;
        pthread_create(
            &waiter, nullptr,
            [](void*) -> void* {
                for (;;)
                    pause();
            },
            nullptr);
        pthread_exit(nullptr);
    }
    if (option(argc, argv, "--first-open")) {
        printf("board_probe: first open %d\n", open(argv[0], O_RDONLY));
        return 0;
    }

    int spi = open("/dev/spidev32766.0", O_RDWR);
    if (spi < 0) return fail("cannot open the SPI bus");
    const uint8_t wr[3] = {static_cast<uint8_t>(0x80 | kSensorColumnsReg), kSensorColumns >> 8,
                           kSensorColumns & 0xFF};
    if (write(spi, wr, 3) != 3) return fail("SPI write failed");
    uint8_t tx[3] = {kSensorColumnsReg, 0xAA, 0xAA}, rx[3] = {};
    spi_ioc_transfer x;
    memset(&x, 0, sizeof x);
    x.tx_buf = reinterpret_cast<uintptr_t>(tx);
    x.rx_buf = reinterpret_cast<uintptr_t>(rx);
    x.len = 3;
    x.speed_hz = 500000;
    if (ioctl(spi, SPI_IOC_MESSAGE(1), &x) <= 0) return fail("SPI transfer failed");
    if ((rx[1] << 8 | rx[2]) != kSensorColumns) return fail("sensor register did not read back");

    int mem = open("/dev/mem", O_RDWR | O_SYNC);
    int cache = open("/dev/cache_ops", O_RDWR | O_SYNC);
    int irq = open("/dev/vyx_capture_0", O_RDONLY);
    if (mem < 0 || cache < 0 || irq < 0) return fail("cannot open the PL, memory or capture node");
    auto* regs = static_cast<volatile uint32_t*>(
        mmap(nullptr, phys::kFpgaMapLength, PROT_READ | PROT_WRITE, MAP_SHARED, mem, phys::kFpgaBase));
    auto* frames = static_cast<uint8_t*>(mmap(nullptr, phys::kFrameBufferSize * phys::kFrameBufferCount,
                                              PROT_READ | PROT_WRITE, MAP_SHARED, cache,
                                              phys::kFrameBufferBase));
    if (regs == MAP_FAILED || frames == MAP_FAILED) return fail("mmap failed");

    regs[fpga::kControl / 4] = regs[fpga::kControl / 4] | fpga::kControlCaptureStart;
    regs[fpga::kSoftTrigger / 4] = 1;

    fd_set rd;
    FD_ZERO(&rd);
    FD_SET(irq, &rd);
    timeval tv{kInterruptWaitS, 0};
    if (select(irq + 1, &rd, nullptr, nullptr, &tv) != 1) return fail("no capture interrupt");
    char code[9] = {};
    if (read(irq, code, 8) <= 0 || strcmp(code, "169") != 0) return fail("wrong interrupt code");

    uint32_t buffer = regs[fpga::kFrameBufStatus / 4] >> kBufferShift;
    const uint8_t* frame = frames + buffer * phys::kFrameBufferSize;
    uint32_t counter, complement;
    memcpy(&counter, frame, 4);
    memcpy(&complement, frame + 4, 4);
    const uint32_t sum = checksum(frame, kFramePixels);
    if (unstamped) {
        if (counter == ~complement) return fail("a stamp in a frame that should have none");
        printf("board_probe: unstamped frame in buffer %u sum %08x\n", buffer, sum);
    } else {
        if (counter != ~complement) return fail("no frame stamp in the buffer register 52 names");
        printf("board_probe: frame %u in buffer %u sum %08x\n", counter, buffer, sum);
    }
    fflush(stdout);

    regs[fpga::kReleaseBuf / 4] = 1;
    if (wait) {
        // Keep running, as the demos do, until the launcher ends the run.
        for (;;) pause();
    }
    return 0;
}
