// Libraries: malformed frames, and the search path with its limit. Member
// selection and the order of reports and stops around the scan are pinned
// end to end.
#include "library.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "context.h"
#include "paths.h"
#include "test_support.h"

namespace zeld {
namespace {

struct LibraryTest : LinkTest {
  TestFolder folder{"lib"};
  const std::string& dir = folder.dir();
};

TEST_F(LibraryTest, BrokenFramesAreFatal) {
  const std::pair<const char*, const char*> cases[] = {
      {".start\nH 1\nM open\n", "bad library file, module end expected 'open'"},
      {".start\nH 1\nM\n.end\n", "incorrect module name format ''"},
      {".start\nH 1\nM lastline", "incorrect module name format 'lastline'"},
      {".start\nM nohead\n.end\n", "missing header"},
      {".start\nH 1\n.end\n", "missing module"},
  };
  for (const auto& [text, message] : cases) {
    CapturedLink local;
    local.ctx.input_files.push_back(
        std::make_unique<InputFile>(InputFile{folder.write("libbad.a", text), InputKind::kNamed}));
    EXPECT_THROW(scan_input_files(local.ctx), LinkAbort) << message;
    EXPECT_EQ(local.err(), std::string("!E {linker} ") + message + "\n");
    local.ctx.run_cleanup();
  }
}

TEST_F(LibraryTest, SearchPathTriesTheLastDirectoryFirst) {
  for (const char* sub : {"sub1", "sub2"}) {
    std::filesystem::create_directories(dir + "/" + sub);
    folder.write(std::string(sub) + "/libm.a", "");
  }
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

// The S lines found through the parse are the ones the piece walk finds:
// with short lines, CR LF and a last line without a line feed, and with a
// long line whose 256th character starts a piece of its own.
TEST(SymbolMentions, TheParseFindsWhatThePieceWalkFinds) {
  std::string short_lines = "XH\nS a Def0\r\nS  b\tRef0\nT 00 00\n S c Def0\nSd\nS e Ref";
  std::string long_line = short_lines + "\nT " + std::string(253, '1') + "S f Def0\nS g Ref0\n";
  for (const std::string& text : {short_lines, long_line}) {
    std::vector<SymbolMention> walked, parsed;
    find_symbol_mentions(text, walked);
    PreparedText prepared;
    prepare_object_text(text, 16, ModuleFormat{}, prepared);
    find_symbol_mentions(text, prepared, parsed);
    ASSERT_EQ(walked.size(), parsed.size()) << text.size();
    for (std::size_t i = 0; i < walked.size(); ++i) {
      EXPECT_EQ(text.substr(walked[i].offset, walked[i].length), text.substr(parsed[i].offset, parsed[i].length));
      EXPECT_EQ(walked[i].reference, parsed[i].reference);
    }
  }
}

}  // namespace
}  // namespace zeld
