// SPDX-License-Identifier: MIT
#include "driver/line_reading.h"

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

namespace korrin {
namespace {

// The identity of what `fd` holds, when it is a regular file.
std::optional<FileIdentity> FileOf(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return IdentityOf(st);
}

// One per processor the process may run on, but one: the main thread reads
// lines too when the oldest is not ready, and more would only contend.
int WorkersForThisMachine() {
  long processors = 0;
#if defined(CPU_COUNT)
  cpu_set_t cpus;
  if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) processors = CPU_COUNT(&cpus);
#endif
  if (processors <= 0) processors = sysconf(_SC_NPROCESSORS_ONLN);
  return static_cast<int>(std::clamp<long>(processors - 1, 0, kMostWorkers));
}

// What a failed status or open says of the path: the machine's failure, or
// the path's own (missing, no permission, a loop of links).
Finding AfterAFailure(int error_number) {
  if (LackOfResources(error_number)) return Finding::LackedResources;
  return error_number == EIO ? Finding::Unsure : Finding::NoFile;
}

}  // namespace

bool OwnFiles::Holds(const FileIdentity& file) const {
  return std::find(files_, files_ + count_, file) != files_ + count_;
}

RunFiles FilesOfTheRun(int report_fd, int list_fd) {
  RunFiles files;
  const std::optional<FileIdentity> list = FileOf(list_fd);
  if (const std::optional<FileIdentity> report = FileOf(report_fd)) files.own.Add(*report);
  for (const int output : {STDOUT_FILENO, STDERR_FILENO}) {
    const std::optional<FileIdentity> file = FileOf(output);
    if (!file) continue;
    files.own.Add(*file);
    // The run's output would grow the list as it is read.
    if (list && *file == *list) files.list_needs_one_line_at_a_time = true;
  }
  if (OnReaderDependentFileSystem(list_fd)) files.list_needs_one_line_at_a_time = true;
  return files;
}

int WorkersForThisRun(const RunFiles& files) {
  // Without openat2, a worker could not refuse the links that name its
  // own descriptors.
  if (files.list_needs_one_line_at_a_time || !CanRefuseProcessLinks()) return 0;
  return WorkersForThisMachine();
}

LineState StateAfter(Finding finding) {
  switch (finding) {
    case Finding::RegularFile:
    case Finding::NoFile:
      return LineState::Read;
    case Finding::Directory:
    case Finding::OwnFile:
    case Finding::Unsure:
      return LineState::Deferred;
    case Finding::Leased:
    case Finding::ActsOnOthers:
    case Finding::ReaderDependent:
    case Finding::LackedResources:
      return LineState::Serial;
  }
  return LineState::Serial;
}

LineReader::LineReader(ScanBuffer& buffer, const LargeFileSettings& settings, const OwnFiles& own)
    : buffer_(buffer), settings_(settings), own_(own) {}

int64_t LineReader::SearchFar(const FarSearch& search) {
  return SearchAlone(search, buffer_.bytes);
}

// The path's status first, so that only a regular file is opened: a loop of
// links is resolved once, and a FIFO's writer is not released.
Finding LineReader::Find(const char* path, OpenedProgram* file) {
  const PathStatus status = StatusOf(path);
  if (status.error != 0) return AfterAFailure(status.error);
  if (S_ISDIR(status.mode)) return Finding::Directory;
  if (!S_ISREG(status.mode)) return Finding::ActsOnOthers;
  *file = OpenProgramRefusingProcessLinks(path);
  if (file->fd < 0) {
    const int error = file->error_number;
    if (error == 0) return Finding::Unsure;  // no regular file any more
    // The status was read, links followed: ELOOP here is a link to a
    // descriptor, refused; without openat2 nothing can be told.
    if (error == ELOOP || error == ENOSYS) return Finding::ReaderDependent;
    if (error == EAGAIN || error == EWOULDBLOCK) return Finding::Leased;
    if (file->error != FileError::Open) return Finding::NoFile;
    return LackOfResources(error) ? Finding::LackedResources : Finding::Unsure;
  }
  Finding finding = Finding::RegularFile;
  if (ReaderDependent(*file)) finding = Finding::ReaderDependent;
  if (own_.Holds(file->identity)) finding = Finding::OwnFile;
  if (finding != Finding::RegularFile) CloseProgram(*file);
  return finding;
}

// What a file of /proc, /sys and the like holds depends on the process
// reading it, or on the moment, whatever size it claims.
bool LineReader::ReaderDependent(const OpenedProgram& file) {
  if (file.identity.device != last_device_) {
    last_device_ = file.identity.device;
    last_device_depends_ = OnReaderDependentFileSystem(file.fd);
  }
  return last_device_depends_;
}

ProgramScan LineReader::Scan(OpenedProgram& file, const char* name) {
  if (file.fd < 0) return UnopenedScan(file, name);
  ProgramScanner scanner(file, name, buffer_, settings_);
  while (scanner.Continue() == ScanStep::FarSearch) {
    scanner.Resume(SearchFar(scanner.far_search()));
  }
  return scanner.Result();
}

LineState LineReader::Ahead(const char* path, const char* name, ProgramScan* scan) {
  OpenedProgram file;
  const LineState state = StateAfter(Find(path, &file));
  if (state == LineState::Read) *scan = Scan(file, name);
  return state;
}

LineState LineReader::AtItsTurn(const char* path, const char* name, ProgramScan* scan) {
  OpenedProgram file = OpenProgram(path);
  *scan = Scan(file, name);
  return file.fd < 0 && LackOfResources(file.error_number) ? LineState::Serial : LineState::Read;
}

}  // namespace korrin
