// SPDX-License-Identifier: MIT
#include "driver/read_ahead.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "driver/list_reader.h"

namespace korrin {
namespace {

// Every this many lines, a worker looks at how many of its reads waited.
constexpr int kLinesPerLook = 32;

// The times this thread has given up its processor of its own accord: to
// wait for the disk, or for work.
long VoluntarySwitches() {
  struct rusage usage;
  return getrusage(RUSAGE_THREAD, &usage) == 0 ? usage.ru_nvcsw : 0;
}

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
  for (int k = 0; k < workers && k < kMaxWorkers; ++k) {
    if (!StartWorker()) break;
  }
  // Without workers, one line at a time: read, reported, then the next.
  capacity_ = workers_ == 0 ? 2 : kSlots;
}

bool ReadAhead::StartWorker() {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, size_t{512} << 10);  // the scan needs little stack
  starts_[workers_] = {this, &worker_buffers[workers_]};
  const bool started =
      pthread_create(&threads_[workers_], &attributes, WorkerMain, &starts_[workers_]) == 0;
  pthread_attr_destroy(&attributes);
  if (started) ++workers_;
  return started;
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

QueuedLine* ReadAhead::Claim() {
  uint64_t next = claimed_.load();
  while (next < added_.load()) {
    if (claimed_.compare_exchange_weak(next, next + 1)) return &lines_[next % kSlots];
  }
  return nullptr;
}

void ReadAhead::WakeCaller() {
  // The caller may wait for a line, or for the workers to rest; it looks
  // again at what it waits for once woken.
  if (caller_waiting_) {
    const std::lock_guard<std::mutex> lock(mutex_);
    line_done_.notify_one();
  }
}

void ReadAhead::Work(ScanBuffer& buffer) {
  int lines_read = 0;
  long sleeps = 0;  // waits for work, which are no waits for the disk
  long switches_before = VoluntarySwitches();
  for (;;) {
    // Counted as working before looking at resting_: the caller, once it
    // has set resting_, waits for no worker to be working.
    ++working_;
    QueuedLine* line = resting_ ? nullptr : Claim();
    if (line == nullptr) {
      --working_;
      WakeCaller();
      std::unique_lock<std::mutex> lock(mutex_);
      ++idle_workers_;
      ++sleeps;
      work_queued_.wait(
          lock, [this] { return stopping_ || (!resting_ && claimed_.load() < added_.load()); });
      --idle_workers_;
      if (stopping_) return;
      continue;
    }
    ReadLine(*line, report_, buffer);
    if (++lines_read % kLinesPerLook == 0) {
      // When half the reads waited for the disk (a read from the page cache
      // does not wait at all), one more worker lets one more read wait with
      // the others.
      const long switches = VoluntarySwitches();
      if (switches - switches_before - sleeps >= kLinesPerLook / 2) worker_wanted_ = true;
      switches_before = switches;
      sleeps = 0;
    }
    --working_;
    line->done = true;
    WakeCaller();
  }
}

bool ReadAhead::Full() const {
  // One slot is the caller's: the line it took last.
  return added_.load() - taken_ + 1 >= static_cast<uint64_t>(capacity_);
}

bool ReadAhead::Empty() const {
  return added_.load() == taken_;
}

ProgramScan ReadAhead::ReadNow(std::string_view path) {
  char name[9];
  ExternalName(path, name);
  return ReadProgram(path.data(), name, turn_buffer);
}

void ReadAhead::Add(std::string_view path) {
  const uint64_t added = added_.load();
  QueuedLine& line = lines_[added % kSlots];  // only the caller writes a free slot
  path.copy(line.path, path.size());
  line.path[path.size()] = '\0';
  line.path_length = path.size();
  ExternalName(path, line.name);
  line.scan = ProgramScan();
  line.done = false;
  line.read_at_turn = false;
  added_ = added + 1;  // publishes the line
  // Waking a worker costs two system calls: worth it for a batch of lines.
  if (idle_workers_ > 0 && added + 1 - claimed_.load() >= kWakeBatch) {
    const std::lock_guard<std::mutex> lock(mutex_);
    work_queued_.notify_one();
  }
}

const QueuedLine& ReadAhead::TakeOldest() {
  QueuedLine& oldest = lines_[taken_ % kSlots];
  if (workers_ == 0) {  // one line at a time, read at its turn, as it comes
    oldest.scan = ReadProgram(oldest.path, oldest.name, turn_buffer);
    claimed_ = ++taken_;
    return oldest;
  }
  // Rather than wait for the oldest line, read the next unclaimed ones here;
  // the oldest is among them when no worker has claimed it.
  while (!oldest.done) {
    QueuedLine* line = Claim();
    if (line == nullptr) break;
    ReadLine(*line, report_, turn_buffer);
    line->done = true;
  }
  if (worker_wanted_.exchange(false) && workers_ < kMaxWorkers && StartWorker()) {
    const std::lock_guard<std::mutex> lock(mutex_);
    work_queued_.notify_one();
  }
  WaitUntil([&oldest] { return oldest.done.load(); });
  ++taken_;
  if (oldest.read_at_turn) ReadAtTurn(oldest);
  return oldest;
}

template <typename Condition>
void ReadAhead::WaitUntil(Condition condition) {
  if (condition()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  caller_waiting_ = true;
  line_done_.wait(lock, condition);
  caller_waiting_ = false;
}

void ReadAhead::ReadAtTurn(QueuedLine& line) {
  line.scan = ReadProgram(line.path, line.name, turn_buffer);
  if (line.scan.error != FileError::Open || workers_ == 0) return;
  // The descriptors the workers hold may be the ones the open lacked: try
  // again while they rest, as a run without them would have.
  resting_ = true;
  WaitUntil([this] { return working_.load() == 0; });
  line.scan = ReadProgram(line.path, line.name, turn_buffer);
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    resting_ = false;
  }
  work_queued_.notify_all();
}

}  // namespace korrin
