// The shared part of the fuzz targets: each target turns its input into one
// link (words, input files, an environment value), and run_checked_link runs
// it in-process through link_main in a private working folder with a private
// TMPDIR, stdout and stderr kept in memory. After the link it checks what a
// crash cannot show (leaked descriptors, files left behind, a success status
// after an error, an unfinished image) and aborts with a message on the first
// failure, so that libFuzzer keeps the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zeld_fuzz {

struct LinkCase {
  std::vector<std::string> words;  // words[0] is the program name
  std::vector<std::pair<std::string, std::string>> files;  // name, contents
  std::optional<std::string> env_options;  // ZOL12_LINKER_OPTS when set
  // Files given with @- that the link must have deleted, whatever its end.
  std::vector<std::string> must_vanish;
};

struct LinkResult {
  int status = 0;
  std::string out;
  std::string err;
};

// Runs the link and its checks; returns what the link printed.
LinkResult run_checked_link(const LinkCase& link);

// The input split at lines holding only "%%": at most max_sections pieces,
// the last one keeping any further separators.
std::vector<std::string_view> split_sections(const std::uint8_t* data, std::size_t size, std::size_t max_sections);

// One word a line (a trailing '\r' dropped, empty lines skipped), at most
// max_words. No word reaches outside the working folder: ".." steps are
// broken, and words that name files (input names, -o, -L, -u, -l, @) lose
// their path separators. Words that begin with @ are dropped unless
// option_files is set, since in the other targets they could read an
// unconfined input file as options.
std::vector<std::string> split_words(std::string_view text, bool option_files = false, std::size_t max_words = 256);

// Text with parent steps and path separators broken, for option files and
// environment values.
std::string confined(std::string_view text);

}  // namespace zeld_fuzz
