// SPDX-License-Identifier: MIT
#include "driver/read_ahead.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace korrin {
namespace {

// Every this many lines, a worker looks at how many of its reads waited.
constexpr int kLinesPerLook = 32;

// The stack of a worker: the scan needs little; sanitizers need more.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kWorkerStack = size_t{1} << 20;
#else
constexpr size_t kWorkerStack = size_t{128} << 10;
#endif

// The times this thread has given up its processor of its own accord: to
// wait for the disk, for work, or for the mutex.
long VoluntarySwitches() {
#if defined(RUSAGE_THREAD)
  struct rusage usage;
  return getrusage(RUSAGE_THREAD, &usage) == 0 ? usage.ru_nvcsw : 0;
#else
  return 0;  // no count for one thread: workers are never added
#endif
}

}  // namespace

bool OwnFiles::Holds(const FileIdentity& file) const {
  return std::find(files_, files_ + count_, file) != files_ + count_;
}

int ReadAhead::WorkersForThisMachine() {
  // The run's thread reads lines too when the oldest is not ready, so one
  // worker per further processor keeps them all busy; more only contend.
  long processors = 0;
#if defined(CPU_COUNT)
  cpu_set_t cpus;
  if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) processors = CPU_COUNT(&cpus);
#endif
  if (processors <= 0) processors = sysconf(_SC_NPROCESSORS_ONLN);
  return static_cast<int>(std::clamp<long>(processors - 1, 0, kMaxWorkers));
}

ReadAhead::ReadAhead(const ReadAheadSettings& settings, const OwnFiles& own_files,
                     ScanBuffer& buffer, QueuedLine (&two_slots)[2])
    : settings_(settings), own_files_(own_files), buffer_(buffer), lines_(two_slots) {
  // Without workers, one line at a time: read, reported, then the next.
  if (settings.workers > 0) owned_lines_ = NewOrNull<Slots>();
  if (!owned_lines_) return;
  for (int k = 0; k < settings.workers && k < kMaxWorkers; ++k) {
    if (!StartWorker()) break;
  }
  if (worker_count_ == 0) return;
  lines_ = owned_lines_->lines;
  capacity_ = kSlots;
}

bool ReadAhead::StartWorker() {
  Worker& worker = workers_[worker_count_];
  worker.buffer = NewOrNull<ScanBuffer>();
  if (!worker.buffer) return false;
  worker.read_ahead = this;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kWorkerStack);
  const bool started = pthread_create(&worker.thread, &attributes, WorkerMain, &worker) == 0;
  pthread_attr_destroy(&attributes);
  if (!started) {
    worker.buffer.reset();
    return false;
  }
  ++worker_count_;
  return true;
}

ReadAhead::~ReadAhead() {
  StopWorkers();
}

void ReadAhead::StopWorkers() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_ready_.notify_all();
  for (int k = 0; k < worker_count_; ++k) {
    pthread_join(workers_[k].thread, nullptr);
    workers_[k].buffer.reset();
  }
  worker_count_ = 0;
}

void* ReadAhead::WorkerMain(void* worker) {
  Worker& self = *static_cast<Worker*>(worker);
  self.read_ahead->Work(*self.buffer);
  return nullptr;
}

void ReadAhead::Add(const ListLine& line) {
  QueuedLine& slot = lines_[filled_ % capacity_];  // no other thread looks at it
  line.text.copy(slot.path, line.text.size());
  slot.path[line.text.size()] = '\0';
  slot.path_length = line.text.size();
  slot.path_too_long = line.too_long;
  ExternalName(line.text, slot.name);
  slot.scan = ProgramScan();
  slot.done = false;
  slot.at_turn = AtTurn::Nothing;
  ++filled_;
}

void ReadAhead::Publish(bool list_waits) {
  if (worker_count_ == 0) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  added_ = filled_;
  // The run's thread reads the oldest line itself if need be: a worker is
  // worth waking for the lines after it.
  const uint64_t unclaimed = added_ - claimed_;
  if (idle_workers_ > 0 && (unclaimed >= kWakeBatch || (list_waits && unclaimed >= 2))) {
    work_ready_.notify_all();
  }
}

void ReadAhead::ReadLine(QueuedLine& line, const ScanContext& context) {
  if (line.path_too_long) return;
  OpenedProgram file = OpenProgram(line.path, ProcessFiles::Refuse);
  // What depends on the reader, or failed for want of something the other
  // threads may hold, and what the run writes, wait for their turn.
  if (file.refused) {
    line.at_turn = AtTurn::ReadAlone;
  } else if (file.fd >= 0 && own_files_.Holds(file.identity)) {
    close(file.fd);
    line.at_turn = AtTurn::Read;
  } else {
    line.scan = ScanProgram(file, line.name, context);
  }
}

