// Runs one fuzzed link in-process and checks what it leaves behind. The
// sandbox is made once per process: <tmp>/zeld-fuzz-XXXXXX/run is the
// working folder of every link, <tmp>/zeld-fuzz-XXXXXX/tmp its TMPDIR. Both
// are emptied after every input, so each link starts from the files its
// case names and nothing else.
//
// ZELD_FUZZ_RELAX (a comma-separated list) turns checks off while a known
// fault is being mended: "banner" (input that reaches the consistency-check
// banner or an internal error, both for the linker's own faults), "image"
// (an unfinished image file left behind).
#include "harness.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "driver.h"

namespace zeld_fuzz {

namespace fs = std::filesystem;

namespace {

struct Sandbox {
  std::string home;  // the folder the fuzzer was started in
  std::string root;
  std::string run;
  std::string tmp;
  bool relax_banner = false;
  bool relax_image = false;

  Sandbox() {
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) die("cannot read the current folder");
    home = cwd;
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/zeld-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) die("cannot make the sandbox folder");
    root = pattern;
    run = root + "/run";
    tmp = root + "/tmp";
    fs::create_directory(run);
    fs::create_directory(tmp);
    // The link sees only the private TMPDIR and fixed dates.
    setenv("TMPDIR", tmp.c_str(), 1);
    setenv("SOURCE_DATE_EPOCH", "0", 1);
    setenv("TZ", "UTC", 1);
    if (const char* relax = std::getenv("ZELD_FUZZ_RELAX")) {
      std::string r = std::string(",") + relax + ",";
      relax_banner = r.find(",banner,") != std::string::npos;
      relax_image = r.find(",image,") != std::string::npos;
    }
  }

  ~Sandbox() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }

  [[noreturn]] static void die(const char* why) {
    std::fprintf(stderr, "zeld-fuzz: %s\n", why);
    std::abort();
  }
};

Sandbox& sandbox() {
  static Sandbox box;
  return box;
}

int count_open_descriptors() {
  DIR* d = opendir("/proc/self/fd");
  if (!d) return -1;
  int n = 0;
  while (readdir(d)) ++n;
  closedir(d);
  return n;
}

std::vector<std::string> folder_entries(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
  return names;
}

void empty_folder(const std::string& dir) {
  std::error_code ec;
  for (const std::string& name : folder_entries(dir)) fs::remove_all(dir + "/" + name, ec);
}

std::string read_file(const std::string& path) {
  std::string text;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

bool write_file(const std::string& path, const std::string& contents) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(contents.data(), 1, contents.size(), f) == contents.size();
  return std::fclose(f) == 0 && ok;
}

// True when some line of text begins with prefix.
bool has_line_starting(const std::string& text, std::string_view prefix) {
  for (std::size_t p = 0; p < text.size();) {
    if (text.compare(p, prefix.size(), prefix) == 0) return true;
    std::size_t nl = text.find('\n', p);
    if (nl == std::string::npos) break;
    p = nl + 1;
  }
  return false;
}

std::string last_line(const std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
  std::size_t begin = text.rfind('\n', end == 0 ? 0 : end - 1);
  begin = begin == std::string::npos ? 0 : begin + 1;
  return text.substr(begin, end - begin);
}

bool ends_with(const std::string& s, std::string_view tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// An image file a programmer could flash must carry its closing record.
std::optional<std::string> unfinished_image(const std::string& dir, const std::string& name) {
  std::string last = last_line(read_file(dir + "/" + name));
  if (ends_with(name, ".s19")) {
    if (last.size() >= 2 && last[0] == 'S' && (last[1] == '7' || last[1] == '8' || last[1] == '9')) return std::nullopt;
    return "image file '" + name + "' left without its end record";
  }
  if (ends_with(name, ".hex")) {
    if (last == ":00000001FF") return std::nullopt;
    return "image file '" + name + "' left without its end-of-file record";
  }
  return std::nullopt;
}

// The internal errors that malformed input ends with by design: relocation
// records naming an area or mode the module lacks, and more pending COFF
// tag references in one source file than the table holds.
bool internal_error_by_design(const std::string& err) {
  static constexpr std::string_view kByDesign[] = {" max areas is ", "{internal message} module name: ",
                                                   "{internal message} COFF backpatch table overflowed"};
  for (std::string_view text : kByDesign)
    if (err.find(text) != std::string::npos) return true;
  return false;
}

bool is_extract_file_name(const std::string& name) { return name.size() == 9 && name.compare(0, 3, "zol") == 0; }

[[noreturn]] void check_failed(const LinkCase& link, const LinkResult& result, const std::string& why) {
  std::fprintf(stderr, "\n==== zeld-fuzz check failed: %s\n==== status %d, words:", why.c_str(), result.status);
  for (const std::string& w : link.words) std::fprintf(stderr, " [%s]", w.c_str());
  if (link.env_options) std::fprintf(stderr, "\n==== ZOL12_LINKER_OPTS=[%s]", link.env_options->c_str());
  std::fprintf(stderr, "\n==== stderr of the link:\n%s\n==== end\n", result.err.c_str());
  std::abort();
}

}  // namespace

