// VyxBoard.h - control and fault injection of the virtual board, for tests.
//
// The virtual board (library vyxboard) sits between the process and libc and
// owns the board's device nodes while it is loaded:
//
//   /dev/mem                 the five PL register blocks (FPGA control block,
//                            scaler, three VDMA cores), each a shared memory
//                            window of 0x40000 bytes, mapped at offset =
//                            physical base (any length up to the block end);
//                            every other physical range fails with EINVAL.
//   /dev/cache_ops           reserved RAM 0x30000000..0x40000000, one sparse
//                            shared memory object, mapped at offset =
//                            physical address; request 0xF704 is accepted and
//                            counted; mappings outside the RAM fail (EINVAL).
//   /dev/spidev32766.0/.1    SPI buses 0 and 1: write() of 3-byte frames and
//                            SPI_IOC_MESSAGE(n) transfers, decoded into
//                            sensor register writes and reads; the usual
//                            spidev mode/bits/speed requests; others ENOTTY.
//   /dev/vyx_capture_0       a SOCK_SEQPACKET socket: one read() returns one
//                            interrupt code ("169".."172", sent with a
//                            terminating zero), select/poll work natively.
//   /dev/misc_vyx_gpio       ten lines; read requests 0,1,3 (lines 0-2) and
//                            0x10000..0x10006 (lines 3-9), write requests
//                            0x20000..0x20006, argument = int32_t*; others
//                            ENOTTY.
//
// These paths are recognised however they are spelled: through openat() with
// a directory descriptor, relative to the working directory, with "//", "."
// and "..", through symbolic links, and by the device numbers of the host's
// nodes of the same name.  A node made "missing" answers ENOENT itself.
//
// Paths under "/picture/" (open/openat and their 64-bit and fortified
// variants, creat, fopen, freopen, stat, lstat, fstatat, statfs, statvfs,
// access, faccessat, mkdir, rmdir, unlink, unlinkat, remove, rename,
// renameat, mkstemp, mkostemp, mkstemps, mkostemps, opendir) are redirected
// into a sandbox root: <root>/picture/...  A link as the last component is
// treated as the kernel does (lstat, unlink, rename and O_NOFOLLOW see the
// link itself), so a writer that refuses links sees real links.  The root
// is $VYX_BOARD_ROOT when set (the launcher sets it), otherwise a private
// temporary folder made on first use with picture/sd/ and picture/data/ and
// removed when the process ends.  statfs/statvfs of sandbox paths may report a
// faked amount of free space.
//
// dlopen("/usr/lib/libvyxSensorQ210B.so") loads the plug-in in the board
// library's own folder: the one built in this tree, or the installed one
// ($VYX_BOARD_PLUGIN overrides it); RTLD_DEEPBIND is stripped.
//
// The board is built without _FILE_OFFSET_BITS, _TIME_BITS and
// _FORTIFY_SOURCE and defines every variant of these names a program may
// import: open64, __open_2, __openat64_2, mmap64, stat64, statfs64, fopen64,
// __read_chk, __poll_chk and, on 32-bit ARM, __ioctl_time64, __select64,
// __stat64_time64, __lstat64_time64, __fstatat64_time64 and fcntl64.
//
// Every function here is thread-safe.
#ifndef VYX_BOARD_H
#define VYX_BOARD_H

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "BoardModel.h"
#include "Nodes.h"

