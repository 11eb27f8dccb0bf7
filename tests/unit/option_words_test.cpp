#include "option_words.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "context.h"

namespace zeld {
namespace {

namespace fs = std::filesystem;
using Words = std::vector<std::string>;

constexpr int kNoStop = -1000;

std::string read_all(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buffer[512];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
  return text;
}

// A captured context and a fresh folder for option files.
class OptionWords : public ::testing::Test {
 protected:
  OptionWords() : err_(std::tmpfile()), out_(std::tmpfile()), ctx(err_, out_) {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("zeld-option-words-" + std::to_string(random()));
    fs::create_directories(dir_);
  }
  ~OptionWords() override {
    std::fclose(err_);
    std::fclose(out_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Writes a file in the folder and returns its path.
  std::string file(const std::string& name, const std::string& bytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  int split(std::string_view text, Words& words) {
    try {
      split_words(ctx, text, words);
    } catch (const LinkAbort& abort) {
      return abort.status;
    }
    return kNoStop;
  }
  Words split(std::string_view text) {
    Words words;
    EXPECT_EQ(split(text, words), kNoStop);
    return words;
  }
  int expand(Words& words) {
    try {
      expand_option_files(ctx, words);
    } catch (const LinkAbort& abort) {
      return abort.status;
    }
    return kNoStop;
  }

  std::string err() { return read_all(err_); }
  std::string out() { return read_all(out_); }

  std::FILE* err_;
  std::FILE* out_;
  LinkContext ctx;
  fs::path dir_;
};

std::string numbered_words(int count, const char* prefix = "w") {
  std::string text;
  for (int i = 0; i < count; ++i) text += std::string(prefix) + std::to_string(i) + (i % 10 == 9 ? "\n" : " ");
  return text;
}

TEST_F(OptionWords, QuotedWords) {
  EXPECT_EQ(split("a \"b c\" d"), (Words{"a", "b c", "d"}));
  EXPECT_EQ(split("\"\""), Words{""});
  EXPECT_EQ(split("ab\"c d\""), (Words{"ab", "c d"}));
  EXPECT_EQ(split("\"a\"\"b\"c"), (Words{"a", "b", "c"}));
  EXPECT_EQ(split("a#b \"#\""), (Words{"a#b", "#"}));
}

TEST_F(OptionWords, UnclosedQuoteRunsToTheEndAndStays) {
  EXPECT_EQ(split("x \"abc def"), (Words{"x", "\"abc def"}));
  EXPECT_EQ(split("\""), Words{"\""});
}

TEST_F(OptionWords, SeparatorsBeforeAWordAndInsideIt) {
  EXPECT_EQ(split(" \t\r\v\f\na\r\v\fb\tc\nd \r"), (Words{"a\r\v\fb", "c", "d"}));
  EXPECT_EQ(split(" \r\n\t"), Words{});
  EXPECT_EQ(split(""), Words{});
}

TEST_F(OptionWords, WordTableHolds4196Words) {
  Words words;
  EXPECT_EQ(split(numbered_words(4196), words), kNoStop);
  EXPECT_EQ(words.size(), 4196u);
  EXPECT_EQ(words.back(), "w4195");
  EXPECT_EQ(err(), "");
  words.clear();
  EXPECT_EQ(split(numbered_words(4197), words), kExitUsage);
  EXPECT_EQ(err(), "argument table overflow\n");
}

TEST_F(OptionWords, EnvironmentWordsGoRightAfterTheProgramName) {
  Words words{"zeld12", "x.o", "-R"};
  insert_env_words(ctx, "a \"b c\" d", words);
  EXPECT_EQ(words, (Words{"zeld12", "a", "b c", "d", "x.o", "-R"}));
  insert_env_words(ctx, " \t ", words);
  EXPECT_EQ(words.size(), 6u);
  Words only{"zeld12"};
  insert_env_words(ctx, "-R", only);
  EXPECT_EQ(only, (Words{"zeld12", "-R"}));
}

TEST_F(OptionWords, EnvironmentWordsAreLimitedToo) {
  Words words{"zeld12"};
  int status = kNoStop;
  try {
    insert_env_words(ctx, numbered_words(4197), words);
  } catch (const LinkAbort& abort) {
    status = abort.status;
  }
  EXPECT_EQ(status, kExitUsage);
  EXPECT_EQ(err(), "argument table overflow\n");
}

TEST_F(OptionWords, NoOptionFileLeavesTheWords) {
  Words words{"/bin/zeld12", "a.o", "x@y"};
  EXPECT_EQ(expand(words), kNoStop);
  EXPECT_EQ(words, (Words{"/bin/zeld12", "a.o", "x@y"}));
  EXPECT_EQ(ctx.program_name, "/bin/zeld12");
}

TEST_F(OptionWords, OptionFileWordsStandWhereTheFileWasNamed) {
  std::string opts = file("a.opt",
                          "# -comment line\r\n"
                          "-R  \"my app.o\"\r\n"
                          "\n"
                          "  # not a comment\n"
                          "last\r");
  Words words{"zeld12", "first", "@" + opts, "after"};
  EXPECT_EQ(expand(words), kNoStop);
  EXPECT_EQ(words, (Words{"zeld12", "first", "-R", "my app.o", "#", "not", "a", "comment", "last\r", "after"}));
  EXPECT_TRUE(ctx.files_to_delete.empty());
}

TEST_F(OptionWords, SeparateNameWordsAndDeletion) {
  std::string a = file("a.opt", "-a\n");
  std::string b = file("b.opt", "-b\n");
  std::string c = file("c.opt", "-c\n");
  Words words{"zeld12", "@", a, "@-" + b, "@-", c};
  EXPECT_EQ(expand(words), kNoStop);
  EXPECT_EQ(words, (Words{"zeld12", "-a", "-b", "-c"}));
  EXPECT_EQ(ctx.files_to_delete, (Words{b, c}));
}

TEST_F(OptionWords, NestedFilesExpandInPlace) {
  std::string inner = file("inner.opt", "i1 i2");
  std::string tail = file("tail.opt", "t1");
  // A file's last word "@" takes its name from the words after the file.
  std::string outer = file("outer.opt", "o1 @" + inner + " o2\n@");
  Words words{"zeld12", "@" + outer, tail, "end"};
  EXPECT_EQ(expand(words), kNoStop);
  EXPECT_EQ(words, (Words{"zeld12", "o1", "i1", "i2", "o2", "t1", "end"}));
}

TEST_F(OptionWords, LongLinesAreReadWhole) {
  std::string word(30000, 'x');
  std::string opts = file("long.opt", std::string(24575, ' ') + "#" + word + " y\n");
  Words words{"zeld12", "@" + opts};
  EXPECT_EQ(expand(words), kNoStop);
  EXPECT_EQ(words, (Words{"zeld12", "#" + word, "y"}));
}

TEST_F(OptionWords, NulEndsTheLine) {
  std::string opts = file("nul.opt", std::string("a b\0c d\ne", 9));
  Words words{"zeld12", "@" + opts};
  EXPECT_EQ(expand(words), kNoStop);
  EXPECT_EQ(words, (Words{"zeld12", "a", "b", "e"}));
}

TEST_F(OptionWords, FileWithoutWordsStaysAndStopsExpansion) {
  std::string empty = file("empty.opt", "# nothing\n\n  \r\n");
  std::string other = file("other.opt", "x");
  Words words{"zeld12", "a", "@-", empty, "@" + other};
  EXPECT_EQ(expand(words), kNoStop);
  EXPECT_EQ(words, (Words{"zeld12", "a", "@-", empty, "@" + other}));
  EXPECT_EQ(ctx.files_to_delete, Words{empty});
}

TEST_F(OptionWords, FileOf4196WordsIsAcceptedAndOneMoreIsNot) {
  std::string full = file("full.opt", numbered_words(4196));
  Words words{"zeld12", "@" + full, "@" + full};
  EXPECT_EQ(expand(words), kNoStop);
  EXPECT_EQ(words.size(), 1u + 2 * 4196);
  std::string over = file("over.opt", numbered_words(4197));
  Words more{"zeld12", "@" + over};
  EXPECT_EQ(expand(more), kExitUsage);
  EXPECT_EQ(err(), "argument table overflow\n");
}

TEST_F(OptionWords, FileThatCannotBeOpened) {
  std::string missing = (dir_ / "missing.opt").string();
  Words words{"zeld12", "@-" + missing};
  EXPECT_EQ(expand(words), kExitUsage);
  EXPECT_EQ(err(), "can't open file " + missing + "\n");
  EXPECT_TRUE(ctx.files_to_delete.empty());
}

TEST_F(OptionWords, FolderIsNotAnOptionFile) {
  Words words{"zeld12", "@" + dir_.string()};
  EXPECT_EQ(expand(words), kExitUsage);
  EXPECT_EQ(err(), "can't open file " + dir_.string() + "\n");
}

TEST_F(OptionWords, NameWordMissingAtTheEnd) {
  for (const char* last : {"@", "@-"}) {
    Words words{"zeld12", "-R", last};
    EXPECT_EQ(expand(words), kExitUsage) << last;
  }
  EXPECT_EQ(out().rfind("Version 7.50\nUsage: [options] file [file ...] [-l<f>]\n", 0), 0u);
}

TEST_F(OptionWords, FileNamingItselfStops) {
  std::string self = file("self.opt", "-R @" + (dir_ / "self.opt").string() + "\n");
  Words words{"zeld12", "@" + self};
  EXPECT_EQ(expand(words), kExitUsage);
  EXPECT_EQ(err(), "option file " + self + " nested more than 32 deep\n");
}

TEST_F(OptionWords, FilesNamingEachOtherStop) {
  std::string a = (dir_ / "a.opt").string();
  std::string b = (dir_ / "b.opt").string();
  file("a.opt", "@" + b);
  file("b.opt", "x @" + a);
  Words words{"zeld12", "@" + a};
  EXPECT_EQ(expand(words), kExitUsage);
  EXPECT_EQ(err(), "option file " + a + " nested more than 32 deep\n");  // a is the 33rd
}

TEST_F(OptionWords, ThirtyTwoLevelsOfNestingAreAccepted) {
  for (int level = 1; level <= 33; ++level) {
    std::string next = level < 33 ? "@" + (dir_ / ("f" + std::to_string(level + 1))).string() : "";
    file("f" + std::to_string(level), std::to_string(level) + " " + next);
  }
  Words words{"zeld12", "@" + (dir_ / "f2").string()};  // f2 .. f33: 32 levels
  EXPECT_EQ(expand(words), kNoStop);
  EXPECT_EQ(words.size(), 33u);
  EXPECT_EQ(words.back(), "33");
  Words deeper{"zeld12", "@" + (dir_ / "f1").string()};
  EXPECT_EQ(expand(deeper), kExitUsage);
  EXPECT_EQ(err(), "option file " + (dir_ / "f33").string() + " nested more than 32 deep\n");
}

TEST_F(OptionWords, NumberOfOptionFilesIsBounded) {
  std::string leaf = file("leaf.opt", "x");
  std::string many;
  for (int i = 0; i < 1024; ++i) many += "@" + leaf + "\n";
  std::string fan = file("fan.opt", many);
  Words words{"zeld12", "@" + fan};  // 1 + 1024 files
  EXPECT_EQ(expand(words), kExitUsage);
  EXPECT_EQ(err(), "more than 1024 option files\n");
}

}  // namespace
}  // namespace zeld
