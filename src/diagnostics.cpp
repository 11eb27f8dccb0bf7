// The reporters: the class marks, the {linker} tag, the file and line part,
// the error limit and the banners. See diagnostics.h for the shapes.
#include "diagnostics.h"

#include <utility>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace zeld {

namespace {

// Thirteen counted errors are tolerated; the fourteenth ends the link.
constexpr int kErrorLimit = 13;

void put(std::FILE* f, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), f);
}

}  // namespace

void Diagnostics::error(const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  counted_error(nullptr, fmt, args);
  va_end(args);
}

void Diagnostics::error_at(const ReportPlace& place, const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  counted_error(&place, fmt, args);
  va_end(args);
}

void Diagnostics::counted_error(const ReportPlace* place, const char* fmt, std::va_list args) {
  std::string msg = vstrprintf(fmt, args);
  std::string text;
  if (place && place->file && place->line == ReportPlace::kNoLine)
    text = strprintf("!E %s: ", place->file->c_str());
  else if (place && place->file)
    text = strprintf("!E %s(%d): ", place->file->c_str(), place->line);
  else
    text = "!ERROR ";
  text += "{linker} ";
  text += msg;
  text += '\n';
  emit(Held::kCountedError, std::move(text));
  if (!holding_)
    count_error();
  else if (++held_errors_ > kErrorLimit)
    stop_link(kExitFailure);  // the release stops at the limit by then
}

void Diagnostics::emit(Held kind, std::string text, int status) {
  if (holding_) {
    held_.push_back({kind, status, std::move(text)});
    return;
  }
  put(err_, text);
  std::fflush(err_);
}

void Diagnostics::stop(int status) {
  if (holding_) held_.push_back({Held::kStop, status, {}});
  stop_link(status);
}

std::vector<Diagnostics::HeldReport> Diagnostics::take_held() {
  holding_ = false;
  held_errors_ = 0;
  std::vector<HeldReport> reports = std::move(held_);
  held_.clear();
  return reports;
}

void Diagnostics::replay(const std::vector<HeldReport>& reports) {
  for (const HeldReport& r : reports) {
    if (r.kind == Held::kStop) stop(r.status);
    emit(r.kind, r.text);
    if (r.kind == Held::kCountedError && !holding_) count_error();
  }
}

void Diagnostics::release() { replay(take_held()); }

void Diagnostics::release_from(Diagnostics& held) {
  error_count_ += std::exchange(held.error_count_, 0);
  replay(held.take_held());
}

void Diagnostics::hold_stop(int status) {
  if (held_.empty() || held_.back().kind != Held::kStop) held_.push_back({Held::kStop, status, {}});
}

void Diagnostics::fatal(const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  std::string msg = vstrprintf(fmt, args);
  va_end(args);
  emit(Held::kText, "!E {linker} " + msg + "\n");
  stop(kExitFailure);
}

void Diagnostics::internal(const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  std::string msg = vstrprintf(fmt, args);
  va_end(args);
  emit(Held::kText, strprintf("!E [Internal Error] The linker has encountered an internal error.\n"
                              " Please contact %s. We apologize for any inconvenience.\n"
                              " {internal message} %s\n",
                              kSupportAddress, msg.c_str()));
  stop(kExitFailure);
}

void Diagnostics::assert_failed(const char* expression, const char* source, int line) {
  emit(Held::kText, strprintf("!X The compiler has failed an internal consistency check. This may be due\n"
                              "  to incorrect input or an internal error. Please report the information\n"
                              "  %s at %s(%d) to \"%s\"\n",
                              expression, source, line, kSupportAddress));
  stop(kExitUsage);
}

void Diagnostics::count_error() {
  int before = error_count_++;
  if (before >= kErrorLimit) {
    put(err_, "{linker} Too many errors, exiting...\n");
    std::fflush(err_);
    stop_link(kExitFailure);
  }
}

void Diagnostics::write(const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  std::string text = vstrprintf(fmt, args);
  va_end(args);
  emit(Held::kText, std::move(text));
}

std::FILE* open_file(Diagnostics& diag, const std::string& base, const char* extension,
                     const char* mode) {
  std::string name = base;
  if (extension) {
    name += '.';
    name += extension;
  }
  const char* verb = mode[0] == 'w' ? "create" : "open";
  std::FILE* f = nullptr;
  errno = 0;
  if (name.size() <= kMaxFileNameLength && name.find('\0') == std::string::npos)
    f = std::fopen(name.c_str(), mode);
  if (!f) report_open_failure(diag, name, verb, errno);
  if (mode[0] == 'r') check_not_directory(diag, f, name);
  return f;
}

void report_open_failure(Diagnostics& diag, const std::string& name, const char* verb, int error_number) {
  diag.fatal("cannot %s '%s'%s", verb, name.c_str(), system_reason(error_number).c_str());
}

std::string system_reason(int error_number) {
  if (error_number == 0 || error_number == ENOENT) return {};
  return std::string(": ") + std::strerror(error_number);
}

void report_read_failure(Diagnostics& diag, const std::string& name, int error_number) {
  const char* reason = error_number != 0 ? std::strerror(error_number) : "read error";
  diag.fatal("cannot read '%s': %s", name.c_str(), reason);
}

void check_not_directory(Diagnostics& diag, std::FILE* f, const std::string& name) {
#ifdef _WIN32
  struct _stat64 st;
  bool directory = _fstat64(_fileno(f), &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFDIR;
#else
  struct stat st;
  bool directory = fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode);
#endif
  if (!directory) return;
  std::fclose(f);
  report_read_failure(diag, name, EISDIR);
}

}  // namespace zeld
