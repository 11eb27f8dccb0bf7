// The map where no clean link can reach it: page areas with both error
// words, undefined symbols listed at the end of the map, and a date the C
// library cannot convert. The layout of real maps is pinned end to end.
#include "map_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "context.h"
#include "test_support.h"

namespace zeld {
namespace {

struct MapFileTest : LinkTest {
  TestFolder folder{"map"};

  MapFileTest() { ctx.options.output_base_name = folder.path("app"); }

  std::string file(const char* ext) {
    std::FILE* f = std::fopen(folder.path(std::string("app") + ext).c_str(), "rb");
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
};

TEST_F(MapFileTest, PageAreaErrorWordsAndUndefinedSymbolsAtTheEnd) {
  add_area("both", AREA_PAG, 0x1010, 300);
  add_area("long", AREA_PAG | AREA_RAM, 0x1100, 257);
  Header& h = ctx.reader.headers.emplace_back();
  h.name = "main.c";
  Symbol* missing = ctx.symbols.insert("_missing");
  missing->flags = SYM_REFERENCED;
  missing->first_header = &h;

  write_map_file(ctx, MapKind::Standard);

  std::string map = file(".mp");  // a text file, read back byte for byte
  EXPECT_NE(map.find(host_text("                            both   1010   012C =    300. bytes (rel,con,pag,rom)"
                               "   Boundary / Length Error\n")),
            map.npos);
  EXPECT_NE(map.find(host_text("                            long   1100   0101 =    257. bytes (rel,con,pag,ram)"
                               "   Length Error\n")),
            map.npos);
  // Listed into the map without a line feed, counted, and not on stderr.
  EXPECT_EQ(map.substr(map.find(host_text("\nArea Definitions"))),
            host_text("\nArea Definitions\n\n\nfile 'main.o': undefined symbol '_missing'"));
  EXPECT_EQ(ctx.diag.error_count(), 1);
  EXPECT_EQ(err(), "");
}

TEST(MapDateTest, ATimeTheLibraryCannotConvertGivesQuestionMarks) {
  std::time_t far = static_cast<std::time_t>(0x7FFFFFFFFFFFFFFFLL);
  EXPECT_EQ(map_date_text(far), "??? ??? ?? ??:??:?? ????");
}

}  // namespace
}  // namespace zeld