LinkResult run_checked_link(const LinkCase& link) {
  Sandbox& box = sandbox();
  for (const auto& [name, contents] : link.files)
    if (!write_file(box.run + "/" + name, contents)) Sandbox::die("cannot write an input file");
  if (link.env_options)
    setenv("ZOL12_LINKER_OPTS", link.env_options->c_str(), 1);
  else
    unsetenv("ZOL12_LINKER_OPTS");

  std::vector<std::string> words = link.words;
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  LinkResult result;
  int fds_before = count_open_descriptors();
  char* out_buf = nullptr;
  char* err_buf = nullptr;
  std::size_t out_len = 0, err_len = 0;
  std::FILE* out = open_memstream(&out_buf, &out_len);
  std::FILE* err = open_memstream(&err_buf, &err_len);
  if (!out || !err || chdir(box.run.c_str()) != 0) Sandbox::die("cannot set up the link");
  result.status = zeld::link_main(static_cast<int>(words.size()), argv.data(), out, err);
  if (chdir(box.home.c_str()) != 0) Sandbox::die("cannot return to the start folder");
  std::fclose(out);
  std::fclose(err);
  result.out.assign(out_buf, out_len);
  result.err.assign(err_buf, err_len);
  std::free(out_buf);
  std::free(err_buf);
  int fds_after = count_open_descriptors();
  unsetenv("ZOL12_LINKER_OPTS");

  if (fds_after != fds_before)
    check_failed(link, result, "open descriptors " + std::to_string(fds_before) + " before, " +
                                   std::to_string(fds_after) + " after the link");
  if (result.status != 0 && result.status != 1 && result.status != -1)
    check_failed(link, result, "exit status outside 0, 1 and -1");
  if (result.status == 0 && (has_line_starting(result.err, "!E ") || has_line_starting(result.err, "!ERROR ")))
    check_failed(link, result, "status 0 after an error was reported");
  // No input reaches the consistency-check banner: it is for the linker's
  // own faults.
  if (!box.relax_banner && has_line_starting(result.err, "!X "))
    check_failed(link, result, "input reached the consistency-check banner");
  // The banner's own line, not the words of a message that echoes input.
  if (!box.relax_banner && has_line_starting(result.err, "!E [Internal Error]") &&
      !internal_error_by_design(result.err))
    check_failed(link, result, "input reached an internal error");
  for (const std::string& name : folder_entries(box.tmp))
    check_failed(link, result, "file '" + name + "' left in TMPDIR");

  std::vector<std::string> left = folder_entries(box.run);
  for (const std::string& name : link.must_vanish)
    for (const std::string& l : left)
      if (l == name) check_failed(link, result, "@- file '" + name + "' not deleted");
  for (const std::string& name : left) {
    bool input = false;
    for (const auto& f : link.files) input = input || f.first == name;
    if (input) continue;
    if (is_extract_file_name(name)) check_failed(link, result, "extract file '" + name + "' left in the working folder");
    if (!box.relax_image)
      if (std::optional<std::string> why = unfinished_image(box.run, name)) check_failed(link, result, *why);
  }
  empty_folder(box.run);
  empty_folder(box.tmp);
  return result;
}

std::vector<std::string_view> split_sections(const std::uint8_t* data, std::size_t size, std::size_t max_sections) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> sections;
  std::size_t begin = 0;
  std::size_t line = 0;
  while (sections.size() + 1 < max_sections && line <= text.size()) {
    std::size_t nl = text.find('\n', line);
    std::size_t end = nl == std::string_view::npos ? text.size() : nl;
    if (text.substr(line, end - line) == "%%") {
      sections.push_back(text.substr(begin, line - begin));
      begin = nl == std::string_view::npos ? text.size() : nl + 1;
    }
    if (nl == std::string_view::npos) break;
    line = nl + 1;
  }
  sections.push_back(text.substr(begin));
  return sections;
}

namespace {

// ".." becomes "._": no name climbs out of the working folder.
void break_parent_steps(std::string& s) {
  for (std::size_t i = 0; i + 1 < s.size(); ++i)
    if (s[i] == '.' && s[i + 1] == '.') s[i + 1] = '_';
}

void replace_separators(std::string& s) {
  for (char& c : s)
    if (c == '/' || c == '\\') c = '_';
}

// Words that name files lose their separators; others (the expressions of
// -d, where '/' divides) only their parent steps.
std::string confined_word(std::string_view word) {
  std::string s(word);
  break_parent_steps(s);
  static constexpr std::string_view kNaming[] = {"/", "\\", "@", "-o", "-L", "-u", "-l"};
  for (std::string_view prefix : kNaming)
    if (s.compare(0, prefix.size(), prefix) == 0) replace_separators(s);
  return s;
}

}  // namespace

std::string confined(std::string_view text) {
  std::string s(text);
  break_parent_steps(s);
  replace_separators(s);
  return s;
}

std::vector<std::string> split_words(std::string_view text, bool option_files, std::size_t max_words) {
  std::vector<std::string> words;
  std::size_t p = 0;
  while (p < text.size() && words.size() < max_words) {
    std::size_t nl = text.find('\n', p);
    std::size_t end = nl == std::string_view::npos ? text.size() : nl;
    std::string_view w = text.substr(p, end - p);
    if (!w.empty() && w.back() == '\r') w.remove_suffix(1);
    // A NUL would cut the word short on its way through argv anyway.
    bool keep = !w.empty() && w.find('\0') == std::string_view::npos && (option_files || w[0] != '@');
    if (keep) words.push_back(confined_word(w));
    if (nl == std::string_view::npos) break;
    p = nl + 1;
  }
  return words;
}

}  // namespace zeld_fuzz