namespace vb {

#define VB_API __attribute__((visibility("default")))

// ---------------------------------------------------------------- nodes
enum class Node : int { Mem = 0, CacheOps, Spi0, Spi1, Capture, Gpio, Count };
constexpr int kNodeCount = static_cast<int>(Node::Count);
VB_API const char* nodePath(Node node);

// The board is loaded, interposes libc and owns the nodes.
VB_API bool isActive();
// Node behind a descriptor of this process, or Node::Count when the
// descriptor is not one of the board's.
VB_API Node nodeOfDescriptor(int fd);

// ---------------------------------------------------------------- hardware
enum class Block : int { Fpga = 0, Scaler, VdmaRgb, VdmaG8, VdmaHdmi, Count };
VB_API uint32_t blockBase(Block block);
// 32-bit register at a byte offset of a block, as the PL sees it.
VB_API uint32_t readReg(Block block, uint32_t offset);
VB_API void writeReg(Block block, uint32_t offset, uint32_t value);
inline uint32_t fpgaReg(uint32_t offset) { return readReg(Block::Fpga, offset); }
inline void setFpgaReg(uint32_t offset, uint32_t value) { writeReg(Block::Fpga, offset, value); }
// Physical RAM 0x30000000..0x40000000; false when the range leaves it.
VB_API bool readPhys(uint32_t phys, void* dst, size_t bytes);
VB_API bool writePhys(uint32_t phys, const void* src, size_t bytes);
// Pointer to physical RAM as the board sees it (nullptr outside the RAM).
VB_API uint8_t* physPtr(uint32_t phys);
// The same view the model gets.
VB_API HardwareView hardware();

// ---------------------------------------------------------------- logs
// The SPI, ioctl and GPIO-write logs keep the newest 4096 entries each, in
// memory allocated when the board comes up; an SPI entry keeps at most the
// first 32 bytes of each direction.
enum class SpiKind : int { Write, Transfer, Read };
struct SpiFrame {
    int bus = 0;                 // 0 or 1
    SpiKind kind = SpiKind::Write;
    std::vector<uint8_t> sent;   // bytes clocked out by the master
    std::vector<uint8_t> returned;  // bytes clocked in (empty for a write)
    uint32_t speedHz = 0;        // transfer speed, or the node's speed for a write
    long result = 0;             // what the call returned
};
VB_API std::vector<SpiFrame> spiLog();
VB_API void clearSpiLog();

// ---------------------------------------------------------------- ioctl log
struct IoctlRecord {
    Node node = Node::Count;
    unsigned long request = 0;
    bool hasValue = false;       // GPIO requests: the int32 behind the argument
    int32_t value = 0;           // value after the call (read) or as passed (write)
    int result = 0;
    int error = 0;               // errno when result < 0
};
VB_API std::vector<IoctlRecord> ioctlLog();
VB_API void clearIoctlLog();
// Accepted cache-maintenance requests 0xF704 on /dev/cache_ops.
VB_API uint64_t cacheFlushCount();

// ---------------------------------------------------------------- GPIO
constexpr int kGpioLines = static_cast<int>(vyxnode::kGpioLines);
// Level seen by a read request of the line (also forwarded to the model).
VB_API void setGpioInput(int line, bool level);
VB_API bool gpioLevel(int line);
struct GpioWrite { int line; int32_t value; };
VB_API std::vector<GpioWrite> gpioWrites();
VB_API void clearGpioWrites();

// ---------------------------------------------------------------- interrupts
// Queue the code of camera set 0..3 ("169".."172") as the model would; false
// when withheld.
VB_API bool raiseInterrupt(int set);
// Queue any text as one record (a terminating zero is appended when asked),
// regardless of withholding: tests send "1690", "16", "170" this way.
VB_API bool raiseInterruptText(const std::string& text, bool withNul = true);
// Withhold every interrupt the model raises from now on.
VB_API void withholdInterrupts(bool withhold);
// Let `count` more interrupts through, then withhold the rest.
VB_API void stopInterruptsAfter(unsigned count);
VB_API uint64_t interruptsQueued();     // records placed on the node
VB_API uint64_t interruptsWithheld();   // dropped by withholding (or a full queue)
VB_API uint64_t interruptsRead();       // records read by the process
// Wait until at least `count` records have been read in total; false on time-out.
VB_API bool waitInterruptsRead(uint64_t count, int timeoutMs);

// ---------------------------------------------------------------- resources
VB_API int openNodeDescriptors();               // all nodes
VB_API int openNodeDescriptors(Node node);
VB_API int liveNodeMappings();                  // all nodes
VB_API int liveNodeMappings(Node node);

// ---------------------------------------------------------------- faults
enum class Op : int { Open = 0, Mmap, Ioctl, Write, Read, Select, Count };
struct Fault {
    int error = EIO;             // errno of the failing call
    unsigned fromCall = 1;       // first failing call, counted from setFault (1 = every call)
    unsigned times = 0;          // how many calls fail, 0 = all from fromCall on
    int64_t physOffset = -1;     // Op::Mmap: only mmaps at this offset count (-1 = any)
    unsigned long request = 0;   // Op::Ioctl: only this request counts (0 = any)
};
VB_API void setFault(Node node, Op op, const Fault& fault);
VB_API void clearFault(Node node, Op op);
// Calls of an operation on a node since the last resetCounters().
VB_API unsigned callCount(Node node, Op op);
VB_API void resetCounters();
// The node does not exist: open/stat/access answer ENOENT.
VB_API void setNodeMissing(Node node, bool missing);
// SPI_IOC_MESSAGE transfers on a bus return 0 (nothing clocked in), from the
// Nth transfer on (counted from this call); fromCall 0 switches it off.
VB_API void setSpiTransferReturnsZero(int bus, unsigned fromCall = 1);
// Process services the SDK's failure paths depend on: pthread_create,
// sem_init and sem_open fail (with fault.error) as a fault says.
enum class Service : int { ThreadCreate = 0, SemInit, SemOpen, Count };
VB_API void setServiceFault(Service service, const Fault& fault);
VB_API void clearServiceFault(Service service);
// dlopen of "/usr/lib/libvyxSensorQ210B.so" fails as for a missing file.
VB_API void setPluginMissing(bool missing);
// ... or loads this library instead ("" = the plug-in of this tree), e.g. one
// without newSensor.
VB_API void setPluginPath(const std::string& hostPath);
// Everything above back to normal, and interrupts flow again.
VB_API void resetFaults();
// The operations of a node that setFault can make fail (its fault points).
VB_API std::vector<Op> faultPoints(Node node);

// ---------------------------------------------------------------- reset
// The whole board back to its state after power-on, as far as tests can
// change it: faults, missing nodes, plug-in overrides, call counters, the
// SPI, ioctl and GPIO-write logs, GPIO levels (all low), SPI bus settings,
// interrupt withholding and faked free space.  Open descriptors, mappings,
// register contents and the model's state are left alone.
VB_API void resetBoard();

// ---------------------------------------------------------------- sandbox
VB_API std::string sandboxRoot();
VB_API void setSandboxRoot(const std::string& root);
// Host path of a "/picture/..." path.
VB_API std::string sandboxPath(const std::string& boardPath);
// statfs/statvfs of sandbox paths report this many free bytes.
VB_API void setFakeFreeSpace(uint64_t bytes);
// ... in blocks of blockBytes (the storage's own block size otherwise), whole
// blocks as a file system counts them: bytes / blockBytes blocks are free.
VB_API void setFakeFreeSpace(uint64_t bytes, uint32_t blockBytes);
VB_API void clearFakeFreeSpace();

}  // namespace vb

#endif
