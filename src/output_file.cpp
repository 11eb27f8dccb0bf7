// Output files with checked writes; see output_file.h.
#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <utility>

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

}  // namespace

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    reset();
    file_ = std::exchange(other.file_, nullptr);
    buffer_ = std::move(other.buffer_);
    name_ = std::move(other.name_);
  }
  return *this;
}

OutputFile OutputFile::create(Diagnostics& diag, const std::string& base, const char* extension,
                              const char* mode) {
  OutputFile out;
  out.file_ = open_file(diag, base, extension, mode);
  out.name_ = name_for(base, extension);
  out.buffer_ = std::make_unique<char[]>(kOutputBufferSize);
  std::setvbuf(out.file_, out.buffer_.get(), _IOFBF, kOutputBufferSize);
  return out;
}

void OutputFile::reset(std::FILE* f, std::string name) {
  if (file_) std::fclose(file_);
  buffer_.reset();
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
  buffer_.reset();
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
