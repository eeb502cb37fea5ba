// SPDX-License-Identifier: MIT
// A preloaded library that makes system calls fail on chosen files, for the
// end-to-end tests of korrin's I/O error paths. KORRIN_FAULTS holds rules
// "PATTERN=FAULT[,FAULT...]" separated by ';'. A rule applies to every open
// whose path contains PATTERN and to the descriptor that open returns.
// Faults:
//   open-eio, open-emfile, open-enfile, open-enomem: the open fails so
//   open-eintr: the first three opens fail with EINTR
//   fstat-eio: fstat of the descriptor fails with EIO
//   size-zero: fstat reports a size of 0
//   read-max:N: each read returns at most N bytes
//   read-eintr: every other read fails with EINTR
//   read-eio-after:N: reads fail with EIO once N bytes have been read
//   truncate-after-stat:N: once korrin has taken the file's size, the file
//     named PATTERN is cut to N bytes, as another process might do while it
//     is scanned (through a descriptor opened when the shim loads)
// KORRIN_NO_OPENAT2, when set, makes openat2 fail with ENOSYS, as on a
// kernel older than 5.6. KORRIN_FAIL_THREADS, when set, makes every thread
// creation fail: no worker can start, as if the look-ahead were broken.
// KORRIN_OPEN_LOG names a file to which every open appends a line: "main"
// or "worker" (the thread that opened), a blank, and the path; and every
// thread started, the line "thread".
// KORRIN_PROBE_REPORT names a file to which, at korrin's first pread, the
// shim writes what a confined korrin must not do, one line per attempt: its
// name, a blank, and 0 or the errno it failed with.
//   create   a new file, KORRIN_PROBE_DIR/created
//   run      /bin/true
//   connect  TCP to 127.0.0.1, port KORRIN_PROBE_PORT
// korrin confines itself before it reads the list: what the shim writes to
// is opened when it loads, at descriptors far above korrin's own.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Rule {
  char pattern[256] = {};
  int open_errno = 0;
  bool open_eintr = false;
  bool fstat_eio = false;
  bool size_zero = false;
  long read_max = 0;
  bool read_eintr = false;
  long read_eio_after = -1;
  std::atomic<long> truncate_after_stat{-1};
  int truncate_fd = -1;  // the file to cut, when truncate_after_stat is set
  std::atomic<int> eintr_left{3};
};

constexpr int kMaxRules = 8;
constexpr int kMaxFds = 4096;
// Where the shim's own descriptors go, so that korrin's are numbered as
// without it. Under a lower limit on descriptors the shim has none.
constexpr int kShimDescriptors = 512;

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// The shim is built with korrin's flags (64-bit offsets and times), so its
// open, pread and fstat are the C library's functions that korrin calls;
// these are their names.
#if defined(__USE_FILE_OFFSET64)
constexpr const char* kOpen = "open64";
constexpr const char* kPread = "pread64";
#if defined(__USE_TIME_BITS64) && __TIMESIZE == 32
constexpr const char* kFstat = "__fstat64_time64";
#else
constexpr const char* kFstat = "fstat64";
#endif
#else
constexpr const char* kOpen = "open";
constexpr const char* kPread = "pread";
constexpr const char* kFstat = "fstat";
#endif

// Opens `path` for the shim itself, out of korrin's way; -1 if it cannot.
int OpenForTheShim(const char* path, int flags) {
  static const auto real_open = Next<int (*)(const char*, int, ...)>(kOpen);
  static const auto real_close = Next<int (*)(int)>("close");
  const int fd = real_open(path, flags | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, kShimDescriptors);
  real_close(fd);
  return moved;
}

struct Faults {
  Rule rules[kMaxRules];
  int count = 0;
  std::atomic<int> rule_of_fd[kMaxFds];  // rule index + 1, or 0
  std::atomic<long> bytes_read[kMaxFds];
  std::atomic<long> reads[kMaxFds];
  int log_fd = -1;    // KORRIN_OPEN_LOG's
  int probe_fd = -1;  // KORRIN_PROBE_REPORT's

  Faults() {
    for (int fd = 0; fd < kMaxFds; ++fd) rule_of_fd[fd] = 0;
    const char* setting = std::getenv("KORRIN_FAULTS");
    while (setting != nullptr && *setting != '\0' && count < kMaxRules) {
      const char* end = std::strchr(setting, ';');
      if (end == nullptr) end = setting + std::strlen(setting);
      Parse(setting, end, rules[count++]);
      setting = *end == ';' ? end + 1 : end;
    }
    for (int k = 0; k < count; ++k) {
      if (rules[k].truncate_after_stat >= 0) {
        rules[k].truncate_fd = OpenForTheShim(rules[k].pattern, O_WRONLY);
      }
    }
    if (const char* log = std::getenv("KORRIN_OPEN_LOG")) {
      log_fd = OpenForTheShim(log, O_WRONLY | O_APPEND | O_CREAT);
    }
    if (const char* report = std::getenv("KORRIN_PROBE_REPORT")) {
      probe_fd = OpenForTheShim(report, O_WRONLY | O_CREAT | O_TRUNC);
    }
  }