void ReadAhead::ReadNow(QueuedLine& line) {
  if (line.path_too_long) return;
  line.scan = ReadProgram(line.path, line.name, {&buffer_, settings_.large_files, nullptr});
}

void ReadAhead::ReadClaimedLine(std::unique_lock<std::mutex>& lock, const ScanContext& context) {
  QueuedLine& line = lines_[claimed_++ % capacity_];
  lock.unlock();
  ReadLine(line, context);
  lock.lock();
  line.done = true;
}

ReadAhead::OfferedSearch* ReadAhead::SearchToHelp() {
  for (OfferedSearch& offered : offered_) {
    if (offered.search != nullptr && !offered.withdrawn && !offered.exhausted &&
        offered.helpers < settings_.workers) {
      return &offered;
    }
  }
  return nullptr;
}

void ReadAhead::HelpSearch(std::unique_lock<std::mutex>& lock, OfferedSearch& offered,
                           ScanBuffer& buffer) {
  ++offered.helpers;
  lock.unlock();
  const bool searched = offered.search->SearchNextSegment(buffer.bytes);
  lock.lock();
  if (!searched) offered.exhausted = true;
  if (--offered.helpers == 0 && offered.withdrawn) helpers_left_.notify_all();
}

void ReadAhead::WakeMain() {
  if (main_waiting_) main_wakes_.notify_one();
}

void ReadAhead::Work(ScanBuffer& buffer) {
  const ScanContext context{&buffer, settings_.large_files, this};
  int lines_read = 0;
  long sleeps = 0;  // waits for work, which are no waits for the disk
  long switches_before = VoluntarySwitches();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (stopping_) return;
    OfferedSearch* search = nullptr;
    if (claimed_ < added_) {
      ReadClaimedLine(lock, context);
      WakeMain();
      if (++lines_read % kLinesPerLook == 0) {
        // When half the reads waited for the disk (a read from the page
        // cache does not wait at all), one more worker lets one more read
        // wait with the others.
        const long switches = VoluntarySwitches();
        if (switches - switches_before - sleeps >= kLinesPerLook / 2) worker_wanted_ = true;
        switches_before = switches;
        sleeps = 0;
      }
    } else if ((search = SearchToHelp()) != nullptr) {
      HelpSearch(lock, *search, buffer);
      WakeMain();
    } else {
      ++idle_workers_;
      ++sleeps;
      work_ready_.wait(lock);
      --idle_workers_;
    }
  }
}

const QueuedLine& ReadAhead::TakeOldest() {
  QueuedLine& oldest = lines_[taken_ % capacity_];
  // Without workers, a line none of them claimed is read at its turn, as it
  // comes: one line at a time. (With workers, claimed_ is not this thread's
  // to read.)
  if (worker_count_ == 0 && taken_ >= claimed_) {
    ReadNow(oldest);
    ++taken_;
    return oldest;
  }
  if (!oldest.done) {
    const ScanContext context{&buffer_, settings_.large_files, this};
    std::unique_lock<std::mutex> lock(mutex_);
    added_ = filled_;
    // Rather than wait for the oldest line, read the next unclaimed ones,
    // the oldest among them when no worker has claimed it, or help a search.
    OfferedSearch* search = nullptr;
    while (!oldest.done) {
      if (claimed_ < added_) {
        ReadClaimedLine(lock, context);
      } else if ((search = SearchToHelp()) != nullptr) {
        HelpSearch(lock, *search, buffer_);
      } else {
        main_waiting_ = true;
        main_wakes_.wait(lock);
        main_waiting_ = false;
      }
    }
    const bool add_worker = std::exchange(worker_wanted_, false);
    lock.unlock();
    if (add_worker && worker_count_ < kMaxWorkers) StartWorker();
  }
  ++taken_;
  // A line that depends on the reading process is read, from here on, by a
  // process of one thread, as a run of one line at a time reads it; so is
  // one whose open lacked descriptors or memory, which workers cost.
  if (oldest.at_turn == AtTurn::ReadAlone) StopWorkers();
  if (oldest.at_turn != AtTurn::Nothing) ReadNow(oldest);
  return oldest;
}

void ReadAhead::Offer(SegmentSearch& search) {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (OfferedSearch& offered : offered_) {
    if (offered.search != nullptr) continue;
    offered = OfferedSearch{.search = &search};
    if (idle_workers_ > 0) work_ready_.notify_all();
    WakeMain();
    return;
  }
}

void ReadAhead::Withdraw(SegmentSearch& search) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (OfferedSearch& offered : offered_) {
    if (offered.search != &search) continue;
    offered.withdrawn = true;
    helpers_left_.wait(lock, [&offered] { return offered.helpers == 0; });
    offered = OfferedSearch{};
    return;
  }
}

}  // namespace korrin
