// The consistency banner and its status, the file-name limit of
// open_file, and reports handed from one Diagnostics to another. The plain report shapes, the error limit and the internal
// error banner are pinned by the end-to-end cases.
#include "diagnostics.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "test_support.h"

namespace zeld {
namespace {

using DiagnosticsTest = LinkTest;

TEST_F(DiagnosticsTest, ConsistencyBannerNamesItsCheckAndStopsWithStatus1) {
  int line = __LINE__ + 1;
  EXPECT_EQ(stop_status([&] { ZELD_CHECK(ctx.diag, 1 + 1 == 3, "sums add up", "image"); }), 1);
  EXPECT_EQ(err(),
            "!X The compiler has failed an internal consistency check. This may be due\n"
            "  to incorrect input or an internal error. Please report the information\n"
            "  sums add up at image(" + std::to_string(line) + ") to \"" + kSupportAddress + "\"\n");
}

TEST_F(DiagnosticsTest, OpenFileRefusesOverlongNamesAndNamesTheVerb) {
  std::string dir = ::testing::TempDir();
  std::string base = dir + "/" + std::string(259 - dir.size() - 1 - 4, 'n');
  std::FILE* f = open_file(ctx.diag, base, "s19", "w");  // exactly 259 characters
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  std::remove((base + ".s19").c_str());
  EXPECT_THROW(open_file(ctx.diag, base + "x", "s19", "w"), LinkAbort);
  EXPECT_THROW(open_file(ctx.diag, dir + "/no/such/file", nullptr, "r"), LinkAbort);
  EXPECT_EQ(err(),
            "!E {linker} cannot create '" + base + "x.s19'\n!E {linker} cannot open '" + dir + "/no/such/file'\n");
}

// Reports made on another thread reach the link's stream only when handed
// over, in their order, and a kept stop ends the link at its place.
TEST_F(DiagnosticsTest, HeldReportsOfAnotherDiagnosticsArriveInOrderWithTheirStop) {
  Diagnostics held(ctx.diag.stream());
  held.hold(true);
  held.error("first");
  held.add_error_uncounted_limit();
  EXPECT_EQ(stop_status([&] { held.fatal("second"); }), kExitFailure);
  EXPECT_EQ(err(), "");

  ctx.diag.error("before");
  EXPECT_EQ(stop_status([&] { ctx.diag.release_from(held); }), kExitFailure);
  EXPECT_EQ(err(), "!ERROR {linker} before\n!ERROR {linker} first\n!E {linker} second\n");
  EXPECT_EQ(ctx.diag.error_count(), 3);
  EXPECT_EQ(held.error_count(), 0);

  Diagnostics quiet(ctx.diag.stream());
  quiet.hold(true);
  EXPECT_EQ(stop_status([&] { ctx.diag.release_from(quiet); }), kNoStop);
  EXPECT_EQ(err(), "");
}

}  // namespace
}  // namespace zeld
