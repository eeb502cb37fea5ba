// SPDX-License-Identifier: MIT
// Reading the programs of the next list lines on worker threads while the
// run reports the earlier ones, so that every processor works and the disk
// always has reads waiting. Lines are taken in list order, and each as a
// run of one line at a time would read it. The rules the threads keep are
// in docs/ARCHITECTURE.md.
#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "driver/line_reading.h"
#include "driver/list_reader.h"
#include "driver/memory.h"

namespace korrin {

// One list line on its way through the look-ahead.
struct QueuedLine {
  static constexpr size_t kPathCapacity = ListLine::kLongestPath + 1;
  char path[kPathCapacity];
  size_t path_length;
  bool path_too_long;  // names no file: not opened
  char name[ProgramRecord::kNameWidth + 1];
  ProgramScan scan;
  AtTurn at_turn;
  // `scan` and `at_turn` are final. Set under the mutex and never cleared
  // while the line is queued, so the run's thread may see it without it.
  std::atomic<bool> read;
};

struct ReadAheadSettings {
  int workers = 0;  // to start with, one per further processor
  LargeFileSettings large_files;
  LineReader read_line = ReadLineFile;  // tests put their own here to order the threads
};

class ReadAhead {
 public:
  static constexpr int kMaxWorkers = 16;  // while reads wait for the disk
  static constexpr uint64_t kSlots = 64;
  // Lines are queued, and sleeping workers woken, this many at a time.
  static constexpr uint64_t kBatch = 8;
  // How often, in lines taken, the run looks whether reads wait for the disk.
  static constexpr int kLinesPerLook = 32;

  // Starts the workers of `settings`, fewer when memory or threads run
  // short, none at all without memory for the queue. `buffer` is the run's
  // thread's: it reads lines too.
  ReadAhead(const ReadAheadSettings& settings, const OwnFiles& own_files, ScanBuffer& buffer);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // True once no worker runs: none could be started, or they were stopped
  // for a line that needed to be read alone. No line may be added then; the
  // lines queued are still taken, each read when taken if no worker read it.
  bool Stopped() const { return worker_count_ == 0; }

  // The queue, for the run's thread. One slot stays for the line last
  // taken, which the run may still be reporting.
  bool Empty() const { return queued_ == taken_; }
  bool Full() const { return queued_ - taken_ + 1 >= kSlots; }
  bool RoomForABatch() const { return queued_ - taken_ + kBatch < kSlots; }
  // Queues a list line; the workers see it once published.
  void Add(const ListLine& line);
  // Shows the workers the lines added since. `list_waits`: no more lines
  // are ready, so sleeping workers are woken for fewer than a batch.
  void Publish(bool list_waits);
  // Waits for the oldest line, reading other lines meanwhile, and returns
  // it read; it stays valid, and its slot taken, until the next call.
  const QueuedLine& TakeOldest();

  // The number of workers worth starting on this machine: one per processor
  // the process may run on, but one.
  static int WorkersForThisMachine();

 private:
  // A thread that reads lines: a worker, or the run's own. A large file's
  // search that it runs is offered to the others through it.
  struct Reader final : SearchHelpers {
    std::mutex& Mutex() override { return engine->mutex_; }
    void Offer(SegmentSearch& search) override;
    void Withdraw(SegmentSearch& search) override;
    ScanContext Context() { return {buffer, engine->settings_.large_files, this}; }

    ReadAhead* engine = nullptr;
    ScanBuffer* buffer = nullptr;
    MallocPtr<ScanBuffer> own_buffer;  // a worker's
    pthread_t thread = {};
    // Guarded by the mutex: the search offered, how many other threads are
    // inside it, and whether it has no segment left.
    SegmentSearch* offered = nullptr;
    int helpers = 0;
    bool exhausted = false;
  };
  struct Slots {
    QueuedLine lines[kSlots];
  };

  QueuedLine& Slot(uint64_t line) { return slots_->lines[line % kSlots]; }
  bool StartWorker();
  void StopWorkers();
  static void* WorkerMain(void* reader);
  void Work(Reader& self);
  // All three take `lock` held, release it while they read, and hold it again
  // when they return.
  void ReadClaimedLine(std::unique_lock<std::mutex>& lock, Reader& self);
  void HelpSearch(std::unique_lock<std::mutex>& lock, Reader& owner, Reader& self);
  bool ReadALineOrHelpASearch(std::unique_lock<std::mutex>& lock, Reader& self);
  Reader* SearchToHelp();
  void WaitFor(const QueuedLine& line);
  void ReadAtItsTurn(QueuedLine& line);
  void AddWorkerIfReadsWaitForTheDisk();

  const ReadAheadSettings settings_;
  const OwnFiles own_files_;
  MallocPtr<Slots> slots_;
  Reader main_;  // the run's thread
  Reader workers_[kMaxWorkers];
  int worker_count_ = 0;  // the run's thread starts and stops workers

  // The run's thread's alone. Line numbers count from the start of the run.
  uint64_t queued_ = 0;  // lines before it are in their slots
  uint64_t taken_ = 0;   // lines before it are taken
  int takes_since_look_ = 0;
  long disk_blocks_at_look_ = 0;

  // Guarded by mutex_, as is each queued line's `read` and each reader's
  // offered search.
  std::mutex mutex_;
  uint64_t published_ =
      0;  // lines before it are seen by the workers; written by the run's thread only
  uint64_t claimed_ = 0;  // lines before it are read, or being read
  int idle_workers_ = 0;  // workers asleep on work_ready_
  bool main_waiting_ = false;
  bool stopping_ = false;
  std::condition_variable work_ready_;    // workers: lines, searches, stop
  std::condition_variable main_wakes_;    // the run's thread: a line read, a search
  std::condition_variable helpers_left_;  // a search's owner: its helpers gone
};

}  // namespace korrin
