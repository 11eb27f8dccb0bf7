// Fuzz target "options": the words of the command line, the environment
// value and option files. The input is split at "%%" lines into
//   words | environment value | one.rsp | two.rsp
// and run as  zeld12 <words>  with ZOL12_LINKER_OPTS set to the second
// piece when the input has one. A small valid object a.o is always there.
// The @- files the link surely meets must be gone afterwards.
#include <cstddef>
#include <cstdint>

#include "harness.h"

namespace {

constexpr const char* kObject = R"(XH
H 1 areas 2 global symbols
M a
A text size 4 flags 0
S __start Def0000
S _data Ref0000
T 00 00 CC 00 00 3D
R 00 00 00 00 02 03 00 01
)";

// The option files the link must delete: the one of the first @ word when
// it is "@-name" or "@-" and a name (it is surely met before anything can
// stop the link). When that first @ word names an option file without
// words, the expansion ends there and the later words stay as they are,
// but the @- files among them were named all the same and go too.
std::vector<std::string> deleted_option_files(const std::vector<std::string>& words,
                                              const std::vector<std::pair<std::string, std::string>>& files) {
  std::vector<std::string> gone;
  bool first = true;
  for (std::size_t i = 1; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (w.empty() || w[0] != '@') continue;
    bool deletes = w.compare(0, 2, "@-") == 0;
    std::size_t prefix = deletes ? 2 : 1;
    std::string name = w.size() > prefix ? w.substr(prefix) : i + 1 < words.size() ? words[++i] : std::string();
    const std::string* contents = nullptr;
    for (const auto& f : files)
      if (f.first == name) contents = &f.second;
    if (deletes && contents) gone.push_back(name);
    if (!first) continue;
    first = false;
    bool empty = contents && contents->find_first_not_of(" \t\r\n") == std::string::npos;
    if (!empty) break;
  }
  return gone;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string_view> parts = zeld_fuzz::split_sections(data, size, 4);
  zeld_fuzz::LinkCase link;
  link.words = {"zeld12"};
  for (std::string& w : zeld_fuzz::split_words(parts[0], true)) link.words.push_back(std::move(w));
  link.files = {{"a.o", kObject}};
  if (parts.size() > 1) link.env_options = zeld_fuzz::confined(parts[1]);
  if (parts.size() > 2) link.files.emplace_back("one.rsp", zeld_fuzz::confined(parts[2]));
  if (parts.size() > 3) link.files.emplace_back("two.rsp", zeld_fuzz::confined(parts[3]));
  // Words from the environment come first; an @ word there could stop the
  // expansion before the command line's first @ word is met.
  bool env_has_option_file = link.env_options && link.env_options->find('@') != std::string::npos;
  if (!env_has_option_file) link.must_vanish = deleted_option_files(link.words, link.files);
  zeld_fuzz::run_checked_link(link);
  return 0;
}
