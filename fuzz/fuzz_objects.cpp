// Fuzz target "objects": a whole link of fuzzed objects, their module
// listings and a library. The input is split at "%%" lines into
//   words | a.o | a.lis | libz.a | b.o | b.lis
// and linked as  zeld12 -R <words> a.o b.o libz.a , so the words (one a
// line) vary the options: formats, ranges, -g, the map variants. A piece the
// input does not reach is a file that does not exist.
#include <cstddef>
#include <cstdint>

#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const char* const kFiles[] = {"a.o", "a.lis", "libz.a", "b.o", "b.lis"};
  std::vector<std::string_view> parts = zeld_fuzz::split_sections(data, size, 6);
  zeld_fuzz::LinkCase link;
  link.words = {"zeld12", "-R"};
  for (std::string& w : zeld_fuzz::split_words(parts[0])) link.words.push_back(std::move(w));
  link.words.insert(link.words.end(), {"a.o", "b.o", "libz.a"});
  for (std::size_t i = 1; i < parts.size(); ++i) link.files.emplace_back(kFiles[i - 1], std::string(parts[i]));
  zeld_fuzz::run_checked_link(link);
  return 0;
}
