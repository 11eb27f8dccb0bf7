// The memory image: the fill byte, a huge size that costs no memory,
// dropped values, the load address in both byte orders, a record refused
// at the end of the image, the edges of the double-write check's text
// window and records that stay out. Where a record fits exactly is pinned
// end to end.
#include "image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>

#include "context.h"
#include "relocate.h"
#include "test_support.h"

namespace zeld {
namespace {

struct ImageTest : ::testing::Test {
  std::FILE* err = std::tmpfile();
  LinkContext ctx{err, err};

  ImageTest() {
    ctx.lex.high_byte_first = true;
    create_image(ctx, 0xFF, 0x10000);
  }
  ~ImageTest() override { std::fclose(err); }

  // Stores a record: load address, then data values; a value given as -1
  // is a dropped one.
  void store(u32 addr, std::initializer_list<int> data, int page = 0) {
    load_record(ctx.reloc.record, addr, data, 0xEE);
    write_code_to_image(ctx, make_code_block(ctx.reloc.record, ModuleFormat{ctx.lex.high_byte_first}, page, ""));
  }
  std::string errors() { return read_all(err); }
};

TEST_F(ImageTest, HugeImagesHoldOnlyWhatARecordCanReach) {
  create_image(ctx, 0x5A, 0xFFFFFFFF);  // -e:0xFFFFFFFF costs no memory
  EXPECT_LE(ctx.image.data.size(), 0x10000u + kMaxRecordValues);
  EXPECT_EQ(ctx.image.byte_at(0xFFFFFFF0), 0x5A);
  EXPECT_FALSE(ctx.image.written_at(0xFFFFFFF0));
  store(0xFFFF, {1, 2, 3});  // past 0xFFFF inside the image
  EXPECT_EQ(ctx.image.byte_at(0x10001), 3);
  EXPECT_TRUE(ctx.image.written_at(0x10001));
  EXPECT_EQ(errors(), "");
}

TEST_F(ImageTest, StoresOutputValuesWithoutGapsInBothByteOrders) {
  store(0x4000, {0x86, -1, 0x10, 0x3F});
  EXPECT_EQ(ctx.image.data[0x4001], 0x10);
  EXPECT_EQ(ctx.image.data[0x4002], 0x3F);
  EXPECT_EQ(ctx.image.written[0x4003], 0);
  EXPECT_EQ(ctx.image.data[0x4003], 0xFF);
  ctx.lex.high_byte_first = false;
  store(0x0050, {0x12});  // values 00 50, low byte first: 0x5000
  EXPECT_EQ(ctx.image.data[0x5000], 0x12);
}

TEST_F(ImageTest, ARecordPastTheEndStoresNothing) {
  store(0xFFFC, {1, 2, 3, 4});  // ends on the last address: stored
  EXPECT_TRUE(ctx.image.written_at(0xFFFF));
  ctx.image.data[0xFFFD] = 0xFF;
  ctx.image.written[0xFFFD] = 0;
  store(0xFFFD, {1, 2, 3, 4});  // a counted error, not the consistency banner
  EXPECT_EQ(errors(), "!ERROR {linker} code at 0xfffd of area '' ends past the memory image of 0x10000 bytes (-e:)\n");
  EXPECT_FALSE(ctx.image.written_at(0xFFFD));
  EXPECT_EQ(ctx.image.data[0xFFFD], 0xFF);
}

TEST_F(ImageTest, OnlyRecordsStartingInTheTextWindowAreChecked) {
  ctx.text_range_low = 0x4000;
  ctx.text_range_high = 0x7FFF;
  store(0x3FFF, {1, 2});  // starts below the window: not checked, even where it reaches into it
  store(0x3FFF, {5, 6});
  store(0x7FFF, {1});
  store(0x7FFF, {2});
  EXPECT_EQ(errors(), "");
  EXPECT_EQ(ctx.image.data[0x4000], 6);
  store(0x4000, {7});
  EXPECT_EQ(errors(), "!ERROR {linker} Code address 0:0x4000 already contains a value\n");
  EXPECT_EQ(ctx.image.data[0x4000], 7);  // the later byte wins
}

TEST_F(ImageTest, PagedRecordsStayOut) {
  store(0x8000, {1, 2}, 1);  // extended code page 0
  store(0x8000, {1, 2}, -2);
  EXPECT_EQ(ctx.image.written[0x8000], 0);
  EXPECT_EQ(ctx.image.data[0x8000], 0xFF);
}

}  // namespace
}  // namespace zeld
