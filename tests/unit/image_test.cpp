// The memory image: fill, the end-of-image bound, dropped values, the
// double-write check of the text window and records that stay out.
#include "image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>

#include "context.h"

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

struct ImageTest : ::testing::Test {
  std::FILE* err = std::tmpfile();
  LinkContext ctx{err, err};

  ImageTest() {
    ctx.lex.high_byte_first = true;
    create_image(ctx, 0xFF, 0x10000);
  }
  ~ImageTest() override { std::fclose(err); }

  // Makes the current record: load address, then data values; a value
  // given as -1 is a dropped one.
  void record(u32 addr, std::initializer_list<int> data) {
    Record& rec = ctx.reloc.record;
    rec.rtcnt = 2;
    rec.rtval[0] = addr >> 8;
    rec.rtval[1] = addr & 0xFF;
    rec.rtflg[0] = rec.rtflg[1] = 1;
    for (int v : data) {
      rec.rtval[rec.rtcnt] = v < 0 ? 0xEE : static_cast<u32>(v);
      rec.rtflg[rec.rtcnt] = v < 0 ? 0 : 1;
      ++rec.rtcnt;
    }
  }
  std::string errors() { return read_all(err); }
};

TEST_F(ImageTest, HugeImagesHoldOnlyWhatARecordCanReach) {
  create_image(ctx, 0x5A, 0xFFFFFFFF);  // -e:0xFFFFFFFF costs no memory
  EXPECT_LE(ctx.image.data.size(), 0x10000u + kMaxRecordValues);
  EXPECT_EQ(ctx.image.byte_at(0xFFFFFFF0), 0x5A);
  EXPECT_FALSE(ctx.image.written_at(0xFFFFFFF0));
  record(0xFFFF, {1, 2, 3});  // past 0xFFFF inside the image
  write_record_to_image(ctx, 0);
  EXPECT_EQ(ctx.image.byte_at(0x10001), 3);
  EXPECT_TRUE(ctx.image.written_at(0x10001));
  EXPECT_EQ(errors(), "");
}

TEST_F(ImageTest, CreatedWithTheFillByte) {
  EXPECT_EQ(ctx.image.size, 0x10000u);
  EXPECT_EQ(ctx.image.data[0], 0xFF);
  EXPECT_EQ(ctx.image.data[0xFFFF], 0xFF);
  EXPECT_EQ(ctx.image.written[0x1234], 0);
  create_image(ctx, 0x100, 0x8400);  // only the low 8 bits of the fill
  EXPECT_EQ(ctx.image.size, 0x8400u);
  EXPECT_EQ(ctx.image.data[0x83FF], 0x00);
}

TEST_F(ImageTest, OnlyMapZeroExists) {
  EXPECT_EQ(&find_memory_map(ctx, 0), &ctx.image);
  try {
    find_memory_map(ctx, 1);
    FAIL();
  } catch (const LinkAbort& a) {
    EXPECT_EQ(a.status, -1);
  }
  EXPECT_NE(errors().find(" {internal message} Can't find matching memory map 1\n"), std::string::npos);
}

TEST_F(ImageTest, StoresOutputValuesWithoutGaps) {
  record(0x4000, {0x86, -1, 0x10, 0x3F});
  write_record_to_image(ctx, 0);
  EXPECT_EQ(ctx.image.data[0x4000], 0x86);
  EXPECT_EQ(ctx.image.data[0x4001], 0x10);
  EXPECT_EQ(ctx.image.data[0x4002], 0x3F);
  EXPECT_EQ(ctx.image.written[0x4003], 0);
  EXPECT_EQ(ctx.image.data[0x4003], 0xFF);
}

TEST_F(ImageTest, LoadAddressInTheModulesByteOrder) {
  ctx.lex.high_byte_first = false;
  record(0x0040, {0x12});  // values 00 40, low byte first: 0x4000
  write_record_to_image(ctx, 0);
  EXPECT_EQ(ctx.image.data[0x4000], 0x12);
}

TEST_F(ImageTest, RecordMustEndInsideTheImage) {
  ctx.text_range_high = 0;  // no double-write check here
  record(0xFFFC, {1, 2, 3, 4});
  write_record_to_image(ctx, 0);
  EXPECT_EQ(ctx.image.data[0xFFFF], 4);
  // Dropped values take no address: 13 output bytes end exactly at 0xFFFF.
  record(0xFFF3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, -1, 13});
  write_record_to_image(ctx, 0);
  EXPECT_EQ(ctx.image.data[0xFFFF], 13);
  EXPECT_EQ(errors(), "");

  record(0xFFFD, {1, 2, 3, 4});
  try {
    write_record_to_image(ctx, 0);
    FAIL();
  } catch (const LinkAbort& a) {
    EXPECT_EQ(a.status, 1);
  }
  std::string text = errors();
  EXPECT_EQ(text.substr(0, 35), "addr 0xfffd rtcnt 6 MAX 0x10000\n!X ");
  EXPECT_NE(text.find("  addr+(rtcnt-2) <= image->size at image("), std::string::npos);
  EXPECT_EQ(ctx.image.data[0xFFFD], 11);  // nothing of the refused record was stored
}

TEST_F(ImageTest, DoubleWritesInTheTextWindow) {
  record(0x4000, {1, 2, 3, 4});
  write_record_to_image(ctx, 0);
  record(0x4000, {1, 2, 3, 4});
  write_record_to_image(ctx, 0);
  EXPECT_EQ(errors(), "");
  record(0x4001, {2, 9, 8});
  write_record_to_image(ctx, 0);
  EXPECT_EQ(errors(),
            "!ERROR {linker} Code address 0:0x4002 already contains a value\n"
            "!ERROR {linker} Code address 0:0x4003 already contains a value\n");
  EXPECT_EQ(ctx.image.data[0x4002], 9);  // the later byte wins
  EXPECT_EQ(ctx.image.data[0x4003], 8);
}

TEST_F(ImageTest, OutsideTheTextWindowLaterRecordsReplaceSilently) {
  ctx.text_range_low = 0x4000;
  ctx.text_range_high = 0x7FFF;
  record(0x3FFF, {1, 2});  // starts below the window: not checked, even where it reaches into it
  write_record_to_image(ctx, 0);
  record(0x3FFF, {5, 6});
  write_record_to_image(ctx, 0);
  record(0x7FFF, {1});
  write_record_to_image(ctx, 0);
  record(0x7FFF, {2});
  write_record_to_image(ctx, 0);
  EXPECT_EQ(errors(), "");
  EXPECT_EQ(ctx.image.data[0x4000], 6);
  record(0x4000, {7});
  write_record_to_image(ctx, 0);
  EXPECT_EQ(errors(), "!ERROR {linker} Code address 0:0x4000 already contains a value\n");
}

TEST_F(ImageTest, PagedRecordsStayOut) {
  record(0x8000, {1, 2});
  write_record_to_image(ctx, 1);  // extended code page 0
  write_record_to_image(ctx, -2);
  EXPECT_EQ(ctx.image.written[0x8000], 0);
  EXPECT_EQ(ctx.image.data[0x8000], 0xFF);
}

}  // namespace
}  // namespace zeld
