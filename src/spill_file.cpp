// The nameless temporary file of spill_file.h.
#include "spill_file.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "paths.h"

namespace zeld {

#ifndef _WIN32

namespace {

std::string temporary_folder() {
  const char* dir = std::getenv("TMPDIR");
  return dir && *dir ? dir : "/tmp";
}

int open_nameless(const std::string& dir) {
#ifdef O_TMPFILE
  // Made without a name at all.
  if (int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600); fd >= 0) return fd;
#endif
  // Elsewhere a named file loses its name at once; no signal may end the
  // link between the two steps and leave the name behind.
  std::string path = dir + "/zeld12-XXXXXX";
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &before);
  int fd = mkstemp(path.data());
  if (fd >= 0) {
    unlink(path.c_str());
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return fd;
}

// The stream of a nameless file (none for a descriptor that failed),
// opened to be written and read back.
std::FILE* nameless_stream(int fd) {
  if (fd < 0) return nullptr;
  std::FILE* f = fdopen(fd, "w+");
  if (!f) ::close(fd);
  return f;
}

}  // namespace

std::unique_ptr<SpillFile> SpillFile::open() {
  int fd = open_nameless(temporary_folder());
  if (fd < 0) return nullptr;
  return std::unique_ptr<SpillFile>(new SpillFile(fd));
}

SpillFile::~SpillFile() { ::close(fd_); }

std::FILE* open_temporary_stream() { return nameless_stream(open_nameless(temporary_folder())); }

std::FILE* open_temporary_stream_beside(const std::string& name) {
#if defined(__linux__) && defined(O_TMPFILE)
  struct stat st;
  if (lstat(name.c_str(), &st) == 0 || errno != ENOENT) return nullptr;
  // The mode fopen gives a new file; the umask applies to both.
  return nameless_stream(::open(folder_of(name).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
#else
  (void)name;
  return nullptr;
#endif
}

bool name_temporary_stream(std::FILE* f, const std::string& name) {
#if defined(__linux__) && defined(O_TMPFILE)
  if (std::fflush(f) != 0) return false;
  const int fd = fileno(f);
  futimens(fd, nullptr);
  // A nameless file takes a name through its entry in /proc (naming the
  // descriptor itself needs a privilege); an existing name is never
  // replaced.
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
#else
  (void)f;
  (void)name;
  return false;
#endif
}

bool SpillFile::append(const void* data, std::size_t size, u64& offset) {
  const char* p = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = pwrite(fd_, p + done, size - done, static_cast<off_t>(end_ + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // the bytes written are past end_ and never read
    done += static_cast<std::size_t>(n);
  }
  offset = end_;
  end_ += size;
  return true;
}

bool SpillFile::read(u64 offset, void* data, std::size_t size) const {
  char* p = static_cast<char*>(data);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = pread(fd_, p + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;  // shorter than what was written to it
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

#else

// Windows keeps the records in memory.
std::unique_ptr<SpillFile> SpillFile::open() { return nullptr; }
SpillFile::~SpillFile() = default;
bool SpillFile::append(const void*, std::size_t, u64&) { return false; }
bool SpillFile::read(u64, void*, std::size_t) const {
  errno = EIO;
  return false;
}
std::FILE* open_temporary_stream() { return nullptr; }
std::FILE* open_temporary_stream_beside(const std::string&) { return nullptr; }
bool name_temporary_stream(std::FILE*, const std::string&) { return false; }

#endif

}  // namespace zeld
