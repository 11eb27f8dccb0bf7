// Report shapes, the error limit and the statuses carried by LinkAbort.
#include "diagnostics.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace zeld {
namespace {

std::string read_all(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  return text;
}

struct DiagnosticsTest : ::testing::Test {
  std::FILE* err = std::tmpfile();
  Diagnostics diag{err};
  ~DiagnosticsTest() override { std::fclose(err); }
};

TEST_F(DiagnosticsTest, CountedErrorWithAndWithoutCurrentFile) {
  diag.error("unknown output format: %s", "elf");
  diag.set_current_file(std::string("main.o"));
  diag.current_line_number = 12;
  diag.error("multiple define: '%s'", "_foo");
  EXPECT_EQ(read_all(err),
            "!ERROR {linker} unknown output format: elf\n"
            "!E main.o(12): {linker} multiple define: '_foo'\n");
  EXPECT_EQ(diag.error_count(), 2);
}

TEST_F(DiagnosticsTest, SetCurrentFileReturnsThePreviousName) {
  EXPECT_FALSE(diag.set_current_file(std::string("a.o")).has_value());
  EXPECT_EQ(diag.set_current_file(std::nullopt), std::optional<std::string>("a.o"));
  EXPECT_FALSE(diag.current_file().has_value());
}

TEST_F(DiagnosticsTest, FatalShowsNoFileAndStopsWithMinusOne) {
  diag.set_current_file(std::string("main.o"));
  try {
    diag.fatal("cannot %s '%s'", "open", "x.o");
    FAIL();
  } catch (const LinkAbort& a) {
    EXPECT_EQ(a.status, -1);
  }
  EXPECT_EQ(read_all(err), "!E {linker} cannot open 'x.o'\n");
  EXPECT_EQ(diag.error_count(), 0);
}

TEST_F(DiagnosticsTest, ThirteenErrorsGoOnTheFourteenthStops) {
  for (int i = 0; i < 13; ++i) diag.error("e%d", i);
  EXPECT_EQ(diag.error_count(), 13);
  try {
    diag.error("e13");
    FAIL();
  } catch (const LinkAbort& a) {
    EXPECT_EQ(a.status, -1);
  }
  std::string text = read_all(err);
  EXPECT_NE(text.find("!ERROR {linker} e13\n{linker} Too many errors, exiting...\n"), std::string::npos);
}

TEST_F(DiagnosticsTest, BannersOfInternalErrorsAndConsistencyChecks) {
  try {
    diag.internal("R%#x max areas is %d", 5u, 2);
  } catch (const LinkAbort& a) {
    EXPECT_EQ(a.status, -1);
  }
  try {
    ZELD_CHECK(diag, 1 + 1 == 3, "image");
  } catch (const LinkAbort& a) {
    EXPECT_EQ(a.status, 1);
  }
  std::string text = read_all(err);
  std::string expected_internal = std::string(
                                      "!E [Internal Error] The linker has encountered an internal error.\n"
                                      " Please contact ") +
                                  kSupportAddress +
                                  ". We apologize for any inconvenience.\n {internal message} R0x5 max areas is 2\n";
  EXPECT_EQ(text.substr(0, expected_internal.size()), expected_internal);
  std::string rest = text.substr(expected_internal.size());
  EXPECT_EQ(rest.rfind(
                "!X The compiler has failed an internal consistency check. This may be due\n"
                "  to incorrect input or an internal error. Please report the information\n"
                "  1 + 1 == 3 at image(",
                0),
            0u);
  EXPECT_NE(rest.find(std::string(") to \"") + kSupportAddress + "\"\n"), std::string::npos);
}

TEST_F(DiagnosticsTest, OpenFileRefusesOverlongNamesAndNamesTheVerb) {
  std::string dir = ::testing::TempDir();
  std::string base = dir + "/" + std::string(259 - dir.size() - 1 - 4, 'n');
  std::FILE* f = open_file(diag, base, "s19", "w");  // exactly 259 characters
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  std::remove((base + ".s19").c_str());
  EXPECT_THROW(open_file(diag, base + "x", "s19", "w"), LinkAbort);
  EXPECT_THROW(open_file(diag, dir + "/no/such/file", nullptr, "r"), LinkAbort);
  std::string text = read_all(err);
  EXPECT_NE(text.find("!E {linker} cannot create '" + base + "x.s19'\n"), std::string::npos);
  EXPECT_NE(text.find("!E {linker} cannot open '" + dir + "/no/such/file'\n"), std::string::npos);
}

}  // namespace
}  // namespace zeld
