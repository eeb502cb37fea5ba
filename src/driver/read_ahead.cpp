// SPDX-License-Identifier: MIT
#include "driver/read_ahead.h"

#include <sys/resource.h>

#include <algorithm>

namespace korrin {
namespace {

// The stack of a worker: the scan needs little; sanitizers need more.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kWorkerStack = size_t{1} << 20;
#else
constexpr size_t kWorkerStack = size_t{128} << 10;
#endif

constexpr long kBlocksPerPage = 8;

}  // namespace

long BlocksReadFromDisk() {
  struct rusage usage;
  return getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_inblock : 0;
}

LineState ReadFileAhead(LineReader& reader, QueuedLine& line) {
  return reader.Ahead(line.path, line.name, &line.scan);
}

LineState ReadFileAtItsTurn(LineReader& reader, QueuedLine& line) {
  return reader.AtItsTurn(line.path, line.name, &line.scan);
}

ReadAhead::Thread::Thread(ReadAhead& engine, ScanBuffer& buffer)
    : LineReader(buffer, engine.settings_.large_files, engine.own_files_), engine(engine) {}

// The search is offered to the threads that have nothing else to do; it ends
// once they have left it.
int64_t ReadAhead::Thread::SearchFar(const FarSearch& search) {
  SharedSearch shared(search);
  {
    const std::lock_guard<std::mutex> lock(engine.mutex_);
    offered = &shared;
    if (engine.idle_workers_ > 0) engine.work_ready_.notify_all();
    if (engine.main_waiting_) engine.main_wakes_.notify_one();
  }
  while (shared.SearchNext(buffer().bytes)) {
  }
  {
    const std::lock_guard<std::mutex> lock(engine.mutex_);
    offered = nullptr;
  }
  return shared.Finish();
}

ReadAhead::ReadAhead(const ReadAheadSettings& settings, const OwnFiles& own_files,
                     ScanBuffer& buffer)
    : settings_(settings), own_files_(own_files), main_(*this, buffer) {
  threads_[thread_count_++] = &main_;
  if (settings.workers > 0) slots_ = NewOrNull<Slots>();
  if (!slots_) return;
  while (worker_count_ < std::min(settings.workers, kMostWorkers) && StartWorker()) {
  }
  if (worker_count_ > 0) mode_ = Mode::LookAhead;
  active_workers_ = worker_count_;
  disk_blocks_at_check_ = settings.blocks_read_from_disk();
}

ReadAhead::~ReadAhead() {
  StopWorkers();
}

bool ReadAhead::StartWorker() {
  MallocPtr<Worker>& worker = workers_[worker_count_];
  worker = NewOrNull<Worker>(*this);
  if (!worker) return false;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kWorkerStack);
  const bool started =
      pthread_create(&worker->thread.id, &attributes, WorkerMain, &worker->thread) == 0;
  pthread_attr_destroy(&attributes);
  if (!started) {
    worker.reset();
    return false;
  }
  ++worker_count_;
  const std::lock_guard<std::mutex> lock(mutex_);
  threads_[thread_count_++] = &worker->thread;
  return true;
}

// Each worker ends once done with what it holds; from then on the main
// thread is the process's only one. The lines after the one being taken are
// read again at their turn: what made the run stop (a FIFO's writer
// released, say) may have changed their files since.
void ReadAhead::StopWorkers() {
  if (mode_ == Mode::Serial) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_ready_.notify_all();
  unparked_.notify_all();
  for (int k = 0; k < worker_count_; ++k) pthread_join(workers_[k]->thread.id, nullptr);
  thread_count_ = 1;  // the main thread alone, and no other thread to see it
  for (int k = 0; k < worker_count_; ++k) workers_[k].reset();
  worker_count_ = 0;
  mode_ = Mode::Serial;
  for (uint64_t line = taken_; line < queued_; ++line) Slot(line).state = LineState::Unread;
}

void* ReadAhead::WorkerMain(void* thread) {
  Thread& self = *static_cast<Thread*>(thread);
  self.engine.Work(self);
  return nullptr;
}

void ReadAhead::Work(Thread& self) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (parks_ > 0 && !self.parked) {
      --parks_;
      self.parked = true;
    }
    if (self.parked) {  // it takes no work until woken
      if (unparks_ == 0) {
        unparked_.wait(lock);
        continue;
      }
      --unparks_;
      self.parked = false;
    }
    if (!ReadOrHelp(lock, self)) {
      ++idle_workers_;
      work_ready_.wait(lock);
      --idle_workers_;
      continue;
    }
    if (main_waiting_) main_wakes_.notify_one();
  }
}

// One step of work for any thread: the next unclaimed line, or else a
// segment of an offered search. False when there was neither.
bool ReadAhead::ReadOrHelp(std::unique_lock<std::mutex>& lock, Thread& self) {
  if (claimed_ < published_) {
    ReadClaimedLine(lock, self);
    return true;
  }
  SharedSearch* const search = SearchToHelp();
  if (search == nullptr) return false;
  lock.unlock();
  search->SearchNext(self.buffer().bytes);
  search->Leave();
  lock.lock();
  return true;
}

