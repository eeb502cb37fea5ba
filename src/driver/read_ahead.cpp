// SPDX-License-Identifier: MIT
#include "driver/read_ahead.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace korrin {
namespace {

// The stack of a worker: the scan needs little; sanitizers need more.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kWorkerStack = size_t{1} << 20;
#else
constexpr size_t kWorkerStack = size_t{128} << 10;
#endif

// The blocks of 512 bytes the process has read from a disk: a read served
// by the page cache reads none, and waiting for the mutex reads none either.
constexpr long kBlocksPerPage = 8;
long BlocksReadFromDisk() {
  struct rusage usage;
  return getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_inblock : 0;
}

}  // namespace

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
                     ScanBuffer& buffer)
    : settings_(settings), own_files_(own_files), slots_(NewOrNull<Slots>()) {
  main_.engine = this;
  main_.buffer = &buffer;
  if (!slots_) return;
  while (worker_count_ < std::min(settings.workers, kMaxWorkers) && StartWorker()) {
  }
  disk_blocks_at_look_ = BlocksReadFromDisk();
}

ReadAhead::~ReadAhead() {
  StopWorkers();
}

bool ReadAhead::StartWorker() {
  Reader& worker = workers_[worker_count_];
  worker.own_buffer = NewOrNull<ScanBuffer>();
  if (!worker.own_buffer) return false;
  worker.engine = this;
  worker.buffer = worker.own_buffer.get();
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kWorkerStack);
  const bool started = pthread_create(&worker.thread, &attributes, WorkerMain, &worker) == 0;
  pthread_attr_destroy(&attributes);
  if (!started) {
    worker.own_buffer.reset();
    return false;
  }
  ++worker_count_;
  return true;
}

// Each worker ends once done with what it holds; from then on the run's
// thread is the process's only one. The lines after the one being taken
// are read again when their turn comes: what made the run stop (a FIFO's
// writer released, say) may have changed their files since.
void ReadAhead::StopWorkers() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_ready_.notify_all();
  for (int k = 0; k < worker_count_; ++k) {
    pthread_join(workers_[k].thread, nullptr);
    workers_[k].own_buffer.reset();
  }
  worker_count_ = 0;
  if (!slots_) return;
  for (uint64_t line = taken_; line < queued_; ++line) Slot(line).read = false;
}

void* ReadAhead::WorkerMain(void* reader) {
  Reader& self = *static_cast<Reader*>(reader);
  self.engine->Work(self);
  return nullptr;
}

// One step of work for any thread: the next unclaimed line, or else a
// segment of an offered search. False when there was neither.
bool ReadAhead::ReadALineOrHelpASearch(std::unique_lock<std::mutex>& lock, Reader& self) {
  if (claimed_ < published_) {
    ReadClaimedLine(lock, self);
    return true;
  }
  Reader* const owner = SearchToHelp();
  if (owner == nullptr) return false;
  HelpSearch(lock, *owner, self);
  return true;
}

void ReadAhead::Work(Reader& self) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (!ReadALineOrHelpASearch(lock, self)) {
      ++idle_workers_;
      work_ready_.wait(lock);
      --idle_workers_;
      continue;
    }
    if (main_waiting_) main_wakes_.notify_one();
  }
}

void ReadAhead::Add(const ListLine& line) {
  QueuedLine& slot = Slot(queued_);  // no other thread looks at it until published
  line.text.copy(slot.path, line.text.size());
  slot.path[line.text.size()] = '\0';
  slot.path_length = line.text.size();
  slot.path_too_long = line.too_long;
  ExternalName(line.text, slot.name);
  slot.scan = ProgramScan();
  slot.at_turn = AtTurn::Nothing;
  slot.read = false;
  ++queued_;
}

void ReadAhead::Publish(bool list_waits) {
  // Only this thread writes published_, so it may read it unlocked: with no
  // line added and the list not waiting, there is nothing to tell.
  if (Stopped() || (published_ == queued_ && !list_waits)) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  published_ = queued_;
  // The run's thread reads the oldest line itself if need be: a worker is
  // worth waking for the lines after it.
  const uint64_t unclaimed = published_ - claimed_;
  if (idle_workers_ > 0 && (unclaimed >= kBatch || (list_waits && unclaimed >= 2))) {
    work_ready_.notify_all();
  }
}

