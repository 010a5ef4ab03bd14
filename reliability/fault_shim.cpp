// A preloadable library that makes one chosen file-system call of a process
// fail, so that tests can show how a caller copes with every single failure.
//
//   LD_PRELOAD=fault_shim.so python3 ...
//   ctypes: revevu_fault_arm(n, errno, mode); ...; revevu_fault_disarm()
//
// While armed, every call of the functions below counts (writes, fsyncs and
// closes of the standard streams excepted, so that diagnostics go through);
// the n-th counted call fails with `errno` (mode 0), returns 0 from a write
// (mode 1), or, with n = 0, every write is cut to at most three bytes (mode 2).
// revevu_fault_arm_named(name, errno) instead fails the first counted call of
// that function. revevu_fault_trace() lists the counted calls, comma-separated;
// a close of a descriptor that cannot have been written through (opened for
// reading, or an O_PATH handle) is listed as "close(read-only)".
// revevu_fault_refuse_tmpfile(errno), armed or not, makes every O_TMPFILE open
// fail with `errno` (0: no longer), as a file system without unnamed files does;
// REVEVU_FAULT_REFUSE_TMPFILE=ERRNO in the environment does so from the start
// of the process, for a program that cannot call it.
// revevu_fault_refuse_links(errno) likewise makes every linkat fail, as where
// /proc is missing and the process may not link from a descriptor.
// REVEVU_FAULT_SHRINK_MAPPED=PATH in the environment: mapping that file cuts
// it to half its length, as if another process truncated it meanwhile.
// REVEVU_FAULT_READ_AT_END=PATH: a read of that file at its end fails (EIO).
// REVEVU_FAULT_SHORT_WRITES=1: every write, but to the standard streams, is
// cut to at most three bytes, as mode 2 does, from the start of the process.
// REVEVU_FAULT_ZERO_WRITE=K: the K-th such write writes nothing and returns 0;
// REVEVU_FAULT_FAILED_WRITE=K: it fails with EIO.
// REVEVU_FAULT_CHANGE_MAPPED=PATH: a mapping of that file (more than one page)
// reads as the file until its last page is first read; from then on its first
// byte differs, as if another process wrote the file between two passes.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

