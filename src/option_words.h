// Option words from the environment variable ZOL12_LINKER_OPTS and from
// option files named with @file (or @-file, deleted when the link ends):
// their words are merged into the word array where they were named.
//
//   # a comment line
//   -btext:0x4000.0x7FFF "-o" "my app"
//   @more.opt
//
// Words are split at blanks, tabs and newlines; a word that begins with a
// double quote runs to the next one. At most 4196 words come from one text
// or option file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zeld {

struct LinkContext;

inline constexpr std::size_t kMaxWords = 4196;
inline constexpr const char* kOptionsEnvironmentVariable = "ZOL12_LINKER_OPTS";

// Appends the words of `text` to `words`; more than kMaxWords in `words`
// is "argument table overflow", status 1.
void split_words(LinkContext& ctx, std::string_view text, std::vector<std::string>& words);
// Puts the words of the environment text right after the program name.
void insert_env_words(LinkContext& ctx, std::string_view text, std::vector<std::string>& words);
// Replaces every @file word by the file's words, left to right.
void expand_option_files(LinkContext& ctx, std::vector<std::string>& words);

}  // namespace zeld