  static void Parse(const char* from, const char* end, Rule& rule) {
    const char* equals = static_cast<const char*>(std::memchr(from, '=', end - from));
    if (equals == nullptr) return;
    std::memcpy(rule.pattern, from, std::min<size_t>(equals - from, sizeof rule.pattern - 1));
    for (const char* fault = equals + 1; fault < end;) {
      const char* comma = static_cast<const char*>(std::memchr(fault, ',', end - fault));
      if (comma == nullptr) comma = end;
      auto is = [&](const char* name) { return std::strncmp(fault, name, std::strlen(name)) == 0; };
      auto number = [&](const char* name) { return std::atol(fault + std::strlen(name)); };
      if (is("open-eio")) rule.open_errno = EIO;
      if (is("open-emfile")) rule.open_errno = EMFILE;
      if (is("open-enfile")) rule.open_errno = ENFILE;
      if (is("open-enomem")) rule.open_errno = ENOMEM;
      if (is("open-eintr")) rule.open_eintr = true;
      if (is("fstat-eio")) rule.fstat_eio = true;
      if (is("size-zero")) rule.size_zero = true;
      if (is("read-max:")) rule.read_max = number("read-max:");
      if (is("read-eintr")) rule.read_eintr = true;
      if (is("read-eio-after:")) rule.read_eio_after = number("read-eio-after:");
      if (is("truncate-after-stat:")) rule.truncate_after_stat = number("truncate-after-stat:");
      fault = comma + 1;
    }
  }

  Rule* ForPath(const char* path) {
    for (int k = 0; k < count; ++k) {
      if (path != nullptr && std::strstr(path, rules[k].pattern) != nullptr) return &rules[k];
    }
    return nullptr;
  }
  Rule* ForFd(int fd) {
    if (fd < 0 || fd >= kMaxFds || rule_of_fd[fd] == 0) return nullptr;
    return &rules[rule_of_fd[fd] - 1];
  }
};

Faults& TheFaults() {
  static Faults faults;
  return faults;
}

// The rules are read, and the shim's files opened, as the shim loads.
[[gnu::constructor]] void AtLoad() {
  TheFaults();
}

const char* LogPath() {
  static const char* const log = std::getenv("KORRIN_OPEN_LOG");
  return log;
}

// Appends `text` and a newline to the open log, if there is one.
void Log(const char* text) {
  const int fd = TheFaults().log_fd;
  if (fd < 0) return;
  char line[4200];
  const int length = std::snprintf(line, sizeof line, "%s\n", text);
  static const auto real_write = Next<ssize_t (*)(int, const void*, size_t)>("write");
  real_write(fd, line, static_cast<size_t>(std::min<int>(length, sizeof line - 1)));
}

// Appends "main PATH" or "worker PATH" to the open log.
void LogOpen(const char* path) {
  if (path == nullptr || LogPath() == nullptr || std::strcmp(path, LogPath()) == 0) return;
  char line[4200];
  std::snprintf(line, sizeof line, "%s %s", gettid() == getpid() ? "main" : "worker", path);
  Log(line);
}

// An open of `path` through `real`, which opens it.
template <typename RealOpen>
int Open(const char* path, RealOpen real) {
  LogOpen(path);
  Faults& faults = TheFaults();
  Rule* rule = faults.ForPath(path);
  if (rule != nullptr && rule->open_errno != 0) {
    errno = rule->open_errno;
    return -1;
  }
  if (rule != nullptr && rule->open_eintr && rule->eintr_left.fetch_sub(1) > 0) {
    errno = EINTR;
    return -1;
  }
  const int fd = real();
  if (fd >= 0 && fd < kMaxFds) {
    faults.rule_of_fd[fd] = rule == nullptr ? 0 : static_cast<int>(rule - faults.rules) + 1;
    faults.bytes_read[fd] = 0;
    faults.reads[fd] = 0;
  }
  return fd;
}

// Applies the fstat faults of `fd` to a result of the real call.
int AfterStat(int fd, int result, struct stat* st) {
  Rule* rule = TheFaults().ForFd(fd);
  if (rule == nullptr || result != 0) return result;
  if (rule->fstat_eio) {
    errno = EIO;
    return -1;
  }
  if (rule->size_zero) st->st_size = 0;
  const long cut_to = rule->truncate_after_stat.exchange(-1);
  if (cut_to >= 0 && ftruncate(rule->truncate_fd, cut_to) != 0)
    std::abort();  // the test must see it
  return result;
}