void ReadAhead::ReadClaimedLine(std::unique_lock<std::mutex>& lock, Thread& self) {
  QueuedLine& line = Slot(claimed_++);
  lock.unlock();
  // A path too long names no file: its scan stays as queued.
  const LineState state =
      line.path_too_long ? LineState::Read : settings_.reading.ahead(self, line);
  lock.lock();
  line.state.store(state, std::memory_order_release);
}

// No more threads help one search than there are processors.
SharedSearch* ReadAhead::SearchToHelp() {
  for (int k = 0; k < thread_count_; ++k) {
    SharedSearch* const search = threads_[k]->offered;
    if (search != nullptr && search->Join(settings_.workers)) return search;
  }
  return nullptr;
}

uint64_t ReadAhead::Room() const {
  const uint64_t queued = queued_ - taken_;
  if (mode_ == Mode::Serial) return queued == 0 ? 1 : 0;
  const uint64_t free = kSlots - 1 - queued;
  return free >= kBatch ? free : 0;
}

void ReadAhead::Add(const ListLine& line) {
  QueuedLine& slot = Slot(queued_);  // no other thread looks at it until published
  line.text.copy(slot.path, line.text.size());
  slot.path[line.text.size()] = '\0';
  slot.path_length = line.text.size();
  slot.path_too_long = line.too_long;
  ExternalName(line.text, slot.name);
  if (line.too_long) slot.scan = ProgramScan();  // never read
  slot.state.store(LineState::Unread, std::memory_order_relaxed);
  ++queued_;
}

// The main thread reads the oldest line itself if need be: a worker is
// worth waking for the lines after it.
void ReadAhead::Publish(bool more_lines_ready) {
  if (published_ == queued_ && more_lines_ready) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  published_ = queued_;
  const uint64_t unclaimed = published_ - claimed_;
  if (idle_workers_ > 0 && (unclaimed >= kBatch || (!more_lines_ready && unclaimed >= 2))) {
    work_ready_.notify_all();
  }
}

// Rather than sleep until the oldest line is read, the main thread reads
// the next unclaimed lines, the oldest among them when no worker has
// claimed it, or helps a search.
void ReadAhead::WaitFor(const QueuedLine& line) {
  if (line.state.load(std::memory_order_acquire) != LineState::Unread) return;
  std::unique_lock<std::mutex> lock(mutex_);
  while (line.state.load(std::memory_order_relaxed) == LineState::Unread) {
    if (ReadOrHelp(lock, main_)) continue;
    main_waiting_ = true;
    main_wakes_.wait(lock);
    main_waiting_ = false;
  }
}

// An open at its turn that lacked descriptors or memory is tried again
// alone, as a run of one line at a time tries it: the workers may have held
// what it lacked.
void ReadAhead::ReadAtItsTurn(QueuedLine& line) {
  if (line.path_too_long) return;
  if (settings_.reading.at_its_turn(main_, line) == LineState::Serial && mode_ == Mode::LookAhead) {
    StopWorkers();
    settings_.reading.at_its_turn(main_, line);
  }
}

// One more worker lets one more read wait for the disk with the others,
// when the lines taken since the last check read a page each from a disk on
// average. What the page cache holds reads no block, and there more workers
// would only contend: once the lines stop waiting for the disk, the workers
// added are parked, one a check, and woken again before any is started.
void ReadAhead::FitWorkersToTheDisk() {
  if (++takes_since_check_ < kLinesPerCheck) return;
  const long blocks = settings_.blocks_read_from_disk();
  const bool reads_wait = blocks - disk_blocks_at_check_ >= kLinesPerCheck * kBlocksPerPage;
  disk_blocks_at_check_ = blocks;
  takes_since_check_ = 0;
  if (reads_wait && active_workers_ < worker_count_) {
    ++active_workers_;
    const std::lock_guard<std::mutex> lock(mutex_);
    ++unparks_;
    unparked_.notify_one();
  } else if (reads_wait && worker_count_ < kMostWorkers) {
    if (StartWorker()) ++active_workers_;
  } else if (!reads_wait && active_workers_ > settings_.workers) {
    --active_workers_;
    const std::lock_guard<std::mutex> lock(mutex_);
    ++parks_;
    work_ready_.notify_all();
  }
}

const QueuedLine& ReadAhead::TakeOldest(bool more_lines_ready) {
  QueuedLine& line = Slot(taken_++);
  if (mode_ == Mode::LookAhead) {
    Publish(more_lines_ready);
    WaitFor(line);
    // From a line read serially on, the process has one thread, as a run of
    // one line at a time has.
    if (line.state == LineState::Serial) StopWorkers();
  }
  if (line.state != LineState::Read) ReadAtItsTurn(line);
  if (mode_ == Mode::LookAhead) FitWorkersToTheDisk();
  return line;
}

}  // namespace korrin
