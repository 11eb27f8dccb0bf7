// The reporters: the class marks, the {linker} tag, the file and line part,
// the error limit and the banners. See diagnostics.h for the shapes.
#include "diagnostics.h"

#include <cstring>

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
  std::string msg = vstrprintf(fmt, args);
  va_end(args);
  std::string text;
  if (current_file_)
    text = strprintf("!E %s(%d): ", current_file_->c_str(), current_line_number);
  else
    text = "!ERROR ";
  text += "{linker} ";
  text += msg;
  text += '\n';
  put(err_, text);
  std::fflush(err_);
  count_error();
}

void Diagnostics::fatal(const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  std::string msg = vstrprintf(fmt, args);
  va_end(args);
  put(err_, "!E {linker} " + msg + "\n");
  std::fflush(err_);
  throw LinkAbort{kExitFailure};
}

void Diagnostics::internal(const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  std::string msg = vstrprintf(fmt, args);
  va_end(args);
  put(err_, strprintf("!E [Internal Error] The linker has encountered an internal error.\n"
                      " Please contact %s. We apologize for any inconvenience.\n"
                      " {internal message} %s\n",
                      kSupportAddress, msg.c_str()));
  std::fflush(err_);
  throw LinkAbort{kExitFailure};
}

void Diagnostics::assert_failed(const char* expression, const char* source, int line) {
  put(err_, strprintf("!X The compiler has failed an internal consistency check. This may be due\n"
                      "  to incorrect input or an internal error. Please report the information\n"
                      "  %s at %s(%d) to \"%s\"\n",
                      expression, source, line, kSupportAddress));
  std::fflush(err_);
  throw LinkAbort{kExitUsage};
}

void Diagnostics::count_error() {
  int before = error_count_++;
  if (before >= kErrorLimit) {
    put(err_, "{linker} Too many errors, exiting...\n");
    std::fflush(err_);
    throw LinkAbort{kExitFailure};
  }
}

std::optional<std::string> Diagnostics::set_current_file(std::optional<std::string> name) {
  std::optional<std::string> previous = std::move(current_file_);
  current_file_ = std::move(name);
  return previous;
}

void Diagnostics::write(const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  std::string text = vstrprintf(fmt, args);
  va_end(args);
  put(err_, text);
  std::fflush(err_);
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
  if (name.size() <= kMaxFileNameLength && name.find('\0') == std::string::npos)
    f = std::fopen(name.c_str(), mode);
  if (!f) diag.fatal("cannot %s '%s'", verb, name.c_str());
  return f;
}

}  // namespace zeld
