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

// The link's thread takes the lock twice per file: to take it (and pick
// the file it reads for the reading thread), and to hand that read over.
PrefetchedFile FilePrefetch::take() {
  std::unique_lock lock(mutex_);
  keep_given_back();
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
  const bool wake = ready_bytes_ <= ahead_bytes_ / 2;
  // Never the reading thread's next few files, which it would wait for.
  const std::size_t index = std::max(next_for_link_, reaching_ + kReadPastThread);
  const bool read_one = !stop_sharing_ && index < paths_.size() && index <= taken_ - 1 + kReadPastTaken;
  FileText bytes;
  if (read_one) {
    next_for_link_ = index + 1;
    read_by_link_.push_back(ReadForThread{index, false, {}, {}});
    bytes = take_spare();
  }
  lock.unlock();
  if (wake) drained_.notify_one();
  if (read_one) read_for_thread_by_link(index, std::move(bytes));
  return file;
}

void FilePrefetch::read_for_thread_by_link(std::size_t index, FileText bytes) {
  FileRead result;
  try {
    result = read_file(paths_[index], bytes, true);
  } catch (const std::bad_alloc&) {  // like a failed read: the rest is left to the link
    result = {FileRead::kReadError, ENOMEM};
    bytes = {};
  }
  bool thread_waits;
  {
    std::lock_guard lock(mutex_);
    for (ReadForThread& slot : read_by_link_)
      if (slot.index == index) {
        slot.result = result;
        slot.bytes = std::move(bytes);
        slot.done = true;
      }
    thread_waits = thread_waits_;
  }
  if (thread_waits) read_.notify_one();
}

// Kept by the link's thread alone until it next takes the lock.
void FilePrefetch::recycle(FileText bytes, std::unique_ptr<PreparedObject> parsed) {
  // The parse of a large text holds lists of its size.
  if (bytes.capacity() > kLargestSpare) return;
  given_back_.push_back(GivenBack{std::move(bytes), std::move(parsed)});
}

void FilePrefetch::keep_given_back() {
  for (GivenBack& back : given_back_) {
    if (spares_.size() < kSpareFiles) spares_.push_back(std::move(back.bytes));
    if (back.parsed && spare_parses_.size() < kSpareFiles) spare_parses_.push_back(std::move(back.parsed));
  }
  given_back_.clear();
}

FileText FilePrefetch::take_spare() {
  if (spares_.empty()) return {};
  FileText bytes = std::move(spares_.back());
  spares_.pop_back();
  return bytes;
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

// The reading thread takes the lock once per file: it hands over one file
// and sets out to read the next under the same lock.
void FilePrefetch::read_ahead() {
  bool failed = false;
  std::unique_lock lock(mutex_);
  for (std::size_t index = 0; index != paths_.size(); ++index) {
    // A full window waits until half of it is taken, so that the two
    // threads do not wake each other for every file.
    if (ready_bytes_ >= ahead_bytes_)
      drained_.wait(lock, [this] { return stopping_ || ready_bytes_ <= ahead_bytes_ / 2; });
    if (stopping_) return;
    PrefetchedFile file;
    bool failed_here = false;
    if (!failed) {
      // The file, read here or by the link's thread.
      reaching_ = index;
      while (!read_by_link_.empty() && read_by_link_.front().index < index) read_by_link_.pop_front();
      const bool by_link = !read_by_link_.empty() && read_by_link_.front().index == index;
      FileRead result;
      if (by_link) {
        thread_waits_ = true;
        read_.wait(lock, [this] { return stopping_ || read_by_link_.front().done; });
        thread_waits_ = false;
        if (stopping_) return;
        result = read_by_link_.front().result;
        file.bytes = std::move(read_by_link_.front().bytes);
        read_by_link_.pop_front();
      } else {
        file.bytes = take_spare();
      }
      std::unique_ptr<PreparedObject> spare_parse;
      if (prepare_ && !spare_parses_.empty()) {
        spare_parse = std::move(spare_parses_.back());
        spare_parses_.pop_back();
      }
      lock.unlock();
      bool missing = false;
      try {
        // Only plain files: opening a FIFO or a device could wait for ever,
        // and a link that stops before it reaches such a name must not wait
        // for this thread.
        if (!by_link) result = read_file(paths_[index], file.bytes, true);
        file.read = result.status == FileRead::kRead;
        missing = result.status == FileRead::kCannotOpen &&
                  (result.error_number == ENOENT || result.error_number == ENOTDIR);
        if (file.read && prepare_) prepare_(file, std::move(spare_parse));
      } catch (const std::bad_alloc&) {  // the link's thread reads it itself
        file = PrefetchedFile{};
      }
      if (!file.read) {
        // A missing file (a module without a listing) is normal; any other
        // failure ends the reading ahead.
        failed = failed_here = !missing;
        file = PrefetchedFile{};
      }
      lock.lock();
    }
    if (failed_here) stop_sharing_ = true;
    ready_bytes_ += file.bytes.size();
    ready_.push_back(std::move(file));
    if (waiting_ && batch_ready()) {
      lock.unlock();
      filled_.notify_one();
      lock.lock();
    }
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
