// SPDX-License-Identifier: MIT
#include "driver/read_ahead.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "driver/list_reader.h"

namespace korrin {
namespace {

// The scan buffers of the workers, one each, and the caller's for the lines
// read at their turn; a run has one look-ahead.
ScanBuffer worker_buffers[ReadAhead::kMaxWorkers];
ScanBuffer turn_buffer;

// Reads one line's program, unless it must wait for its turn: the report
// itself, or a failure of the machine, which is tried again at the line's
// turn so that it is reported as a run without look-ahead would report it.
void ReadLine(QueuedLine& line, const FileIdentity& report, ScanBuffer& buffer) {
  OpenedProgram file = OpenProgram(line.path);
  if (file.error != FileError::None || (file.fd >= 0 && file.identity == report)) {
    if (file.fd >= 0) close(file.fd);
    line.read_at_turn = true;
    return;
  }
  line.scan = ScanProgram(file, line.name, buffer);
}

}  // namespace

int ReadAhead::WorkersForThisMachine() {
  // The caller reads lines too when the oldest is not ready, so one worker
  // per further processor keeps them all busy; more only contend.
  cpu_set_t cpus;
  if (sched_getaffinity(0, sizeof cpus, &cpus) != 0) return 0;
  return std::min(CPU_COUNT(&cpus) - 1, kMaxWorkers);
}

ReadAhead::ReadAhead(int workers, FileIdentity report) : report_(report) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, size_t{256} << 10);  // the scan needs little stack
  for (int k = 0; k < workers && k < kMaxWorkers; ++k) {
    starts_[k] = {this, &worker_buffers[k]};
    if (pthread_create(&threads_[k], &attributes, WorkerMain, &starts_[k]) != 0) break;
    ++workers_;
  }
  pthread_attr_destroy(&attributes);
  // Without workers, one line at a time: read, reported, then the next.
  capacity_ = workers_ == 0 ? 2 : kSlots;
}

ReadAhead::~ReadAhead() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_queued_.notify_all();
  for (int k = 0; k < workers_; ++k) pthread_join(threads_[k], nullptr);
}

void* ReadAhead::WorkerMain(void* start) {
  const WorkerStart& self = *static_cast<const WorkerStart*>(start);
  self.read_ahead->Work(*self.buffer);
  return nullptr;
}

void ReadAhead::Work(ScanBuffer& buffer) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    while (!stopping_ && (resting_ || claimed_ == added_)) {
      ++idle_workers_;
      work_queued_.wait(lock);
      --idle_workers_;
    }
    if (stopping_) return;
    QueuedLine& line = lines_[claimed_++ % kSlots];
    ++working_;
    lock.unlock();
    ReadLine(line, report_, buffer);
    lock.lock();
    line.done = true;
    --working_;
    // The caller waits for the oldest line, or for the workers to rest.
    if (caller_waiting_ && (&line == &lines_[taken_ % kSlots] || (resting_ && working_ == 0))) {
      line_done_.notify_one();
    }
  }
}

bool ReadAhead::Full() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  // One slot is the caller's: the line it took last.
  return added_ - taken_ + 1 >= static_cast<uint64_t>(capacity_);
}

bool ReadAhead::Empty() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return added_ == taken_;
}

void ReadAhead::Add(std::string_view path) {
  QueuedLine& line = lines_[added_ % kSlots];  // only the caller writes a free slot
  path.copy(line.path, path.size());
  line.path[path.size()] = '\0';
  line.path_length = path.size();
  ExternalName(path, line.name);
  line.scan = ProgramScan();
  line.done = false;
  line.read_at_turn = false;
  bool wake = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++added_;
    // Waking a worker costs two system calls: worth it for a batch of lines.
    wake = idle_workers_ > 0 && added_ - claimed_ >= kWakeBatch;
  }
  if (wake) work_queued_.notify_one();
}

const QueuedLine& ReadAhead::TakeOldest() {
  QueuedLine& oldest = lines_[taken_ % kSlots];
  std::unique_lock<std::mutex> lock(mutex_);
  // Rather than wait for the oldest line, read the next unclaimed ones here;
  // the oldest is among them when no worker has claimed it.
  while (!oldest.done && claimed_ < added_) {
    QueuedLine& line = lines_[claimed_++ % kSlots];
    lock.unlock();
    ReadLine(line, report_, turn_buffer);
    lock.lock();
    line.done = true;
  }
  caller_waiting_ = true;
  line_done_.wait(lock, [&oldest] { return oldest.done; });
  caller_waiting_ = false;
  ++taken_;
  lock.unlock();
  if (oldest.read_at_turn) ReadAtTurn(oldest);
  return oldest;
}

void ReadAhead::ReadAtTurn(QueuedLine& line) {
  line.scan = ReadProgram(line.path, line.name, turn_buffer);
  if (line.scan.error != FileError::Open || workers_ == 0) return;
  // The descriptors the workers hold may be the ones the open lacked: try
  // again while they rest, as a run without them would have.
  std::unique_lock<std::mutex> lock(mutex_);
  resting_ = true;
  caller_waiting_ = true;
  line_done_.wait(lock, [this] { return working_ == 0; });
  caller_waiting_ = false;
  lock.unlock();
  line.scan = ReadProgram(line.path, line.name, turn_buffer);
  lock.lock();
  resting_ = false;
  lock.unlock();
  work_queued_.notify_all();
}

}  // namespace korrin
