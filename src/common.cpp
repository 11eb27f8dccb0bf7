// printf-style text building for the linker's message formats.
#include "common.h"

#include <cstdio>
#include <vector>

namespace zeld {

std::string vstrprintf(const char* fmt, std::va_list args) {
  std::va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (needed <= 0) return std::string();
  std::string out(static_cast<std::size_t>(needed) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), fmt, args);
  out.resize(static_cast<std::size_t>(needed));
  return out;
}

std::string strprintf(const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  std::string out = vstrprintf(fmt, args);
  va_end(args);
  return out;
}

}  // namespace zeld
