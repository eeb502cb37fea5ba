// SPDX-License-Identifier: MIT
// Reading the programs of the next list lines on worker threads while the
// run reports the earlier ones, so that both processors work and the disk
// always has reads waiting. Results are taken in list order.
#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string_view>

#include "reader/program_reader.h"

namespace korrin {

// One list line on its way through the look-ahead.
struct QueuedLine {
  static constexpr size_t kPathCapacity = 4096;  // with its NUL; the longest path Linux opens
  char path[kPathCapacity];
  size_t path_length;
  char name[9];
  ProgramScan scan;
  std::atomic<bool> done;  // `scan` is ready, or the line is left to its turn
  bool read_at_turn;       // to be read by the caller when it takes the line
};

class ReadAhead {
 public:
  // Workers to start with: one per further processor. While reads wait on
  // the disk, more are started, up to kMaxWorkers, so that more reads wait
  // together.
  static constexpr int kMaxWorkers = 16;
  static constexpr int kSlots = 64;
  static constexpr uint64_t kWakeBatch = 8;

  // Starts `workers` threads (0 to kMaxWorkers; 0 reads each line at its
  // turn, one line at a time, and never starts any). A file whose identity
  // is `report`'s is only ever read at its turn, since the run is writing it.
  ReadAhead(int workers, FileIdentity report);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // True when no more lines can be queued before one is taken.
  bool Full() const;
  bool Empty() const;
  // Whether `path` can be queued: longer paths must be read by the caller,
  // after every queued line is taken.
  static bool Fits(std::string_view path) { return path.size() < QueuedLine::kPathCapacity; }
  // Reads the program of a line that does not fit, at once; only when
  // nothing is queued.
  ProgramScan ReadNow(std::string_view path);
  // Queues a list line whose path Fits.
  void Add(std::string_view path);
  // Waits for the oldest queued line and returns it, read; it stays valid,
  // and its slot taken, until the next call.
  const QueuedLine& TakeOldest();

  // The number of workers worth starting on this machine: none when the
  // process may run on one processor only.
  static int WorkersForThisMachine();

 private:
  struct WorkerStart {
    ReadAhead* read_ahead;
    ScanBuffer* buffer;
  };
  static void* WorkerMain(void* start);
  void Work(ScanBuffer& buffer);
  // The next queued line no one reads yet, now the caller's; or null.
  QueuedLine* Claim();
  void WakeCaller();
  template <typename Condition>
  void WaitUntil(Condition condition);
  void ReadAtTurn(QueuedLine& line);
  bool StartWorker();

  FileIdentity report_;
  int workers_ = 0;  // started; only the caller starts them
  int capacity_;
  pthread_t threads_[kMaxWorkers] = {};
  WorkerStart starts_[kMaxWorkers] = {};
  QueuedLine lines_[kSlots];
  // Line numbers, counted from the start of the run: lines before `taken_`
  // are done with, those before `claimed_` are being read or read, and those
  // before `added_` are queued. Only the caller adds and takes.
  uint64_t taken_ = 0;
  std::atomic<uint64_t> claimed_{0};
  std::atomic<uint64_t> added_{0};
  std::atomic<int> working_{0};       // workers between claiming and finishing a line
  std::atomic<int> idle_workers_{0};  // workers asleep for want of lines
  std::atomic<bool> resting_{false};  // workers claim nothing while the caller retries an open
  std::atomic<bool> caller_waiting_{false};
  std::atomic<bool> worker_wanted_{false};  // the workers' reads wait for the disk
  // Guards the sleeps: workers for lines, the caller for a line or for rest.
  std::mutex mutex_;
  bool stopping_ = false;
  std::condition_variable work_queued_;
  std::condition_variable line_done_;
};

}  // namespace korrin
