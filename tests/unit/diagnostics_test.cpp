// The error limit, the internal-error banner, the statuses of both banners,
// and the file-name limit of open_file. The plain report shapes and the
// consistency banner are pinned by the end-to-end cases.
#include "diagnostics.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace zeld {
namespace {

struct DiagnosticsTest : ::testing::Test {
  std::FILE* err = std::tmpfile();
  Diagnostics diag{err};
  ~DiagnosticsTest() override { std::fclose(err); }

  std::string text() { return read_all(err); }
  template <typename Report>
  int status_of(Report report) {
    try {
      report();
    } catch (const LinkAbort& a) {
      return a.status;
    }
    return 0;
  }
};

TEST_F(DiagnosticsTest, ThirteenErrorsGoOnTheFourteenthStops) {
  for (int i = 0; i < 13; ++i) diag.error("e%d", i);
  EXPECT_EQ(diag.error_count(), 13);
  EXPECT_EQ(status_of([&] { diag.error("e13"); }), -1);
  EXPECT_NE(text().find("!ERROR {linker} e13\n{linker} Too many errors, exiting...\n"), std::string::npos);
}

TEST_F(DiagnosticsTest, InternalErrorBannerAndTheStatusesOfBothBanners) {
  EXPECT_EQ(status_of([&] { diag.internal("R%#x max areas is %d", 5u, 2); }), -1);
  EXPECT_EQ(text(), std::string("!E [Internal Error] The linker has encountered an internal error.\n Please contact ") +
                        kSupportAddress +
                        ". We apologize for any inconvenience.\n {internal message} R0x5 max areas is 2\n");
  int line = __LINE__ + 1;
  EXPECT_EQ(status_of([&] { ZELD_CHECK(diag, 1 + 1 == 3, "sums add up", "image"); }), 1);
  EXPECT_TRUE(text().ends_with(
      "!X The compiler has failed an internal consistency check. This may be due\n"
      "  to incorrect input or an internal error. Please report the information\n"
      "  sums add up at image(" + std::to_string(line) + ") to \"" + kSupportAddress + "\"\n"));
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
  EXPECT_EQ(text(),
            "!E {linker} cannot create '" + base + "x.s19'\n!E {linker} cannot open '" + dir + "/no/such/file'\n");
}

}  // namespace
}  // namespace zeld
