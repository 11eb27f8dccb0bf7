// Output files with checked writes; see output_file.h.
//
// With the GNU C library a text output hands its full buffers to a thread
// of its own, which makes the system calls (the copy into the system's
// cache is a good part of writing a large .s19 or .dbg), while the link
// formats the next buffer. A write failure is kept and comes back at the
// close, where finish() reports it as before.
#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <utility>

#if defined(__GLIBC__)
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>
#endif

#include <sys/stat.h>

#include "diagnostics.h"

namespace zeld {

namespace {

// The fatal report of a failed write: "cannot write '<name>': <reason>".
[[noreturn]] void report_write_failure(Diagnostics& diag, const std::string& name, int error_number) {
  // A write that failed earlier may have left no reason behind.
  const char* reason = error_number != 0 ? std::strerror(error_number) : "write error";
  diag.fatal("cannot write '%s': %s", name.c_str(), reason);
}

#if defined(__GLIBC__)

// The thread behind a text output and the stream the writers see.
class BackgroundWriter {
 public:
  // Takes `target` over; it is written unbuffered, by the thread only.
  static std::FILE* open(std::FILE* target) {
    auto* writer = new BackgroundWriter(target);
    cookie_io_functions_t io{};
    io.write = [](void* self, const char* data, std::size_t size) -> ssize_t {
      static_cast<BackgroundWriter*>(self)->hand_over(data, size);
      return static_cast<ssize_t>(size);
    };
    io.close = [](void* self) -> int {
      auto* w = static_cast<BackgroundWriter*>(self);
      int error_number = w->close();
      delete w;
      if (error_number == 0) return 0;
      errno = error_number;
      return -1;
    };
    std::FILE* front = fopencookie(writer, "w", io);
    if (!front) {
      delete writer;  // the caller writes to the target itself
      return nullptr;
    }
    std::setvbuf(front, nullptr, _IOFBF, kChunk);
    std::setvbuf(target, nullptr, _IONBF, 0);
    writer->thread_ = std::thread([writer] { writer->run(); });
    return front;
  }

 private:
  static constexpr std::size_t kChunk = std::size_t{1} << 17;
  static constexpr std::size_t kChunksAhead = 3;  // handed over, not yet written

  explicit BackgroundWriter(std::FILE* target) : target_(target) {}

  void hand_over(const char* data, std::size_t size) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return queue_.size() < kChunksAhead; });
    std::vector<char> chunk;
    if (!spare_.empty()) {
      chunk = std::move(spare_.back());
      spare_.pop_back();
    }
    chunk.assign(data, data + size);
    queue_.push_back(std::move(chunk));
    work_.notify_one();
  }

  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      work_.wait(lock, [this] { return !queue_.empty() || closing_; });
      if (queue_.empty()) return;
      std::vector<char> chunk = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      // After a failure the rest is dropped; the close reports the first.
      if (error_ == 0) {
        errno = 0;
        if (std::fwrite(chunk.data(), 1, chunk.size(), target_) != chunk.size()) error_ = errno ? errno : EIO;
      }
      lock.lock();
      spare_.push_back(std::move(chunk));
      room_.notify_one();
    }
  }

  // Waits for every chunk and closes the target; the first error or 0.
  int close() {
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
      work_.notify_one();
    }
    thread_.join();
    errno = 0;
    if (std::fclose(target_) != 0 && error_ == 0) error_ = errno ? errno : EIO;
    return error_;
  }

  std::FILE* target_;
  std::mutex mutex_;
  std::condition_variable work_, room_;
  std::deque<std::vector<char>> queue_;
  std::vector<std::vector<char>> spare_;
  bool closing_ = false;
  int error_ = 0;  // written by the thread, read after it ended
  std::thread thread_;
};

#endif

}  // namespace

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    reset();
    file_ = std::exchange(other.file_, nullptr);
    name_ = std::move(other.name_);
  }
  return *this;
}

OutputFile OutputFile::create(Diagnostics& diag, const std::string& base, const char* extension,
                              const char* mode) {
  OutputFile out;
  out.file_ = open_file(diag, base, extension, mode);
  out.name_ = extension ? base + "." + extension : base;
#if defined(__GLIBC__)
  // Binary outputs are written in place (the COFF writer seeks back).
  if (mode[0] == 'w' && mode[1] == '\0') {
    if (std::FILE* front = BackgroundWriter::open(out.file_)) out.file_ = front;
  }
#endif
  return out;
}

void OutputFile::reset(std::FILE* f, std::string name) {
  if (file_) std::fclose(file_);
  file_ = f;
  name_ = std::move(name);
}

void OutputFile::finish(Diagnostics& diag) {
  if (!file_) return;
  std::FILE* f = std::exchange(file_, nullptr);
  errno = 0;
  bool failed = std::fflush(f) != 0;
  int error_number = errno;
  if (std::ferror(f)) failed = true;
  if (std::fclose(f) != 0 && !failed) {
    failed = true;
    error_number = errno;
  }
  if (failed) report_write_failure(diag, name_, error_number);
}

bool is_plain_file(const std::string& name) {
#ifdef _WIN32
  struct _stat64 st;
  return _stat64(name.c_str(), &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
#else
  struct stat st;
  return lstat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
#endif
}

void put_hex(std::FILE* f, u32 value, int width) {
  char buffer[8];
  put(f, hex_digits(value, width, buffer));
}

}  // namespace zeld
