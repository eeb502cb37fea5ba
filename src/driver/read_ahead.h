// SPDX-License-Identifier: MIT
// Reading the programs of the next list lines on worker threads while the
// run reports the earlier ones, so that every processor works and the disk
// always has reads waiting. Results are taken in list order. The rules the
// threads keep are in docs/ARCHITECTURE.md.
#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "driver/list_reader.h"
#include "driver/memory.h"
#include "reader/program_reader.h"

namespace korrin {

// What the run's thread must still do with a line a worker read, when it
// takes the line.
enum class AtTurn {
  Nothing,    // the line is read
  Read,       // read it now: its file is one the run writes
  ReadAlone,  // stop the workers for good, then read it: it depends on the
              // reading process, or its open lacked what the workers may hold
};

// One list line on its way through the look-ahead.
struct QueuedLine {
  static constexpr size_t kPathCapacity = ListLine::kLongestPath + 1;
  char path[kPathCapacity];
  size_t path_length;
  bool path_too_long;  // names no file: not opened
  char name[ProgramRecord::kNameWidth + 1];
  ProgramScan scan;
  // `scan` is ready, or the line is left to its turn. Set only under the
  // read-ahead's mutex, and never cleared while the line is queued, so the
  // run's thread may see it set without the mutex.
  std::atomic<bool> done;
  AtTurn at_turn;
};

// The files the run itself writes: the report, and standard output and
// standard error when they are files. They are read only at their turn.
class OwnFiles {
 public:
  void Add(const FileIdentity& file) { files_[count_++] = file; }
  bool Holds(const FileIdentity& file) const;

 private:
  FileIdentity files_[3];
  int count_ = 0;
};

struct ReadAheadSettings {
  // Workers to start with, one per further processor; 0 reads each line at
  // its turn. As many threads may join one large file's search: workers
  // added while reads wait on the disk add no processor to search with.
  int workers = 0;
  LargeFileSettings large_files;
};

class ReadAhead final : public SearchHelpers {
 public:
  // While reads wait on the disk, workers are added up to this many, so
  // that more reads wait together.
  static constexpr int kMaxWorkers = 16;
  static constexpr int kSlots = 64;
  // Sleeping workers are woken for this many unclaimed lines at least,
  // unless the list has no more lines ready.
  static constexpr uint64_t kWakeBatch = 8;

  // Starts the workers of `settings`, fewer when memory or threads run
  // short. `buffer` is the calling thread's: it reads lines too. Without
  // workers, the lines go through `two_slots`, one at a time.
  ReadAhead(const ReadAheadSettings& settings, const OwnFiles& own_files, ScanBuffer& buffer,
            QueuedLine (&two_slots)[2]);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  int workers() const { return worker_count_; }
  // True when no more lines can be queued before one is taken.
  bool Full() const { return filled_ - taken_ + 1 >= capacity_; }
  // True when enough slots are free to be worth filling: lines are queued in
  // batches, so that the workers see them in batches.
  bool WantsLines() const { return Empty() || filled_ - taken_ + kWakeBatch < capacity_; }
  bool Empty() const { return filled_ == taken_; }
  // Queues a list line; the workers see it once published.
  void Add(const ListLine& line);
  // Publishes the lines added since the last call. `list_waits`: no more
  // lines are ready, so the workers are woken for any line left over.
  void Publish(bool list_waits);
  // Waits for the oldest queued line and returns it, read; it stays valid,
  // and its slot taken, until the next call.
  const QueuedLine& TakeOldest();

  // How a large file's search is shared with idle threads.
  void Offer(SegmentSearch& search) override;
  void Withdraw(SegmentSearch& search) override;

  // The number of worker threads worth starting on this machine: one per
  // processor the process may run on, but one.
  static int WorkersForThisMachine();

 private:
  struct Worker {
    ReadAhead* read_ahead = nullptr;
    MallocPtr<ScanBuffer> buffer;
    pthread_t thread = {};
  };
  struct Slots {
    QueuedLine lines[kSlots];
  };
  struct OfferedSearch {
    SegmentSearch* search = nullptr;  // null: the entry is free
    int helpers = 0;                  // threads inside it, its owner aside
    bool withdrawn = false;
    bool exhausted = false;  // no segment left
  };

  static void* WorkerMain(void* worker);
  void Work(ScanBuffer& buffer);
  bool StartWorker();
  // Ends every worker once it is done with what it holds.
  void StopWorkers();
  void ReadLine(QueuedLine& line, const ScanContext& context);
  void ReadNow(QueuedLine& line);
  // Both take `lock` held, release it while they read, and hold it again
  // when they return.
  void ReadClaimedLine(std::unique_lock<std::mutex>& lock, const ScanContext& context);
  void HelpSearch(std::unique_lock<std::mutex>& lock, OfferedSearch& offered, ScanBuffer& buffer);
  OfferedSearch* SearchToHelp();
  void WakeMain();

  const ReadAheadSettings settings_;
  const OwnFiles own_files_;
  ScanBuffer& buffer_;  // the run's thread's
  MallocPtr<Slots> owned_lines_;
  QueuedLine* lines_;
  uint64_t capacity_ = 2;
  Worker workers_[kMaxWorkers];
  int worker_count_ = 0;  // only the run's thread starts workers

  // The run's thread's alone. Line numbers count from the start of the run.
  uint64_t taken_ = 0;   // lines before it are taken
  uint64_t filled_ = 0;  // lines before it are in their slots

  // Guarded by mutex_, as is each queued line's `done`.
  std::mutex mutex_;
  uint64_t added_ = 0;    // lines before it are published
  uint64_t claimed_ = 0;  // lines before it are being read or read
  int idle_workers_ = 0;  // workers asleep on work_ready_
  bool main_waiting_ = false;
  bool stopping_ = false;
  bool worker_wanted_ = false;  // the workers' reads wait on the disk
  OfferedSearch offered_[kMaxWorkers + 1];
  std::condition_variable work_ready_;    // workers: lines, searches, stop
  std::condition_variable main_wakes_;    // the run's thread: a line done, a search
  std::condition_variable helpers_left_;  // a search's owner: its helpers gone
};

}  // namespace korrin
