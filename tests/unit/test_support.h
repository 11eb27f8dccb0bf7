// Helpers shared by the unit tests: reading back a captured stream, the
// host's line ends in text-mode files, and loading the current relocation
// record by hand.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>

#include "relocate.h"

namespace zeld {

// Everything written to a temporary stream so far.
inline std::string read_all(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  return text;
}

// `text` as a file written through a text-mode stream holds it on this host:
// each line feed becomes CR LF on Windows.
inline std::string host_text(const std::string& text) {
#ifdef _WIN32
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
#else
  return text;
#endif
}

// Makes `rec` a record loaded at `addr` (high byte first) with the given
// data values; a value of -1 stands for one dropped by a byte relocation.
inline void load_record(Record& rec, u32 addr, std::initializer_list<int> data, u32 dropped_value = 0xEE) {
  rec.count = 2;
  rec.values[0] = addr >> 8;
  rec.values[1] = addr & 0xFF;
  rec.kept[0] = rec.kept[1] = 1;
  for (int v : data) {
    rec.values[rec.count] = v < 0 ? dropped_value : static_cast<u32>(v);
    rec.kept[rec.count] = v < 0 ? 0 : 1;
    ++rec.count;
  }
}

}  // namespace zeld
