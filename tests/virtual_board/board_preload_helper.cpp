// board_preload_helper - a library a user might preload beside the board: its
// constructor uses the libc calls the board takes over (on harmless paths),
// at a time when the board itself may not have been set up yet.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

__attribute__((constructor)) static void helperLoaded() {
    struct stat st;
    int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char c;
        (void)!read(fd, &c, 1);
        fstat(fd, &st);
        close(fd);
    }
    stat("/", &st);
    if (FILE* f = fopen("/dev/null", "r")) fclose(f);
    void* m = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m != MAP_FAILED) munmap(m, 4096);
    static const char kSaid[] = "board_preload_helper: loaded\n";
    (void)!write(2, kSaid, strlen(kSaid));
}
