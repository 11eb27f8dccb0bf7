// The map where no clean link can reach it: page areas with both error
// words, undefined symbols listed at the end of the map, and a date the C
// library cannot convert. The layout of real maps is pinned end to end.
#include "map_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "context.h"
#include "test_support.h"

namespace zeld {
namespace {

using MapFileTest = LinkTest;

TEST_F(MapFileTest, PageAreaErrorWordsAndUndefinedSymbolsAtTheEnd) {
  TestFolder folder("map");
  ctx.options.output_base_name = folder.path("app");
  const struct {
    const char* name;
    int flags;
    u32 address, size;
  } areas[] = {{"both", AREA_PAG, 0x1010, 300}, {"long", AREA_PAG | AREA_RAM, 0x1100, 257}};
  for (const auto& [name, flags, address, size] : areas) {
    bool created = false;
    AreaPart* part = ctx.areas.add_part(name, nullptr, created);
    part->address = part->area->address = address;
    part->size = part->area->size = size;
    part->area->flags = static_cast<u8>(flags);
  }
  Header& h = ctx.reader.headers.emplace_back();
  h.name = "main.c";
  Symbol* missing = ctx.symbols.insert("_missing");
  missing->flags = SYM_REFERENCED;
  h.symbols.push_back(missing);

  write_map_file(ctx, ctx.diag, MapKind::Standard);

  std::stringstream map;
  map << std::ifstream(folder.path("app.mp"), std::ios::binary).rdbuf();  // a text file, read byte for byte
  for (const char* line : {"  both   1010   012C =    300. bytes (rel,con,pag,rom)   Boundary / Length Error\n",
                           "  long   1100   0101 =    257. bytes (rel,con,pag,ram)   Length Error\n"})
    EXPECT_NE(map.str().find(host_text(line)), std::string::npos) << line;
  // Listed into the map without a line feed, counted, and not on stderr.
  EXPECT_TRUE(map.str().ends_with(host_text("\nArea Definitions\n\n\nfile 'main.o': undefined symbol '_missing'")));
  EXPECT_EQ(ctx.diag.error_count(), 1);
  EXPECT_EQ(err(), "");
}

TEST(MapDate, ATimeTheLibraryCannotConvertGivesQuestionMarks) {
  EXPECT_EQ(map_date_text(static_cast<std::time_t>(0x7FFFFFFFFFFFFFFFLL)), "??? ??? ?? ??:??:?? ????");
}

}  // namespace
}  // namespace zeld