void ReadAhead::ReadClaimedLine(std::unique_lock<std::mutex>& lock, Reader& self) {
  QueuedLine& line = Slot(claimed_++);
  lock.unlock();
  if (!line.path_too_long) {
    const LineRead read =
        settings_.read_line(line.path, line.name, Reading::Ahead, self.Context(), own_files_);
    line.scan = read.scan;
    line.at_turn = read.at_turn;
  }
  lock.lock();
  line.read = true;
}

ReadAhead::Reader* ReadAhead::SearchToHelp() {
  // No more threads help one search than the run started workers with, one
  // per further processor: workers added for the disk add none to search.
  const auto helpable = [this](const Reader& owner) {
    return owner.offered != nullptr && !owner.exhausted && owner.helpers < settings_.workers;
  };
  if (helpable(main_)) return &main_;
  for (Reader& worker : workers_) {
    if (helpable(worker)) return &worker;
  }
  return nullptr;
}

void ReadAhead::HelpSearch(std::unique_lock<std::mutex>& lock, Reader& owner, Reader& self) {
  SegmentSearch& search = *owner.offered;
  ++owner.helpers;
  lock.unlock();
  const bool searched = search.SearchNextSegment(self.buffer->bytes);
  lock.lock();
  if (!searched) owner.exhausted = true;
  if (--owner.helpers == 0) helpers_left_.notify_all();
}

void ReadAhead::Reader::Offer(SegmentSearch& search) {
  const std::lock_guard<std::mutex> lock(engine->mutex_);
  offered = &search;
  exhausted = false;
  if (engine->idle_workers_ > 0) engine->work_ready_.notify_all();
  if (engine->main_waiting_) engine->main_wakes_.notify_one();
}

void ReadAhead::Reader::Withdraw(SegmentSearch&) {
  std::unique_lock<std::mutex> lock(engine->mutex_);
  offered = nullptr;
  engine->helpers_left_.wait(lock, [this] { return helpers == 0; });
}

// Rather than sleep until the oldest line is read, the run's thread reads
// the next unclaimed lines, the oldest among them when no worker has
// claimed it, or helps a search.
void ReadAhead::WaitFor(const QueuedLine& line) {
  if (line.read) return;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!line.read) {
    if (ReadALineOrHelpASearch(lock, main_)) continue;
    main_waiting_ = true;
    main_wakes_.wait(lock);
    main_waiting_ = false;
  }
}

// A file read when its line's turn comes whose open lacked descriptors or memory is read
// again alone, as a run of one line at a time reads it: the workers may
// have held what it lacked.
void ReadAhead::ReadAtItsTurn(QueuedLine& line) {
  if (line.path_too_long) return;
  const ScanContext context{main_.buffer, settings_.large_files, Stopped() ? nullptr : &main_};
  LineRead read =
      settings_.read_line(line.path, line.name, Reading::AtItsTurn, context, own_files_);
  if (read.lacked_resources && !Stopped()) {
    StopWorkers();
    read = settings_.read_line(line.path, line.name, Reading::AtItsTurn,
                               {main_.buffer, settings_.large_files, nullptr}, own_files_);
  }
  line.scan = read.scan;
}

// One more worker lets one more read wait for the disk with the others,
// when the lines taken since the last look read a page each from a disk on
// average: what the page cache holds reads no block, and there more
// workers would only contend.
void ReadAhead::AddWorkerIfReadsWaitForTheDisk() {
  if (++takes_since_look_ < kLinesPerLook) return;
  const long blocks = BlocksReadFromDisk();
  if (blocks - disk_blocks_at_look_ >= kLinesPerLook * kBlocksPerPage &&
      worker_count_ < kMaxWorkers) {
    StartWorker();
  }
  disk_blocks_at_look_ = blocks;
  takes_since_look_ = 0;
}

const QueuedLine& ReadAhead::TakeOldest() {
  QueuedLine& oldest = Slot(taken_++);
  if (Stopped()) {
    // With no worker left, a line that none read is read now.
    if (!oldest.read || oldest.at_turn != AtTurn::Nothing) ReadAtItsTurn(oldest);
    return oldest;
  }
  WaitFor(oldest);
  // From a line that depends on the reading process on, the process has one
  // thread, as a run of one line at a time has.
  if (oldest.at_turn == AtTurn::ReadAlone) StopWorkers();
  if (oldest.at_turn != AtTurn::Nothing) ReadAtItsTurn(oldest);
  if (!Stopped()) AddWorkerIfReadsWaitForTheDisk();
  return oldest;
}

}  // namespace korrin
