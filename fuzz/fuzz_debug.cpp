// Fuzz target "debug": debug information through to the COFF file. The
// input is split at "%%" lines into
//   words | a.o | b.o
// and linked as  zeld12 -R -g -fcoff <words> a.o b.o , so the d lines of
// the objects (files, functions, blocks, lines, symbols, structures and
// their type strings) reach the .dbg walk and the COFF writer. The words can
// still choose another format or debug level.
#include <cstddef>
#include <cstdint>

#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const char* const kFiles[] = {"a.o", "b.o"};
  std::vector<std::string_view> parts = zeld_fuzz::split_sections(data, size, 3);
  zeld_fuzz::LinkCase link;
  link.words = {"zeld12", "-R", "-g", "-fcoff"};
  for (std::string& w : zeld_fuzz::split_words(parts[0])) link.words.push_back(std::move(w));
  link.words.insert(link.words.end(), {"a.o", "b.o"});
  for (std::size_t i = 1; i < parts.size(); ++i) link.files.emplace_back(kFiles[i - 1], std::string(parts[i]));
  zeld_fuzz::run_checked_link(link);
  return 0;
}
