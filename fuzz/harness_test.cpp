// Tests of the fuzz harness itself: no fuzzed word may reach outside the
// sandbox, inputs split into the pieces the targets document, and a check
// that fails stops the process with its reason (so libFuzzer keeps the
// input). Built with the fuzz targets and run by fuzz/run.sh --smoke.
#include <gtest/gtest.h>

#include <cstring>

#include "harness.h"

namespace {

using zeld_fuzz::split_words;

std::vector<std::string> pieces(const char* text, std::size_t max) {
  std::vector<std::string> out;
  for (std::string_view p : zeld_fuzz::split_sections(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text), max))
    out.emplace_back(p);
  return out;
}

TEST(FuzzHarness, NoWordNamesAFileOutsideTheWorkingFolder) {
  const char* text =
      "/dev/zero\n-o/tmp/out\n-o\n../../out\n-L/usr/lib\n-u/etc/crt\n-l../z\n@-/etc/passwd\n"
      "x/../../y.o\n-dA=7/2\n";
  std::vector<std::string> words = split_words(text, true);
  std::vector<std::string> expected = {"_dev_zero",  "-o_tmp_out", "-o",           "._/._/out",   "-L_usr_lib",
                                       "-u_etc_crt", "-l.__z",     "@-_etc_passwd", "x/._/._/y.o", "-dA=7/2"};
  EXPECT_EQ(words, expected);
  // Outside the options target an @ word could read an input as options.
  EXPECT_EQ(split_words("@a.o\n-R\n"), std::vector<std::string>{"-R"});
  EXPECT_EQ(zeld_fuzz::confined("-o /x @-../y"), "-o _x @-.__y");
}

TEST(FuzzHarness, PiecesEndAtLinesOfTwoPercentSigns) {
  EXPECT_EQ(pieces("w\n%%\na\n%%\nb", 6), (std::vector<std::string>{"w\n", "a\n", "b"}));
  EXPECT_EQ(pieces("%%\nx%%\n%%", 6), (std::vector<std::string>{"", "x%%\n", ""}));
  // The last piece keeps any further separators.
  EXPECT_EQ(pieces("a\n%%\nb\n%%\nc", 2), (std::vector<std::string>{"a\n", "b\n%%\nc"}));
  EXPECT_EQ(pieces("", 3), std::vector<std::string>{""});
}

TEST(FuzzHarness, AGoodLinkPassesEveryCheck) {
  zeld_fuzz::LinkCase link;
  link.words = {"zeld12", "-R", "-o", "app", "a.o"};
  link.files = {{"a.o", "XH\nH 1 areas 1 global symbols\nM a\nA text size 2 flags 0\nS __start Def0000\n"
                        "T 00 00 3D 3D\nR 00 00 00 00\n"}};
  zeld_fuzz::LinkResult result = zeld_fuzz::run_checked_link(link);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.err.find("full."), std::string::npos) << result.err;
}

TEST(FuzzHarnessDeathTest, AnOptionFileLeftBehindStopsWithItsName) {
  zeld_fuzz::LinkCase link;
  link.words = {"zeld12", "-R", "@keep.rsp"};
  link.files = {{"keep.rsp", "-o app\n"}};
  link.must_vanish = {"keep.rsp"};
  EXPECT_DEATH(zeld_fuzz::run_checked_link(link), "@- file 'keep.rsp' not deleted");
}

}  // namespace
