// Argument words: splitting a text into words, the word-table limit, option
// files expanded in place (comments, long lines, @- files to delete), a
// missing file name, and the nesting and file-count limits.
#include "option_words.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "context.h"
#include "test_support.h"

namespace zeld {
namespace {

using Words = std::vector<std::string>;

std::string numbered_words(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += "w" + std::to_string(i) + (i % 10 == 9 ? "\n" : " ");
  return text;
}

// A captured link and a fresh folder for option files.
struct OptionWords : LinkTest {
  TestFolder folder{"words"};
  std::string file(const std::string& name, const std::string& bytes) { return folder.write(name, bytes); }
  int expand(Words words, Words* result = nullptr) {
    int status = stop_status([&] { expand_option_files(ctx, words); });
    if (result) *result = words;
    return status;
  }
};

TEST_F(OptionWords, SplitWords) {
  for (const auto& [text, expected] : std::vector<std::pair<std::string, Words>>{
           {"a \"b c\" d", {"a", "b c", "d"}},
           {"\"\"", {""}},
           {"ab\"c d\"", {"ab", "c d"}},
           {"\"a\"\"b\"c", {"a", "b", "c"}},
           {"x \"abc def", {"x", "\"abc def"}},  // an unclosed quote stays
           {" \t\r\v\f\na\r\v\fb\tc\nd \r", {"a\r\v\fb", "c", "d"}},
           {" \r\n", {}}}) {
    Words words;
    split_words(ctx, text, words);
    EXPECT_EQ(words, expected) << text;
  }
}

TEST_F(OptionWords, AtMost4196WordsFromOneTextOrFile) {
  Words words{"zeld12", "x.o"};
  insert_env_words(ctx, numbered_words(4196), words);
  EXPECT_EQ(words.size(), 4198u);
  EXPECT_EQ(stop_status([&] { insert_env_words(ctx, numbered_words(4197), words); }), kExitUsage);
  EXPECT_EQ(expand({"zeld12", "@" + file("full.opt", numbered_words(4196))}), kNoStop);
  EXPECT_EQ(expand({"zeld12", "@" + file("over.opt", numbered_words(4197))}), kExitUsage);
  EXPECT_EQ(err(), "argument table overflow\nargument table overflow\n");
}

TEST_F(OptionWords, OptionFileWordsStandWhereTheFileWasNamed) {
  std::string a = file("a.opt", "# -comment\r\n-R  \"my app.o\"\r\n\n  # not a comment\nlast\r");
  std::string b = file("b.opt", "-b @" + folder.path("c.opt") + " b2\n@");  // "@" takes the word after the file
  file("c.opt", "-c");
  std::string e = file("e.opt", "-e");
  std::string x(30000, 'x');  // a line far longer than 24575 characters, cut at its NUL
  std::string d = file("d.opt", std::string(24575, ' ') + "#" + x + std::string(" y\0z\n-d", 7));
  Words words;
  EXPECT_EQ(expand({"prog", "1", "@" + a, "@-", b, e, "@-" + d, "@" + d}, &words), kNoStop);
  EXPECT_EQ(words, (Words{"prog", "1", "-R", "my app.o", "#", "not", "a", "comment", "last\r", "-b", "-c", "b2", "-e",
                          "#" + x, "y", "-d", "#" + x, "y", "-d"}));
  EXPECT_EQ(ctx.files_to_delete, (Words{b, d}));
  for (const char* last : {"@", "@-"}) EXPECT_EQ(expand({"zeld12", "-R", last}), kExitUsage) << last;
  EXPECT_TRUE(out().starts_with("Version 7.50\nUsage: "));
}

TEST_F(OptionWords, NestingAndTheNumberOfFilesAreBounded) {
  for (int level = 1; level <= 33; ++level)  // f1 names f2, ..., f33 names none
    file("f" + std::to_string(level), level < 33 ? "@" + folder.path("f" + std::to_string(level + 1)) : "end");
  Words deepest;
  EXPECT_EQ(expand({"zeld12", "@" + folder.path("f2")}, &deepest), kNoStop);
  EXPECT_EQ(deepest, (Words{"zeld12", "end"}));
  EXPECT_EQ(expand({"zeld12", "@" + folder.path("f1")}), kExitUsage);
  const std::string leaf = "@" + file("leaf.opt", "x") + "\n";
  std::string many;
  for (int i = 0; i < 1024; ++i) many += leaf;
  EXPECT_EQ(expand({"zeld12", "@" + file("fan.opt", many)}), kExitUsage);  // 1 + 1024 files
  EXPECT_EQ(err(), "option file " + folder.path("f33") + " nested more than 32 deep\nmore than 1024 option files\n");
}

}  // namespace
}  // namespace zeld
