// Library indexing, member selection, the members' text, the order of the
// pre-scan's reports and pass 0's, malformed archives and the search path
// with its limit.
#include "library.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "context.h"
#include "test_support.h"
#include "paths.h"

namespace zeld {
namespace {


// The lines of a library member that defines `defines` and references `refs`.
std::string body(const std::string& name, const std::vector<std::string>& defines,
                 const std::vector<std::string>& refs = {}) {
  std::string text = "XH\nH 1 areas 2\nM " + name + "\n";
  for (const std::string& d : defines) text += "S " + d + " Def0000\n";
  for (const std::string& r : refs) text += "S " + r + " Ref0000\n";
  return text;
}
std::string member(const std::string& name, const std::vector<std::string>& defines,
                   const std::vector<std::string>& refs = {}) {
  return ".start " + name + "\n" + body(name, defines, refs) + ".end\n";
}

struct LibraryTest : LinkTest {
  TestFolder folder{"lib"};
  const std::string& dir = folder.dir();

  LibraryTest() {
    std::filesystem::create_directories(dir + "/sub1");
    std::filesystem::create_directories(dir + "/sub2");
  }
  ~LibraryTest() override { ctx.run_cleanup(); }
  // Writes a file in the test's folder and, unless told otherwise, adds it to the input list.
  std::string input(const std::string& name, const std::string& text, bool add = true) {
    std::string path = folder.write(name, text);
    if (add) ctx.input_files.push_back(std::make_unique<InputFile>(InputFile{path, InputKind::kNamed}));
    return path;
  }
  std::string extract() {
    EXPECT_EQ(ctx.input_files.back()->kind, InputKind::kLibraryMembers);
    return ctx.library.member_text;
  }
};

TEST_F(LibraryTest, SelectsTransitivelyInLibraryThenMemberOrder) {
  input("main.o", "H 1 areas 1\nS _a Ref0000\n");
  input("libz.a", member("c", {"_c"}) + member("unused", {"_u"}));
  input("liby.a", member("b", {"_b"}, {"_c"}));
  input("libx.a", member("a", {"_a"}, {"_b"}));
  scan_input_files(ctx);
  ASSERT_EQ(ctx.input_files.size(), 2u);  // main.o and the library members
  EXPECT_EQ(extract(), body("c", {"_c"}) + body("b", {"_b"}, {"_c"}) + body("a", {"_a"}, {"_b"}));
}

TEST_F(LibraryTest, FirstDefinitionWins) {
  input("main.o", "S _f Def0000\nS _g Ref0000\n");
  input("libm.a", member("f", {"_f"}) + member("g", {"_g"}, {"_f"}));
  scan_input_files(ctx);
  EXPECT_EQ(extract(), body("g", {"_g"}, {"_f"}));  // the object file defines _f first
}

TEST_F(LibraryTest, LibraryWithoutNeededMembersStillGivesAnEmptyInput) {
  input("main.o", "S _main Def0000\n");
  input("libm.a", member("f", {"_f"}));
  scan_input_files(ctx);
  EXPECT_EQ(extract(), "");
}

// Pass 0 of an object runs when the pre-scan reads it, but its reports come
// after every report of the pre-scan, as if it ran after it.
TEST_F(LibraryTest, PassZeroReportsWaitForThePreScan) {
  input("main.o", "M main\n");  // no H line: "no header defined"
  input("libm.a", member("f", {"_f"}) + "stray\n");
  input("late.o", "M late\n");  // after the library's error: read by pass 0 alone
  scan_input_files(ctx);
  EXPECT_EQ(err(), "!E " + dir + "/libm.a(0): {linker} bad library file, module start expected\n");
  finish_pass0(ctx);
  EXPECT_EQ(err(), "!E " + dir + "/main.o(1): {linker} no header defined\n"
                   "!E " + dir + "/late.o(1): {linker} no header defined\n");
  EXPECT_EQ(ctx.diag.error_count(), 3);
}

// A stop in pass 0 of an early object ends the link after the pre-scan's
// reports; a stop of the pre-scan itself drops pass 0's held reports.
TEST_F(LibraryTest, StopsKeepTheirOrder) {
  input("main.o", "H 1 areas 1\nA text size 1 flags 0\nA data size 1 flags 0\n");  // header area list overflow
  input("libm.a", member("f", {"_f"}) + "stray\n");
  scan_input_files(ctx);
  EXPECT_THROW(finish_pass0(ctx), LinkAbort);
  std::string text = err();
  EXPECT_EQ(text.find("!E " + dir + "/libm.a(0): {linker} bad library file"), 0u) << text;
  EXPECT_NE(text.find("header area list overflow"), std::string::npos) << text;

  CapturedLink local;
  local.ctx.input_files.push_back(std::make_unique<InputFile>(InputFile{input("a.o", "M a\n", false), InputKind::kNamed}));
  local.ctx.input_files.push_back(std::make_unique<InputFile>(InputFile{dir + "/missing.o", InputKind::kNamed}));
  EXPECT_THROW(scan_input_files(local.ctx), LinkAbort);
  EXPECT_EQ(local.err(), "!E {linker} can't open file '" + dir + "/missing.o'\n");
  local.ctx.run_cleanup();
}

TEST_F(LibraryTest, TextOutsideFramesIsACountedErrorAndStopsTheScan) {
  input("libm.a", member("f", {"_f"}) + "\n");
  input("never.x", "");  // not reached: the scan stops after the error
  scan_input_files(ctx);
  EXPECT_EQ(err(), "!E " + dir + "/libm.a(0): {linker} bad library file, module start expected\n");
  EXPECT_EQ(ctx.input_files.size(), 1u);
  EXPECT_EQ(ctx.input_files[0]->name, dir + "/never.x");
}

TEST_F(LibraryTest, BrokenFramesAreFatal) {
  struct Case {
    std::string text, message;
  } cases[] = {
      {".start\nH 1\nM open\n", "bad library file, module end expected 'open'"},
      {".start\nH 1\nM\n.end\n", "incorrect module name format ''"},
      {".start\nH 1\nM lastline", "incorrect module name format 'lastline'"},
      {".start\nM nohead\n.end\n", "missing header"},
      {".start\nH 1\n.end\n", "missing module"},
  };
  for (const Case& c : cases) {
    CapturedLink local;
    local.ctx.input_files.push_back(
        std::make_unique<InputFile>(InputFile{input("libbad.a", c.text, false), InputKind::kNamed}));
    EXPECT_THROW(scan_input_files(local.ctx), LinkAbort) << c.message;
    EXPECT_EQ(local.err(), "!E {linker} " + c.message + "\n");
    local.ctx.run_cleanup();
  }
}

TEST_F(LibraryTest, SearchPathTriesTheLastDirectoryFirst) {
  input("sub1/libm.a", "", false);
  input("sub2/libm.a", "", false);
  add_library_path(ctx, dir + "/sub1/");
  add_library_path(ctx, dir + "/sub2");
  // Found names are built with the host's separator.
  EXPECT_EQ(find_in_library_paths(ctx, "libm.a"), normalize_path(dir + "/sub2") + path_separator() + "libm.a");
  // A rooted name is taken as it stands, never searched.
  EXPECT_THROW(find_in_library_paths(ctx, "./libm.a"), LinkAbort);
  EXPECT_EQ(find_in_library_paths(ctx, dir + "/sub1/libm.a"), dir + "/sub1/libm.a");
  for (int i = 0; i < 9; ++i) add_library_path(ctx, "d");
  EXPECT_EQ(ctx.library.library_paths.size(), 10u);
  EXPECT_EQ(err(),
            "!E {linker} Cannot open file './libm.a' in library path(s)\n"
            "!ERROR {linker} No more than 10 -L<path> allowed\n");
}

}  // namespace
}  // namespace zeld
