// Library indexing, member selection, the extract file and the search path.
#include "library.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "context.h"
#include "paths.h"

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

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A library member that defines `defines` and references `refs`.
std::string member(const std::string& name, const std::vector<std::string>& defines,
                   const std::vector<std::string>& refs) {
  std::string text = ".start " + name + "\nXH\nH 1 areas 2\nM " + name + "\n";
  for (const std::string& d : defines) text += "S " + d + " Def0000\n";
  for (const std::string& r : refs) text += "S " + r + " Ref0000\n";
  return text + ".end\n";
}

struct LibraryTest : ::testing::Test {
  std::FILE* err = std::tmpfile();
  LinkContext ctx{err, err};
  std::string dir = ::testing::TempDir() + "/zeld-lib-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::vector<std::string> made;

  LibraryTest() { std::system(("mkdir -p " + dir + "/sub1 " + dir + "/sub2").c_str()); }
  ~LibraryTest() override {
    ctx.run_cleanup();
    for (const std::string& f : made) std::remove(f.c_str());
    std::fclose(err);
  }

  std::string write(const std::string& name, const std::string& text) {
    std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    made.push_back(path);
    return path;
  }
  void input(const std::string& path) {
    ctx.input_files.push_back(std::make_unique<InputFile>(InputFile{path, INPUT_NAMED}));
  }
  std::string extract() {
    EXPECT_FALSE(ctx.library.extract_name.empty());
    EXPECT_EQ(ctx.input_files.back()->kind, INPUT_LIBRARY_EXTRACT);
    return slurp(ctx.library.extract_name);
  }
};

TEST_F(LibraryTest, SelectsTransitivelyInLibraryThenMemberOrder) {
  input(write("main.o", "H 1 areas 1\nS _a Ref0000\n"));
  input(write("libz.a", member("c", {"_c"}, {}) + member("unused", {"_u"}, {})));
  input(write("liby.a", member("b", {"_b"}, {"_c"})));
  input(write("libx.a", member("a", {"_a"}, {"_b"})));
  scan_input_files(ctx);
  ASSERT_EQ(ctx.input_files.size(), 2u);  // main.o and the extract file
  std::string text = extract();
  std::size_t c = text.find("M c\n"), b = text.find("M b\n"), a = text.find("M a\n");
  ASSERT_NE(c, std::string::npos);
  EXPECT_LT(c, b);
  EXPECT_LT(b, a);
  EXPECT_EQ(text.find("unused"), std::string::npos);
  EXPECT_EQ(text.find(".start"), std::string::npos);
  EXPECT_EQ(text.find(".end"), std::string::npos);
}

TEST_F(LibraryTest, FirstDefinitionWins) {
  input(write("main.o", "S _f Def0000\nS _g Ref0000\n"));
  input(write("libm.a", member("f", {"_f"}, {}) + member("g", {"_g"}, {"_f"})));
  scan_input_files(ctx);
  std::string text = extract();
  EXPECT_NE(text.find("M g\n"), std::string::npos);
  EXPECT_EQ(text.find("M f\n"), std::string::npos);  // the object file defines _f first
}

TEST_F(LibraryTest, LibraryWithoutNeededMembersStillGivesAnEmptyExtract) {
  input(write("main.o", "S _main Def0000\n"));
  input(write("libm.a", member("f", {"_f"}, {})));
  scan_input_files(ctx);
  EXPECT_EQ(extract(), "");
  std::string name = ctx.library.extract_name;
  ctx.run_cleanup();
  EXPECT_FALSE(is_readable_file(name));
}

TEST_F(LibraryTest, NoLibraryNoExtract) {
  input(write("main.o", "S _main Def0000\n"));
  scan_input_files(ctx);
  ASSERT_EQ(ctx.input_files.size(), 1u);
  EXPECT_TRUE(ctx.library.extract_name.empty());
}

TEST_F(LibraryTest, TextOutsideFramesIsACountedErrorAndStopsTheScan) {
  input(write("libm.a", member("f", {"_f"}, {}) + "\n"));
  input(write("never.x", ""));  // not reached: the scan stops after the error
  scan_input_files(ctx);
  EXPECT_EQ(read_all(err), "!E " + dir + "/libm.a(0): {linker} bad library file, module start expected\n");
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
    std::FILE* local_err = std::tmpfile();
    LinkContext local(local_err, local_err);
    local.input_files.push_back(std::make_unique<InputFile>(InputFile{write("libbad.a", c.text), INPUT_NAMED}));
    EXPECT_THROW(scan_input_files(local), LinkAbort) << c.message;
    EXPECT_EQ(read_all(local_err), "!E {linker} " + c.message + "\n");
    local.run_cleanup();
    std::fclose(local_err);
  }
}

TEST_F(LibraryTest, UnknownKindsAndMissingFilesAreFatal) {
  input("foo.obj");
  EXPECT_THROW(scan_input_files(ctx), LinkAbort);
  EXPECT_EQ(read_all(err), "!E {linker} unknown file type 'foo.obj'\n");
}

TEST_F(LibraryTest, SearchPathTriesTheLastDirectoryFirst) {
  write("sub1/libm.a", "");
  write("sub2/libm.a", "");
  add_library_path(ctx, dir + "/sub1/");
  add_library_path(ctx, dir + "/sub2");
  EXPECT_EQ(find_in_library_paths(ctx, "libm.a"), dir + "/sub2/libm.a");
  // A rooted name is taken as it stands, never searched.
  EXPECT_THROW(find_in_library_paths(ctx, "./libm.a"), LinkAbort);
  EXPECT_EQ(find_in_library_paths(ctx, dir + "/sub1/libm.a"), dir + "/sub1/libm.a");
  for (int i = 0; i < 9; ++i) add_library_path(ctx, "d");
  EXPECT_EQ(ctx.library.library_paths.size(), 10u);
  EXPECT_EQ(read_all(err),
            "!E {linker} Cannot open file './libm.a' in library path(s)\n"
            "!ERROR {linker} No more than 10 -L<path> allowed\n");
}

}  // namespace
}  // namespace zeld
