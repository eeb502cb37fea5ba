// SPDX-License-Identifier: MIT
// The engine that reads the files of list lines, in one of two modes. In
// look-ahead, worker threads read the files of the next lines while the run
// reports the earlier ones. In serial, the main thread reads each line's
// file at its turn. Either way the lines are taken in list order, each as a
// run of one line at a time would read it. The rules the threads keep are in
// docs/ARCHITECTURE.md.
#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "driver/line_reading.h"
#include "driver/list_reader.h"
#include "driver/memory.h"
#include "driver/shared_search.h"

namespace korrin {

// One list line on its way through the engine.
struct QueuedLine {
  static constexpr size_t kPathCapacity = ListLine::kLongestPath + 1;
  char path[kPathCapacity];
  size_t path_length;
  bool path_too_long;  // names no file: never opened
  char name[ProgramRecord::kNameWidth + 1];
  ProgramScan scan;
  // Stored under the mutex by the thread that read the line, once `scan` is
  // written; the main thread may load it without the mutex.
  std::atomic<LineState> state;
};

// How the engine reads a line's file into its scan, and where the line
// stands after. Tests put their own here to order the threads.
struct LineReading {
  LineState (*ahead)(LineReader& reader, QueuedLine& line);
  LineState (*at_its_turn)(LineReader& reader, QueuedLine& line);
};
LineState ReadFileAhead(LineReader& reader, QueuedLine& line);
LineState ReadFileAtItsTurn(LineReader& reader, QueuedLine& line);

// The blocks of 512 bytes the process has read from a disk: a read served
// by the page cache reads none, and waiting for the mutex reads none either.
long BlocksReadFromDisk();

struct ReadAheadSettings {
  int workers = 0;  // to start with; none reads serially
  LargeFileSettings large_files;
  LineReading reading = {ReadFileAhead, ReadFileAtItsTurn};
  long (*blocks_read_from_disk)() = BlocksReadFromDisk;  // tests count their own
};

class ReadAhead {
 public:
  enum class Mode { LookAhead, Serial };
  static constexpr uint64_t kSlots = 64;
  // Lines are queued, and sleeping workers woken, this many at a time.
  static constexpr uint64_t kBatch = 8;
  // How often, in lines taken, the engine checks whether reads wait for
  // the disk.
  static constexpr int kLinesPerCheck = 32;

  // Starts the workers of `settings`, fewer when memory or threads run
  // short: with none, the engine is serial. `buffer` is the main thread's.
  ReadAhead(const ReadAheadSettings& settings, const OwnFiles& own_files, ScanBuffer& buffer);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  Mode mode() const { return mode_; }
  // How many list lines may be queued now. In look-ahead, the free slots
  // once a batch of them is free; one slot stays for the line last taken,
  // which the run may still be reporting. In serial, one line at a time.
  uint64_t Room() const;
  bool Empty() const { return queued_ == taken_; }
  void Add(const ListLine& line);
  // The oldest line, read; it stays valid until the next call.
  // `more_lines_ready`: the list has more lines ready, so sleeping workers
  // are woken only for a batch.
  const QueuedLine& TakeOldest(bool more_lines_ready);

 private:
  // A thread that reads lines: a worker, or the run's own. Its large files'
  // far searches are shared with the threads that have nothing else to do.
  struct Thread final : LineReader {
    Thread(ReadAhead& engine, ScanBuffer& buffer);
    int64_t SearchFar(const FarSearch& search) override;
    ReadAhead& engine;
    pthread_t id = {};
    SharedSearch* offered = nullptr;  // guarded by the mutex
    bool parked = false;              // guarded by the mutex: it takes no work
  };
  struct Worker {
    explicit Worker(ReadAhead& engine) : thread(engine, buffer) {}
    ScanBuffer buffer;
    Thread thread;
  };
  struct Slots {
    QueuedLine lines[kSlots];
  };

  QueuedLine& Slot(uint64_t line) { return slots_ ? slots_->lines[line % kSlots] : single_; }
  bool StartWorker();
  void StopWorkers();
  static void* WorkerMain(void* thread);
  void Work(Thread& self);
  // Both take `lock` held, release it while they read, and hold it again
  // when they return.
  bool ReadOrHelp(std::unique_lock<std::mutex>& lock, Thread& self);
  void ReadClaimedLine(std::unique_lock<std::mutex>& lock, Thread& self);
  SharedSearch* SearchToHelp();
  void Publish(bool more_lines_ready);
  void WaitFor(const QueuedLine& line);
  void ReadAtItsTurn(QueuedLine& line);
  void FitWorkersToTheDisk();

  const ReadAheadSettings settings_;
  const OwnFiles own_files_;
  Mode mode_ = Mode::Serial;
  MallocPtr<Slots> slots_;  // in look-ahead
  QueuedLine single_;       // the one slot of a serial engine that never had workers
  Thread main_;             // the main thread
  MallocPtr<Worker> workers_[kMostWorkers];
  int worker_count_ = 0;

  // The main thread's alone. Line numbers count from the start of the run.
  uint64_t queued_ = 0;  // lines before it are in their slots
  uint64_t taken_ = 0;   // lines before it are taken
  int takes_since_check_ = 0;
  long disk_blocks_at_check_ = 0;
  int active_workers_ = 0;  // the workers started and not parked, or not asked to park

  std::mutex mutex_;
  // Written by the main thread under the mutex, which it may read without:
  // the lines before it are seen by the workers.
  uint64_t published_ = 0;
  // Guarded by the mutex, as are each line's state stores and each thread's
  // offered search.
  Thread* threads_[kMostWorkers + 1] = {};  // the main thread, then the workers started
  int thread_count_ = 0;
  uint64_t claimed_ = 0;  // lines before it are read, or being read
  int idle_workers_ = 0;  // workers asleep on work_ready_
  int parks_ = 0;         // workers still to park: the first to look parks
  int unparks_ = 0;       // parked workers still to wake
  bool main_waiting_ = false;
  bool stopping_ = false;
  std::condition_variable work_ready_;  // workers: lines, searches, stop
  std::condition_variable main_wakes_;  // the main thread: a line read, a search
  std::condition_variable unparked_;    // parked workers: woken, or stop
};

}  // namespace korrin
