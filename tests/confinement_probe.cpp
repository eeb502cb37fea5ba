// SPDX-License-Identifier: MIT
// A preloaded library that, at korrin's first read of a listed file (its
// first pread), tries what a confined korrin must not do, and writes one
// line per attempt to KORRIN_PROBE_REPORT: the attempt's name, a blank, and
// 0 or the errno it failed with.
//   create   a new file, KORRIN_PROBE_DIR/created
//   run      /bin/true
//   connect  TCP to 127.0.0.1, port KORRIN_PROBE_PORT
// The report is opened as the library loads, before korrin confines
// itself, at a descriptor far above korrin's own.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kProbeDescriptor = 512;

int OpenReport() {
  const char* path = std::getenv("KORRIN_PROBE_REPORT");
  const int fd = path == nullptr ? -1 : open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, kProbeDescriptor);
  close(fd);
  return moved;
}
const int report_fd = OpenReport();

int Create() {
  const char* dir = std::getenv("KORRIN_PROBE_DIR");
  const std::string path = std::string(dir == nullptr ? "." : dir) + "/created";
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  close(fd);
  return 0;
}

// /bin/true gets an empty environment: no probe is loaded into it.
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

int Connect() {
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

void TryAll() {
  const struct {
    const char* name;
    int (*attempt)();
  } attempts[] = {{"create", Create}, {"run", RunTrue}, {"connect", Connect}};
  for (const auto& a : attempts) {
    char line[64];
    const int length = std::snprintf(line, sizeof line, "%s %d\n", a.name, a.attempt());
    if (write(report_fd, line, static_cast<size_t>(length)) != length) std::abort();
  }
}

// The C library's name of the pread that korrin calls (64-bit offsets).
#if defined(__USE_FILE_OFFSET64)
constexpr const char* kPread = "pread64";
#else
constexpr const char* kPread = "pread";
#endif

}  // namespace

extern "C" ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  static const auto real =
      reinterpret_cast<ssize_t (*)(int, void*, size_t, off_t)>(dlsym(RTLD_NEXT, kPread));
  static std::atomic<bool> tried{false};
  if (report_fd >= 0 && !tried.exchange(true)) TryAll();
  return real(fd, buffer, count, offset);
}
