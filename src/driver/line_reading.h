// SPDX-License-Identifier: MIT
// When and how the file of a list line is read: ahead of its turn on any
// thread, deferred to its turn, or serially once the workers are stopped.
// This is the one home of that rule, and of the reasons a run starts no
// worker at all.
#pragma once

#include "reader/program_reader.h"

namespace korrin {

// The files the run itself writes: the report, and standard output and
// standard error when they are files. They grow until their turn.
class OwnFiles {
 public:
  void Add(const FileIdentity& file) { files_[count_++] = file; }
  bool Holds(const FileIdentity& file) const;

 private:
  FileIdentity files_[3];
  int count_ = 0;
};

// The run's own files, and whether the list may be read ahead at all.
struct RunFiles {
  OwnFiles own;
  bool list_needs_one_line_at_a_time = false;
};
RunFiles FilesOfTheRun(int report_fd, int list_fd);

// The workers a run starts besides its own thread: one per further
// processor, or none where its files or the system forbid reading ahead.
int WorkersForThisRun(const RunFiles& files);
// Workers at most, those added while reads wait for the disk included.
constexpr int kMostWorkers = 16;

// What a read ahead of its turn finds of a listed path.
enum class Finding {
  RegularFile,  // opened: read now
  NoFile,       // missing, no permission, a loop of links: nothing to read, now or later
  Directory,    // read at its turn, as a one-line run reads it
  OwnFile,      // the run writes it: read at its turn, as it stands then
  // Another process holds a lease, which the open asked it to give up: it
  // may change later files first. The open at its turn waits for it.
  Leased,
  Unsure,           // the machine failed to say: the open at its turn reports it
  ActsOnOthers,     // a FIFO, a device or a socket: opening it may release another process
  ReaderDependent,  // /proc, /sys, a cgroup, /dev/fd/N: it depends on the reading process
  LackedResources,  // no descriptor or memory was left, which other threads may hold
};

// Where a queued line stands.
enum class LineState {
  Unread,    // not read yet
  Read,      // its scan is final
  Deferred,  // to be read at its turn, the workers running
  Serial,    // to be read at its turn once the workers are stopped for good
};

// The rule: the state a read ahead leaves its line in, by what it found.
LineState StateAfter(Finding finding);

// What a thread reads list lines with: its buffer and the run's settings. A
// large file's far search runs on this thread alone, unless a subclass
// shares it with other threads.
class LineReader {
 public:
  LineReader(ScanBuffer& buffer, const LargeFileSettings& settings, const OwnFiles& own);

  // Ahead of its turn: the file is read into `scan` only if the rule lets
  // it. Returns where the line stands.
  LineState Ahead(const char* path, const char* name, ProgramScan* scan);
  // At its turn, as a run of one line at a time reads it. Serial when the
  // open lacked descriptors or memory, which stopped workers may give back.
  LineState AtItsTurn(const char* path, const char* name, ProgramScan* scan);

  ScanBuffer& buffer() { return buffer_; }

 protected:
  ~LineReader() = default;
  virtual int64_t SearchFar(const FarSearch& search);

 private:
  Finding Find(const char* path, OpenedProgram* file);
  bool ReaderDependent(const OpenedProgram& file);
  ProgramScan Scan(OpenedProgram& file, const char* name);

  ScanBuffer& buffer_;
  const LargeFileSettings settings_;
  const OwnFiles& own_;
  // The file system of the last file opened, and whether it depends on the
  // reader: files come in runs from one file system, and its type is asked
  // once for each run.
  uint64_t last_device_ = UINT64_MAX;
  bool last_device_depends_ = false;
};

}  // namespace korrin