// A read of `fd` through `real`, which reads `count` bytes into `buffer`.
template <typename RealRead>
ssize_t Read(int fd, size_t count, RealRead real) {
  Faults& faults = TheFaults();
  Rule* rule = faults.ForFd(fd);
  if (rule == nullptr) return real(count);
  if (rule->read_eintr && faults.reads[fd]++ % 2 == 0) {
    errno = EINTR;
    return -1;
  }
  if (rule->read_eio_after >= 0) {
    const long left = rule->read_eio_after - faults.bytes_read[fd];
    if (left <= 0) {
      errno = EIO;
      return -1;
    }
    count = std::min<size_t>(count, static_cast<size_t>(left));
  }
  if (rule->read_max > 0) count = std::min<size_t>(count, static_cast<size_t>(rule->read_max));
  const ssize_t got = real(count);
  if (got > 0) faults.bytes_read[fd] += got;
  return got;
}

int CreateAFile() {
  const char* dir = std::getenv("KORRIN_PROBE_DIR");
  char path[4200];
  std::snprintf(path, sizeof path, "%s/created", dir == nullptr ? "." : dir);
  const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  close(fd);
  return 0;
}

// /bin/true gets an empty environment: no shim is loaded into it.
int RunTrue() {
  char program[] = "/bin/true";
  char* const argv[] = {program, nullptr};
  char* const no_environment[] = {nullptr};
  pid_t pid;
  const int error = posix_spawn(&pid, program, nullptr, nullptr, argv, no_environment);
  if (error != 0) return error;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return errno;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : ECHILD;
}

int ConnectTcp() {
  const char* port = std::getenv("KORRIN_PROBE_PORT");
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::atoi(port == nullptr ? "0" : port)));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  const int result =
      connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
  close(fd);
  return result;
}

// Tries, once, what a confined korrin must not do, if a report is asked for.
void ProbeTheConfinement() {
  static std::atomic<bool> tried{false};
  const int fd = TheFaults().probe_fd;
  if (fd < 0 || tried.exchange(true)) return;
  const struct {
    const char* name;
    int (*attempt)();
  } attempts[] = {{"create", CreateAFile}, {"run", RunTrue}, {"connect", ConnectTcp}};
  for (const auto& a : attempts) {
    char line[64];
    const int length = std::snprintf(line, sizeof line, "%s %d\n", a.name, a.attempt());
    if (write(fd, line, static_cast<size_t>(length)) != length) std::abort();
  }
}

}  // namespace

extern "C" {

// The mode argument exists only with O_CREAT.
mode_t ModeArgument(int flags, va_list args) {
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): the caller started the list
  return (flags & O_CREAT) != 0 ? va_arg(args, mode_t) : 0;
}

int open(const char* path, int flags, ...) {
  static const auto real = Next<int (*)(const char*, int, ...)>(kOpen);
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeArgument(flags, args);
  va_end(args);
  return Open(path, [&] { return real(path, flags, mode); });
}
// The checked open of fortified builds (its 64-bit one, as open is).
// NOLINTNEXTLINE(bugprone-reserved-identifier): the C library's own name
int __open_2(const char* path, int flags) {
  return open(path, flags);
}

ssize_t read(int fd, void* buffer, size_t count) {
  static const auto real = Next<ssize_t (*)(int, void*, size_t)>("read");
  return Read(fd, count, [&](size_t n) { return real(fd, buffer, n); });
}
// NOLINTNEXTLINE(bugprone-reserved-identifier): the C library's own name
ssize_t __read_chk(int fd, void* buffer, size_t count, size_t) {
  return read(fd, buffer, count);
}
ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  static const auto real = Next<ssize_t (*)(int, void*, size_t, off_t)>(kPread);
  ProbeTheConfinement();
  return Read(fd, count, [&](size_t n) { return real(fd, buffer, n, offset); });
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                   void* argument) {
  static const auto real =
      Next<int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)>("pthread_create");
  Log("thread");
  static const bool fail = std::getenv("KORRIN_FAIL_THREADS") != nullptr;
  if (fail) return EAGAIN;
  return real(thread, attributes, start, argument);
}

int close(int fd) {
  static const auto real = Next<int (*)(int)>("close");
  if (fd >= 0 && fd < kMaxFds) TheFaults().rule_of_fd[fd] = 0;
  return real(fd);
}

int fstat(int fd, struct stat* st) {
  static const auto real = Next<int (*)(int, struct stat*)>(kFstat);
  return AfterStat(fd, real(fd, st), st);
}

// korrin opens through syscall(SYS_openat2, ...) where it refuses links.
long syscall(long number, ...) {
  static const auto real = Next<long (*)(long, ...)>("syscall");
  va_list args;
  va_start(args, number);
  long a[6];
  for (long& value : a) value = va_arg(args, long);
  va_end(args);
#ifdef SYS_openat2
  static const bool no_openat2 = std::getenv("KORRIN_NO_OPENAT2") != nullptr;
  if (number == SYS_openat2 && no_openat2) {
    errno = ENOSYS;
    return -1;
  }
  if (number == SYS_openat2) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the argument is the caller's pointer
    const auto* path = reinterpret_cast<const char*>(a[1]);
    return Open(path,
                [&] { return static_cast<int>(real(number, a[0], a[1], a[2], a[3], a[4], a[5])); });
  }
#endif
  return real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

}  // extern "C"
