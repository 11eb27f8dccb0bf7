// The reading thread; see object_prefetch.h.
#include "object_prefetch.h"

#include <cstdio>
#include <filesystem>
#include <new>

#include "elf_input.h"
#include "source_text.h"

namespace zeld {

namespace {

// The whole file, or false when it cannot be opened or read. Only plain
// files are read ahead: opening a FIFO or a device could wait for ever,
// and a link that stops before it reaches such a name must not wait for
// this thread. The link's thread reads those itself, as before.
bool read_file(const std::string& path, std::string& bytes) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  bool ok = read_stream_text(f, bytes);
  return std::fclose(f) == 0 && ok;
}

}  // namespace

ObjectPrefetch::ObjectPrefetch(std::vector<std::string> paths, int radix, ModuleFormat format)
    : paths_(std::move(paths)) {
  if (!paths_.empty()) thread_ = std::thread([this, radix, format] { run(radix, format); });
}

ObjectPrefetch::~ObjectPrefetch() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

PrefetchedFile ObjectPrefetch::take() {
  std::unique_lock lock(mutex_);
  if (taken_ >= paths_.size()) return {};
  ++taken_;
  changed_.wait(lock, [this] { return !ready_.empty() || finished_; });
  if (ready_.empty()) return {};
  PrefetchedFile file = std::move(ready_.front());
  ready_.pop_front();
  ready_bytes_ -= file.bytes.size();
  lock.unlock();
  changed_.notify_all();
  return file;
}

// Every path gets one entry, in order: after a failure (or when the link
// no longer waits) the rest are handed over as not read.
void ObjectPrefetch::run(int radix, ModuleFormat format) {
  try {
    read_ahead(radix, format);
  } catch (...) {  // out of memory: the link's thread reads what is left itself
  }
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  changed_.notify_all();
}

void ObjectPrefetch::read_ahead(int radix, ModuleFormat format) {
  bool failed = false;
  for (const std::string& path : paths_) {
    PrefetchedFile file;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || ready_bytes_ < kAheadBytes || ready_.empty(); });
      if (stopping_) return;
    }
    if (!failed) {
      try {
        file.read = read_file(path, file.bytes);
        if (file.read && !is_elf_input(file.bytes) && first_nul(file.bytes) == std::string::npos) {
          prepare_object_text(file.bytes, radix, format, file.text);
          find_symbol_mentions(file.bytes, file.symbols);
          file.parsed = true;
          radix = file.text.end_radix;
          format = file.text.end_format;
        }
      } catch (const std::bad_alloc&) {  // the link's thread reads it itself
        file = PrefetchedFile{};
      }
      if (!file.read) {
        failed = true;
        file = PrefetchedFile{};
      }
    }
    {
      std::lock_guard lock(mutex_);
      ready_bytes_ += file.bytes.size();
      ready_.push_back(std::move(file));
    }
    changed_.notify_all();
  }
}

}  // namespace zeld