namespace {

enum Mode { kFailWithErrno = 0, kWriteZero = 1, kShortWrites = 2, kFailNamed = 3 };

std::atomic<bool> armed{false};
std::atomic<int> counted{0};
int fail_at = 0;
int fail_errno = 0;
int mode = kFailWithErrno;
char fail_name[64];
bool struck = false;
std::atomic<int> tmpfile_errno{0};

__attribute__((constructor)) void refuse_tmpfile_from_environment() {
    if (const char* const refused = getenv("REVEVU_FAULT_REFUSE_TMPFILE")) {
        tmpfile_errno = atoi(refused);
    }
}
std::atomic<int> link_errno{0};
char trace[8192];
std::size_t trace_length = 0;

void note(const char* name) {
    const std::size_t length = strlen(name);
    if (trace_length + length + 2 >= sizeof trace) return;
    if (trace_length != 0) trace[trace_length++] = ',';
    memcpy(trace + trace_length, name, length);
    trace_length += length;
    trace[trace_length] = '\0';
}

// True when this call is the one chosen to fail.
bool strikes(const char* name) {
    if (!armed.load()) return false;
    note(name);
    const int number = ++counted;
    if (mode == kFailNamed) {
        if (struck || strcmp(name, fail_name) != 0) return false;
        struck = true;
        return true;
    }
    return mode != kShortWrites && number == fail_at;
}

bool unnamed_file(int flags) {
    return (flags & O_TMPFILE) == O_TMPFILE;
}

bool standard_stream(int fd) {
    return fd >= 0 && fd <= 2;
}

// Nothing can have been written through a descriptor opened for reading.
bool read_only(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && ((flags & O_ACCMODE) == O_RDONLY || (flags & O_PATH) != 0);
}

template <typename Function>
Function real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

template <typename Result>
Result refuse() {
    errno = fail_errno;
    return static_cast<Result>(-1);
}

mode_t mode_argument(int flags, va_list arguments) {
    return (flags & O_CREAT) != 0 || unnamed_file(flags)
               ? static_cast<mode_t>(va_arg(arguments, int))
               : 0;
}

ssize_t counted_write(const char* name, int fd, const void* data, size_t size, off_t offset,
                      bool positional) {
    if (!standard_stream(fd)) {
        if (strikes(name)) {
            if (mode == kWriteZero) return 0;
            return refuse<ssize_t>();
        }
        if (armed.load() && mode == kShortWrites && size > 3) size = 3;
        if (getenv("REVEVU_FAULT_SHORT_WRITES") != nullptr && size > 3) size = 3;
        const char* const zero = getenv("REVEVU_FAULT_ZERO_WRITE");
        const char* const failing = getenv("REVEVU_FAULT_FAILED_WRITE");
        if (zero != nullptr || failing != nullptr) {
            static std::atomic<int> writes{0};
            const int number = ++writes;
            if (zero != nullptr && number == atoi(zero)) return 0;
            if (failing != nullptr && number == atoi(failing)) {
                errno = EIO;
                return -1;
            }
        }
    }
    if (positional) {
        using Pwrite = ssize_t (*)(int, const void*, size_t, off_t);
        static const auto next = real<Pwrite>(name);
        return next(fd, data, size, offset);
    }
    using Write = ssize_t (*)(int, const void*, size_t);
    static const auto next = real<Write>("write");
    return next(fd, data, size);
}

// The mapping that REVEVU_FAULT_CHANGE_MAPPED names: its last page is kept
// unreadable until the first read of it, which flips the first byte.
struct ChangedMapping {
    char* first = nullptr;
    char* last_page = nullptr;
    size_t page = 0;
    struct sigaction previous {};
} changed;

void change_on_first_read(int signal, siginfo_t* info, void* context) {
    static_cast<void>(context);
    char* const at = static_cast<char*>(info->si_addr);
    if (changed.last_page == nullptr || at < changed.last_page ||
        at >= changed.last_page + changed.page) {
        sigaction(signal, &changed.previous, nullptr);  // not ours: fault again, as before
        return;
    }
    mprotect(changed.first, changed.page, PROT_READ | PROT_WRITE);  // private: a copy of the page
    changed.first[0] = static_cast<char>(changed.first[0] ^ 1);
    mprotect(changed.first, changed.page, PROT_READ);
    mprotect(changed.last_page, changed.page, PROT_READ);
    changed.last_page = nullptr;
}

void change_later(void* mapped, size_t length, int flags, int fd) {
    const char* const path = getenv("REVEVU_FAULT_CHANGE_MAPPED");
    struct stat target {};
    struct stat file {};
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    if (path == nullptr || (flags & MAP_PRIVATE) == 0 || length <= page ||
        ::stat(path, &target) != 0 || ::fstat(fd, &file) != 0 || file.st_dev != target.st_dev ||
        file.st_ino != target.st_ino) {
        return;
    }
    changed.first = static_cast<char*>(mapped);
    changed.page = page;
    changed.last_page = changed.first + (length - 1) / page * page;
    struct sigaction action {};
    action.sa_sigaction = change_on_first_read;
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGSEGV, &action, &changed.previous);
    mprotect(changed.last_page, page, PROT_NONE);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void revevu_fault_arm(int call_number, int error_number,
                                                             int fault_mode) {
    fail_at = call_number;
    fail_errno = error_number;
    mode = fault_mode;
    counted = 0;
    trace_length = 0;
    trace[0] = '\0';
    armed = true;
}

__attribute__((visibility("default"))) void revevu_fault_arm_named(const char* name,
                                                                   int error_number) {
    revevu_fault_arm(0, error_number, kFailNamed);
    snprintf(fail_name, sizeof fail_name, "%s", name);
    struck = false;
}

__attribute__((visibility("default"))) void revevu_fault_refuse_tmpfile(int error_number) {
    tmpfile_errno = error_number;
}

__attribute__((visibility("default"))) void revevu_fault_refuse_links(int error_number) {
    link_errno = error_number;
}

__attribute__((visibility("default"))) int revevu_fault_disarm() {
    armed = false;
    return counted.load();
}

__attribute__((visibility("default"))) const char* revevu_fault_trace() {
    return trace;
}

#define REVEVU_OPEN_LIKE(name)                                                          \
    __attribute__((visibility("default"))) int name(const char* path, int flags, ...) { \
        va_list arguments;                                                              \
        va_start(arguments, flags);                                                     \
        const mode_t permissions = mode_argument(flags, arguments);                     \
        va_end(arguments);                                                              \
        if (strikes(#name)) return refuse<int>();                                       \
        using Open = int (*)(const char*, int, ...);                                    \
        static const auto next = real<Open>(#name);                                     \
        return next(path, flags, permissions);                                          \
    }
REVEVU_OPEN_LIKE(open)
REVEVU_OPEN_LIKE(open64)

#define REVEVU_OPENAT_LIKE(name)                                                                 \
    __attribute__((visibility("default"))) int name(int dir, const char* path, int flags, ...) { \
        va_list arguments;                                                                       \
        va_start(arguments, flags);                                                              \
        const mode_t permissions = mode_argument(flags, arguments);                              \
        va_end(arguments);                                                                       \
        if (strikes(#name)) return refuse<int>();                                                \
        if (unnamed_file(flags) && tmpfile_errno.load() != 0) {                                  \
            errno = tmpfile_errno.load();                                                        \
            return -1;                                                                           \
        }                                                                                        \
        using Openat = int (*)(int, const char*, int, ...);                                      \
        static const auto next = real<Openat>(#name);                                            \
        return next(dir, path, flags, permissions);                                              \
    }
REVEVU_OPENAT_LIKE(openat)
REVEVU_OPENAT_LIKE(openat64)

// Forwards a call after giving the fault a chance; for functions that
// return -1 and set errno on failure.
#define REVEVU_FORWARD(result, name, parameters, arguments)         \
    __attribute__((visibility("default"))) result name parameters { \
        if (strikes(#name)) return refuse<result>();                \
        using Function = result(*) parameters;                      \
        static const auto next = real<Function>(#name);             \
        return next arguments;                                      \
    }
REVEVU_FORWARD(int, __open_2, (const char* path, int flags), (path, flags))
REVEVU_FORWARD(int, __open64_2, (const char* path, int flags), (path, flags))
REVEVU_FORWARD(int, __openat_2, (int dir, const char* path, int flags), (dir, path, flags))
REVEVU_FORWARD(int, __openat64_2, (int dir, const char* path, int flags), (dir, path, flags))
REVEVU_FORWARD(int, creat, (const char* path, mode_t permissions), (path, permissions))
REVEVU_FORWARD(int, mkstemp, (char* name), (name))
REVEVU_FORWARD(int, mkostemp, (char* name, int flags), (name, flags))
REVEVU_FORWARD(int, mkstemps, (char* name, int suffix), (name, suffix))
REVEVU_FORWARD(int, mkostemps, (char* name, int suffix, int flags), (name, suffix, flags))
REVEVU_FORWARD(int, rename, (const char* from, const char* to), (from, to))
REVEVU_FORWARD(int, renameat, (int from_dir, const char* from, int to_dir, const char* to),
               (from_dir, from, to_dir, to))
REVEVU_FORWARD(int, renameat2,
               (int from_dir, const char* from, int to_dir, const char* to, unsigned flags),
               (from_dir, from, to_dir, to, flags))
REVEVU_FORWARD(int, unlink, (const char* path), (path))
REVEVU_FORWARD(int, unlinkat, (int dir, const char* path, int flags), (dir, path, flags))
REVEVU_FORWARD(int, fchmod, (int fd, mode_t permissions), (fd, permissions))
REVEVU_FORWARD(int, fchown, (int fd, uid_t user, gid_t group), (fd, user, group))
REVEVU_FORWARD(int, stat, (const char* path, struct stat* out), (path, out))
REVEVU_FORWARD(int, lstat, (const char* path, struct stat* out), (path, out))
REVEVU_FORWARD(int, fstat, (int fd, struct stat* out), (fd, out))
REVEVU_FORWARD(int, fstatat, (int dir, const char* path, struct stat* out, int flags),
               (dir, path, out, flags))
REVEVU_FORWARD(ssize_t, readlink, (const char* path, char* out, size_t size), (path, out, size))
REVEVU_FORWARD(ssize_t, readlinkat, (int dir, const char* path, char* out, size_t size),
               (dir, path, out, size))
REVEVU_FORWARD(ssize_t, flistxattr, (int fd, char* out, size_t size), (fd, out, size))
REVEVU_FORWARD(ssize_t, fgetxattr, (int fd, const char* name, void* out, size_t size),
               (fd, name, out, size))
REVEVU_FORWARD(int, fsetxattr,
               (int fd, const char* name, const void* value, size_t size, int flags),
               (fd, name, value, size, flags))
REVEVU_FORWARD(int, fremovexattr, (int fd, const char* name), (fd, name))
REVEVU_FORWARD(int, access, (const char* path, int how), (path, how))
REVEVU_FORWARD(int, faccessat, (int dir, const char* path, int how, int flags),
               (dir, path, how, flags))
REVEVU_FORWARD(int, ftruncate, (int fd, off_t length), (fd, length))

__attribute__((visibility("default"))) int linkat(int from_dir, const char* from, int to_dir,
                                                  const char* to, int flags) {
    if (strikes("linkat")) return refuse<int>();
    if (link_errno.load() != 0) {
        errno = link_errno.load();
        return -1;
    }
    using Linkat = int (*)(int, const char*, int, const char*, int);
    static const auto next = real<Linkat>("linkat");
    return next(from_dir, from, to_dir, to, flags);
}

// With REVEVU_FAULT_SHRINK_MAPPED naming a file, mapping that file cuts it to
// half its length at once, as another process truncating it while it is read.
__attribute__((visibility("default"))) void* mmap(void* address, size_t length, int protection,
                                                  int flags, int fd, off_t offset) {
    using Mmap = void* (*)(void*, size_t, int, int, int, off_t);
    static const auto next = real<Mmap>("mmap");
    void* const mapped = next(address, length, protection, flags, fd, offset);
    const char* const shrunk = getenv("REVEVU_FAULT_SHRINK_MAPPED");
    struct stat target {};
    struct stat file {};
    if (mapped != MAP_FAILED && shrunk != nullptr && ::stat(shrunk, &target) == 0 &&
        ::fstat(fd, &file) == 0 && file.st_dev == target.st_dev && file.st_ino == target.st_ino) {
        static_cast<void>(::truncate(shrunk, file.st_size / 2));
    }
    if (mapped != MAP_FAILED) change_later(mapped, length, flags, fd);
    return mapped;
}

// With REVEVU_FAULT_READ_AT_END naming a file, a read of that file at or past
// its end fails with EIO, as a disk that fails on the last sector.
__attribute__((visibility("default"))) ssize_t read(int fd, void* data, size_t size) {
    using Read = ssize_t (*)(int, void*, size_t);
    static const auto next = real<Read>("read");
    const char* const failing = getenv("REVEVU_FAULT_READ_AT_END");
    struct stat target {};
    struct stat file {};
    if (failing != nullptr && ::stat(failing, &target) == 0 && ::fstat(fd, &file) == 0 &&
        file.st_dev == target.st_dev && file.st_ino == target.st_ino &&
        ::lseek(fd, 0, SEEK_CUR) >= file.st_size) {
        errno = EIO;
        return -1;
    }
    return next(fd, data, size);
}

__attribute__((visibility("default"))) char* realpath(const char* path, char* resolved) {
    if (strikes("realpath")) {
        errno = fail_errno;
        return nullptr;
    }
    using Realpath = char* (*)(const char*, char*);
    static const auto next = real<Realpath>("realpath");
    return next(path, resolved);
}

__attribute__((visibility("default"))) ssize_t write(int fd, const void* data, size_t size) {
    return counted_write("write", fd, data, size, 0, false);
}

__attribute__((visibility("default"))) ssize_t pwrite(int fd, const void* data, size_t size,
                                                      off_t offset) {
    return counted_write("pwrite", fd, data, size, offset, true);
}

__attribute__((visibility("default"))) ssize_t pwrite64(int fd, const void* data, size_t size,
                                                        off_t offset) {
    return counted_write("pwrite64", fd, data, size, offset, true);
}

#define REVEVU_FD_CALL(name)                                         \
    __attribute__((visibility("default"))) int name(int fd) {        \
        using Function = int (*)(int);                               \
        static const auto next = real<Function>(#name);              \
        if (standard_stream(fd) || !strikes(#name)) return next(fd); \
        return refuse<int>();                                        \
    }
REVEVU_FD_CALL(fsync)
REVEVU_FD_CALL(fdatasync)

// A failed close still releases the descriptor, as the kernel does.
__attribute__((visibility("default"))) int close(int fd) {
    using Close = int (*)(int);
    static const auto next = real<Close>("close");
    const bool fail = !standard_stream(fd) && strikes(read_only(fd) ? "close(read-only)" : "close");
    const int result = next(fd);
    return fail ? refuse<int>() : result;
}

}  // extern "C"
