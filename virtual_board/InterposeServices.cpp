// InterposeServices.cpp - the process services the board takes part in:
// loading the sensor plug-in by its board path, and thread and semaphore
// creation, which fail on request so that the SDK's handling of those
// failures can be exercised.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "Dispatch.h"
#include "Libc.h"
#include "Paths.h"

extern "C" {

// ================================================================ loading
void* dlopen(const char* file, int mode) noexcept {
    VB_REAL(void* (*)(const char*, int), dlopen);
    // The plug-in must bind to the library already in the process.
    mode &= ~RTLD_DEEPBIND;
    std::string keep;
    if (file && strcmp(file, "/usr/lib/libvyxSensorQ210B.so") == 0) {
        file = vb::pluginTarget(keep);
        // A missing plug-in: let the loader itself report a file that is not there.
        if (!file) file = "/nonexistent/vyxboard/libvyxSensorQ210B.so";
    }
    return real_dlopen(file, mode);
}

// ================================================================ services
// Thread and semaphore creation fail on request, so the SDK's handling of
// those failures can be exercised.
int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                   void* arg) noexcept {
    if (int e = vb::serviceFault(vb::Service::ThreadCreate)) return e;
    VB_REAL(int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*), pthread_create);
    return real_pthread_create(thread, attr, start, arg);
}

int sem_init(sem_t* sem, int pshared, unsigned value) noexcept {
    if (int e = vb::serviceFault(vb::Service::SemInit)) {
        errno = e;
        return -1;
    }
    VB_REAL(int (*)(sem_t*, int, unsigned), sem_init);
    return real_sem_init(sem, pshared, value);
}

sem_t* sem_open(const char* name, int oflag, ...) noexcept {
    mode_t mode = 0;
    unsigned value = 0;
    if (oflag & O_CREAT) {
        va_list ap;
        va_start(ap, oflag);
        mode = static_cast<mode_t>(va_arg(ap, int));
        value = va_arg(ap, unsigned);
        va_end(ap);
    }
    if (int e = vb::serviceFault(vb::Service::SemOpen)) {
        errno = e;
        return SEM_FAILED;
    }
    VB_REAL(sem_t* (*)(const char*, int, ...), sem_open);
    return real_sem_open(name, oflag, mode, value);
}


}  // extern "C"
