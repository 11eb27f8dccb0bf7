// The reading thread; see file_prefetch.h.
#include "file_prefetch.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "elf_input.h"
#include "helper_priority.h"
#include "source_text.h"

namespace zeld {

FilePrefetch::FilePrefetch(std::vector<std::string> paths, std::size_t ahead_bytes, Prepare prepare,
                           bool below_link_priority)
    : paths_(std::move(paths)),
      ahead_bytes_(ahead_bytes),
      prepare_(std::move(prepare)),
      below_link_priority_(below_link_priority) {
  if (!paths_.empty()) thread_ = std::thread([this] { run(); });
}

FilePrefetch::~FilePrefetch() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  drained_.notify_all();
  read_.notify_all();
  if (thread_.joinable()) thread_.join();
}

namespace {

// Files that wake a waiting link's thread, however small.
constexpr std::size_t kBatchFiles = 64;
// How far past the file it takes the link's thread reads for the reading
// thread: beyond the files the reading thread has ready when it is the
// slower, so that it rarely waits for such a read.
constexpr std::size_t kReadPastTaken = 24;
// ... and past the file the reading thread is at, at least.
constexpr std::size_t kReadPastThread = 4;

}  // namespace

// Buffers given back and kept for the next files, at most; a buffer that
// a large file grew is let go.
constexpr std::size_t kSpareFiles = 64;
constexpr std::size_t kLargestSpare = std::size_t{1} << 20;

// A batch is ready for a waiting link's thread.
bool FilePrefetch::batch_ready() const {
  return finished_ || (!ready_.empty() && (ready_.size() >= kBatchFiles || ready_bytes_ >= ahead_bytes_ / 4));
}

PrefetchedFile FilePrefetch::take() {
  std::unique_lock lock(mutex_);
  if (taken_ >= paths_.size()) return {};
  ++taken_;
  if (ready_.empty()) {
    waiting_ = true;
    filled_.wait(lock, [this] { return batch_ready(); });
    waiting_ = false;
  }
  if (ready_.empty()) return {};
  PrefetchedFile file = std::move(ready_.front());
  ready_.pop_front();
  ready_bytes_ -= file.bytes.size();
  bool wake = ready_bytes_ <= ahead_bytes_ / 2;
  if (wake) {
    lock.unlock();
    drained_.notify_one();
    lock.lock();
  }
  read_one_for_thread(lock, taken_ - 1);
  return file;
}

void FilePrefetch::recycle(FileText bytes, std::unique_ptr<PreparedObject> parsed) {
  // The parse of a large text holds lists of its size.
  if (bytes.capacity() > kLargestSpare) return;
  std::lock_guard lock(mutex_);
  if (spares_.size() < kSpareFiles) spares_.push_back(std::move(bytes));
  if (parsed && spare_parses_.size() < kSpareFiles) spare_parses_.push_back(std::move(parsed));
}

FileText FilePrefetch::take_spare() {
  if (spares_.empty()) return {};
  FileText bytes = std::move(spares_.back());
  spares_.pop_back();
  return bytes;
}

void FilePrefetch::read_one_for_thread(std::unique_lock<std::mutex>& lock, std::size_t taken) {
  // Never the reading thread's next few files, which it would wait for.
  const std::size_t index = std::max(next_for_link_, reaching_ + kReadPastThread);
  if (stop_sharing_ || index >= paths_.size() || index > taken + kReadPastTaken) return;
  next_for_link_ = index + 1;
  read_by_link_.push_back(ReadForThread{index, false, {}, {}});
  FileText bytes = take_spare();
  lock.unlock();
  FileRead result;
  try {
    result = read_file(paths_[index], bytes, true);
  } catch (const std::bad_alloc&) {  // like a failed read: the rest is left to the link
    result = {FileRead::kReadError, ENOMEM};
    bytes = {};
  }
  lock.lock();
  for (ReadForThread& slot : read_by_link_)
    if (slot.index == index) {
      slot.result = result;
      slot.bytes = std::move(bytes);
      slot.done = true;
    }
  if (thread_waits_) {
    lock.unlock();
    read_.notify_one();
    lock.lock();
  }
}

