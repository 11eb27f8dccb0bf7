// The map and the listing where no clean link can reach them: page areas
// with both error words, undefined symbols listed at the end of the map, a
// listing that cannot be created or has no name, a date the C library
// cannot convert, and the listing's line handling (CR LF, a last line
// without line feed, pieces of an over-long line and their line numbers,
// odd code digits). The layout of real maps and listings is pinned end to
// end.
#include "map_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "context.h"
#include "test_support.h"

namespace zeld {
namespace {

struct MapFileTest : ::testing::Test {
  std::FILE* err = std::tmpfile();
  LinkContext ctx{err, err};
  std::string base =
      ::testing::TempDir() + "/zeld-map-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();

  MapFileTest() { ctx.options.output_base_name = base; }
  ~MapFileTest() override {
    std::fclose(err);
    std::error_code ec;
    for (const char* ext : {".mp", ".lst"}) std::filesystem::remove_all(base + ext, ec);
  }

  std::string file(const char* ext) {
    std::FILE* f = std::fopen((base + ext).c_str(), "rb");
    if (!f) return "<missing>";
    std::string text = read_all(f);
    std::fclose(f);
    return text;
  }

  Area& add_area(const char* name, u8 flags, u32 address, u32 size) {
    bool created = false;
    AreaPart* part = ctx.areas.add_part(name, nullptr, created);
    part->size = size;
    part->address = address;
    Area& area = *part->area;
    area.flags = flags;
    area.address = address;
    area.size = size;
    return area;
  }
  // The listing relocated against a module whose _main is at 0x4000, over
  // the image bytes A0 to A7 there.
  std::string relocate(const std::string& listing_text) {
    create_image(ctx, 0xFF, 0x10000);
    for (u32 i = 0; i < 8; ++i) ctx.image.data[0x4000 + i] = static_cast<u8>(0xA0 + i);
    Symbol* s = ctx.symbols.insert("_main");
    s->flags = SYM_DEFINED | SYM_ABSOLUTE;
    s->value = 0x4000;
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::fwrite(listing_text.data(), 1, listing_text.size(), in);
    std::rewind(in);
    relocate_listing(ctx, out, in, "t.lis");
    std::string text = read_all(out);
    std::fclose(in);
    std::fclose(out);
    return text;
  }
};

TEST_F(MapFileTest, PageAreaErrorWordsAndUndefinedSymbolsAtTheEnd) {
  add_area("both", AREA_PAG, 0x1010, 300);
  add_area("long", AREA_PAG | AREA_RAM, 0x1100, 257);
  Header& h = ctx.reader.headers.emplace_back();
  h.name = "main.c";
  Symbol* missing = ctx.symbols.insert("_missing");
  missing->flags = SYM_REFERENCED;
  missing->first_header = &h;

  write_map_file(ctx, "mp");

  std::string map = file(".mp");
  EXPECT_NE(map.find("                            both   1010   012C =    300. bytes (rel,con,pag,rom)"
                     "   Boundary / Length Error\n"),
            map.npos);
  EXPECT_NE(map.find("                            long   1100   0101 =    257. bytes (rel,con,pag,ram)"
                     "   Length Error\n"),
            map.npos);
  // Listed into the map without a line feed, counted, and not on stderr.
  EXPECT_EQ(map.substr(map.find("\nArea Definitions")),
            "\nArea Definitions\n\n\nfile 'main.o': undefined symbol '_missing'");
  EXPECT_EQ(ctx.diag.error_count(), 1);
  EXPECT_EQ(read_all(err), "");
}

TEST_F(MapFileTest, AListingThatCannotBeCreatedStopsTheLink) {
  std::filesystem::create_directory(base + ".lst");
  try {
    write_map_file(ctx, "mp");
    FAIL() << "no stop";
  } catch (const LinkAbort& abort) {
    EXPECT_EQ(abort.status, kExitFailure);
  }
  EXPECT_EQ(read_all(err), "!E {linker} cannot create '" + base + ".lst'\n");
}

TEST(MapDateTest, ATimeTheLibraryCannotConvertGivesQuestionMarks) {
  std::time_t far = static_cast<std::time_t>(0x7FFFFFFFFFFFFFFFLL);
  EXPECT_EQ(map_date_text(far), "??? ??? ?? ??:??:?? ????");
}

TEST(ModuleListingTest, AFileNameWithoutExtensionHasNoListing) {
  std::string name = "noext";
  EXPECT_EQ(open_module_listing(name), nullptr);
  EXPECT_EQ(name, "noext");
}

TEST_F(MapFileTest, CrLfLinesHexPrefixesOddDigitsAndALastLineWithoutLineFeed) {
  EXPECT_EQ(relocate("0x0002  _main::\r\n"
                     "0x03  11223344  ld\r\n"
                     "  .AREA far (global)\r\n"
                     "0000  55  copied as it stands\r\n"
                     "  .Area text\r\n"
                     "0000  _main::\n"
                     "0007  D"),
            " 4000   _main::\n"
            " 4001  A1A2A3A4  ld\n"
            "  .AREA far (global)\n"
            "0000  55  copied as it stands\n"
            "  .Area text\n"
            " 4000   _main::\n"
            " 4007  A7");
  EXPECT_EQ(read_all(err), "");
}

TEST_F(MapFileTest, LongLinesComeInPiecesThatShareTheLineNumber) {
  std::string first(kMaxListingLine, 'x');
  first.replace(0, 6, "0000  ");
  std::string text = first + "0002  _nope::\n0003  _gone::\n0004  _main::\n";
  std::string result = relocate(text);
  // The piece after the limit is relocated as a line of its own.
  EXPECT_EQ(result.substr(kMaxListingLine + 4),
            " FFFFFFFF   _nope::\n FFFFFFFF   _gone::\n 4000   _main::\n");
  EXPECT_EQ(result.substr(0, 9), "--- 0000 ");
  EXPECT_EQ(read_all(err),
            "!E t.lis(1): {linker} can't find address for symbol '_nope'\n"
            "!E t.lis(2): {linker} can't find address for symbol '_gone'\n");
  EXPECT_EQ(ctx.diag.error_count(), 2);
}

}  // namespace
}  // namespace zeld
