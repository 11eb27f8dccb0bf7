// Option words from the environment variable and from option files. Runs
// first in the link, before the option scan: the words of ZOL12_LINKER_OPTS
// go right after the program name, then every @file word is replaced by the
// words of that file, left to right, files named inside files included.
// The scan then sees one word array. Names given with @- are registered in
// ctx.files_to_delete as soon as their word is seen; the driver deletes them
// however the link ends.
//
//   # comment line (only a '#' at the start of a line)
//   -btext:0x4000.0x7FFF "my app.o"
//   -o app @more.opt
//
// Limits: 4196 words per environment value or option file; option files
// nest at most kMaxOptionFileDepth deep and at most kMaxOptionFiles are
// read per link, so a file that names itself stops with a message instead
// of expanding for ever. Lines are read whole, whatever their length.
#include "option_words.h"

#include <cstdio>
#include <optional>

#include "context.h"
#include "source_text.h"

namespace zeld {

namespace {

constexpr int kMaxOptionFileDepth = 32;
constexpr std::size_t kMaxOptionFiles = 1024;

// One line of an option file, without its line end; a line that begins
// with '#' is a comment. A NUL ends the line's text.
void split_option_line(LinkContext& ctx, std::string_view line, std::vector<std::string>& words) {
  line = line.substr(0, line.find('\0'));
  if (!line.empty() && line[0] == '#') return;
  split_words(ctx, line, words);
}

// Reads the words of one option file; false when it cannot be read. A
// carriage return right before a line feed belongs to the line end.
bool read_option_file(LinkContext& ctx, const std::string& name, std::vector<std::string>& words) {
  if (name.find('\0') != std::string::npos) return false;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(name.c_str(), "rb"));
  if (!file) return false;
  std::string text;
  if (!read_stream_text(file.get(), text)) return false;  // a directory, for one
  LineSplitter lines(text, kUnlimitedLine);
  std::string_view line;
  bool newline = false;
  while (lines.next(line, newline)) split_option_line(ctx, line, words);
  return true;
}

// The words still to be looked at: the command line at depth 0 and, above
// it, the rest of each option file being expanded.
struct WordSource {
  std::vector<std::string> words;
  std::size_t next = 0;
  int depth = 0;
};

// The next word of the merged array, whichever file it comes from.
std::optional<std::string> take_word(std::vector<WordSource>& sources) {
  while (!sources.empty()) {
    WordSource& top = sources.back();
    if (top.next < top.words.size()) return std::move(top.words[top.next++]);
    sources.pop_back();
  }
  return std::nullopt;
}

// An option-file word: "@name", "@-name" (deleted when the link ends), or
// "@" / "@-" alone, whose name is the next word (name left empty).
struct OptionFileWord {
  bool delete_at_end;
  std::string name;
};

OptionFileWord option_file_word(const std::string& word) {
  bool delete_at_end = word.size() >= 2 && word[1] == '-';
  return {delete_at_end, word.substr(delete_at_end ? 2 : 1)};
}

// After an empty option file stops the expansion, a later "@-name" word
// (or "@-" and its name word) still names a file to delete.
void register_unexpanded_deletion(LinkContext& ctx, const std::string& word, std::vector<WordSource>& sources) {
  if (word.empty() || word[0] != '@') return;
  OptionFileWord at = option_file_word(word);
  if (!at.delete_at_end) return;
  if (at.name.empty()) {  // the name is the next word, which stays in the array too
    for (auto it = sources.rbegin(); it != sources.rend() && at.name.empty(); ++it)
      if (it->next < it->words.size()) at.name = it->words[it->next];
    if (at.name.empty()) return;
  }
  ctx.files_to_delete.push_back(at.name);
}

}  // namespace

void split_words(LinkContext& ctx, std::string_view text, std::vector<std::string>& words) {
  std::size_t p = 0;
  const std::size_t n = text.size();
  for (;;) {
    while (p < n && is_white(text[p])) ++p;
    if (p >= n) return;
    if (words.size() >= kMaxWords) {
      ctx.diag.write("argument table overflow\n");
      stop_link(kExitUsage);
    }
    if (text[p] == '"') {
      std::size_t close = text.find('"', p + 1);
      if (close == std::string_view::npos) {  // never closed: the quote stays
        words.emplace_back(text.substr(p));
        return;
      }
      words.emplace_back(text.substr(p + 1, close - p - 1));
      p = close + 1;
      continue;
    }
    // A quote inside a word ends it and starts a quoted one.
    std::size_t end = text.find_first_of(" \t\n\"", p + 1);
    if (end == std::string_view::npos) end = n;
    words.emplace_back(text.substr(p, end - p));
    p = end;
  }
}

void insert_env_words(LinkContext& ctx, std::string_view text, std::vector<std::string>& words) {
  std::vector<std::string> env;
  split_words(ctx, text, env);
  if (env.empty()) return;
  auto at = words.begin() + (words.empty() ? 0 : 1);
  words.insert(at, std::make_move_iterator(env.begin()), std::make_move_iterator(env.end()));
}

void expand_option_files(LinkContext& ctx, std::vector<std::string>& words) {
  if (words.empty()) return;
  ctx.program_name = words[0];
  std::vector<std::string> merged;
  merged.push_back(words[0]);
  std::vector<WordSource> sources;
  sources.push_back(WordSource{std::move(words), 1, 0});
  std::size_t files_read = 0;

  while (std::optional<std::string> word = take_word(sources)) {
    if (word->empty() || (*word)[0] != '@') {
      merged.push_back(std::move(*word));
      continue;
    }
    // The word just taken came from the top source (take_word only drops
    // exhausted sources before a word is found).
    int depth = sources.back().depth + 1;
    auto [delete_at_end, name] = option_file_word(*word);
    std::optional<std::string> name_word;
    if (name.empty()) {  // "@ file" or "@- file"
      name_word = take_word(sources);
      if (!name_word) usage(ctx);
      name = *name_word;
    }
    // Registered at once, so that no failure below leaves the file behind.
    if (delete_at_end) ctx.files_to_delete.push_back(name);
    if (depth > kMaxOptionFileDepth) {
      ctx.diag.write("option file %s nested more than %d deep\n", name.c_str(), kMaxOptionFileDepth);
      stop_link(kExitUsage);
    }
    if (++files_read > kMaxOptionFiles) {
      ctx.diag.write("more than %d option files\n", static_cast<int>(kMaxOptionFiles));
      stop_link(kExitUsage);
    }
    std::vector<std::string> file_words;
    if (!read_option_file(ctx, name, file_words)) {
      ctx.diag.write("can't open file %s\n", name.c_str());
      stop_link(kExitUsage);
    }
    if (file_words.empty()) {
      // The @ word stays (the scan takes it as an input file) and no later
      // @ word is expanded; files named by later @- words are still deleted.
      merged.push_back(std::move(*word));
      if (name_word) merged.push_back(std::move(*name_word));
      while (std::optional<std::string> rest = take_word(sources)) {
        register_unexpanded_deletion(ctx, *rest, sources);
        merged.push_back(std::move(*rest));
      }
      break;
    }
    sources.push_back(WordSource{std::move(file_words), 0, depth});
  }
  words = std::move(merged);
}

}  // namespace zeld