bool FilePrefetch::read_for_thread(std::size_t index, FileRead& result, FileText& bytes) {
  {
    std::unique_lock lock(mutex_);
    reaching_ = index;
    while (!read_by_link_.empty() && read_by_link_.front().index < index) read_by_link_.pop_front();
    if (!read_by_link_.empty() && read_by_link_.front().index == index) {
      thread_waits_ = true;
      read_.wait(lock, [this] { return stopping_ || read_by_link_.front().done; });
      thread_waits_ = false;
      if (stopping_) return false;
      result = read_by_link_.front().result;
      bytes = std::move(read_by_link_.front().bytes);
      read_by_link_.pop_front();
      return true;
    }
    bytes = take_spare();
  }
  result = read_file(paths_[index], bytes, true);
  return true;
}

// Every path gets one entry, in order: after a failure (or when the link
// no longer waits) the rest are handed over as not read.
void FilePrefetch::run() {
  if (below_link_priority_) run_below_link_priority();
  try {
    read_ahead();
  } catch (...) {  // out of memory: the link's thread reads what is left itself
  }
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  filled_.notify_one();
}

void FilePrefetch::read_ahead() {
  bool failed = false;
  for (std::size_t index = 0; index != paths_.size(); ++index) {
    PrefetchedFile file;
    {
      // A full window waits until half of it is taken, so that the two
      // threads do not wake each other for every file.
      std::unique_lock lock(mutex_);
      if (ready_bytes_ >= ahead_bytes_)
        drained_.wait(lock, [this] { return stopping_ || ready_bytes_ <= ahead_bytes_ / 2; });
      if (stopping_) return;
    }
    if (!failed) {
      bool missing = false;
      try {
        // Only plain files: opening a FIFO or a device could wait for ever,
        // and a link that stops before it reaches such a name must not wait
        // for this thread.
        FileRead result;
        if (!read_for_thread(index, result, file.bytes)) return;
        file.read = result.status == FileRead::kRead;
        missing = result.status == FileRead::kCannotOpen &&
                  (result.error_number == ENOENT || result.error_number == ENOTDIR);
        if (file.read && prepare_) {
          std::unique_ptr<PreparedObject> spare;
          {
            std::lock_guard lock(mutex_);
            if (!spare_parses_.empty()) {
              spare = std::move(spare_parses_.back());
              spare_parses_.pop_back();
            }
          }
          prepare_(file, std::move(spare));
        }
      } catch (const std::bad_alloc&) {  // the link's thread reads it itself
        file = PrefetchedFile{};
      }
      if (!file.read) {
        // A missing file (a module without a listing) is normal; any other
        // failure ends the reading ahead.
        failed = !missing;
        file = PrefetchedFile{};
        if (failed) {
          std::lock_guard lock(mutex_);
          stop_sharing_ = true;
        }
      }
    }
    bool wake;
    {
      std::lock_guard lock(mutex_);
      ready_bytes_ += file.bytes.size();
      ready_.push_back(std::move(file));
      wake = waiting_ && batch_ready();
    }
    if (wake) filled_.notify_one();
  }
}

FilePrefetch::Prepare object_text_preparer(int radix, ModuleFormat format) {
  return [radix, format](PrefetchedFile& file, std::unique_ptr<PreparedObject> parsed) mutable {
    if (is_elf_input(file.bytes) || first_nul(file.bytes) != std::string::npos) return;
    if (parsed)
      parsed->clear();
    else
      parsed = std::make_unique<PreparedObject>();
    prepare_object_text(file.bytes, radix, format, parsed->text);
    find_symbol_mentions(file.bytes, parsed->text, parsed->symbols);
    radix = parsed->text.end_radix;
    format = parsed->text.end_format;
    file.parsed = std::move(parsed);
  };
}

}  // namespace zeld
