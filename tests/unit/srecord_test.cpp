// S-record lines: S1 and S2 records in every -s2_ mode, the S12 flash
// mapping for every size, checksums, and the S9 record.
#include "srecord.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>

#include "context.h"

namespace zeld {
namespace {

std::string read_all(std::FILE* f) {
  std::fflush(f);
  long pos = std::ftell(f);
  std::rewind(f);
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fseek(f, pos, SEEK_SET);
  return text;
}

struct SRecordTest : ::testing::Test {
  std::FILE* err = std::tmpfile();
  LinkContext ctx{err, err};

  SRecordTest() {
    ctx.output_file.reset(std::tmpfile());
    ctx.lex.high_byte_first = true;
  }
  ~SRecordTest() override {
    ctx.run_cleanup();
    std::fclose(err);
  }

  // The current record at `addr` with data 86 01 3F (a -1 is a dropped value).
  void record(u32 addr, int page = 0, std::initializer_list<int> data = {0x86, 0x01, 0x3F}) {
    Record& rec = ctx.reloc.record;
    rec.rtcnt = 2;
    rec.rtval[0] = addr >> 8;
    rec.rtval[1] = addr & 0xFF;
    rec.rtflg[0] = rec.rtflg[1] = 1;
    for (int v : data) {
      rec.rtval[rec.rtcnt] = v < 0 ? 0x55 : static_cast<u32>(v);
      rec.rtflg[rec.rtcnt] = v < 0 ? 0 : 1;
      ++rec.rtcnt;
    }
    ctx.reloc.output_page = page;
  }
  // The line written for the current record.
  std::string line_for(u32 addr, int page = 0) {
    record(addr, page);
    std::string before = read_all(ctx.output_file.get());
    write_s_record(ctx);
    return read_all(ctx.output_file.get()).substr(before.size());
  }
  std::string errors() { return read_all(err); }
};

TEST_F(SRecordTest, UnpagedRecordIsS1) {
  EXPECT_EQ(line_for(0x4000), "S106400086013FF3\n");
  ctx.options.s2_mode = S2_CPU;
  EXPECT_EQ(line_for(0x4000), "S106400086013FF3\n");
}

TEST_F(SRecordTest, DroppedValuesAndWideValues) {
  record(0x4002, 0, {0x86, -1, 0x110});  // only the low 8 bits of a value are written
  write_s_record(ctx);
  EXPECT_EQ(read_all(ctx.output_file.get()), "S1054002861022\n");
  // The writer leaves the record as relocation made it.
  EXPECT_EQ(ctx.reloc.record.rtval[4], 0x110u);
  EXPECT_EQ(ctx.reloc.record.rtflg[3], 0);
  EXPECT_EQ(ctx.reloc.record.rtcnt, 5);
}

TEST_F(SRecordTest, LowByteFirstLoadAddress) {
  ctx.lex.high_byte_first = false;
  record(0x0040);  // values 00 40: address 0x4000
  write_s_record(ctx);
  EXPECT_EQ(read_all(ctx.output_file.get()), "S106400086013FF3\n");
}

TEST_F(SRecordTest, S12MappingForEveryFlashSize) {
  ctx.options.s2_mode = S2_S12;
  struct Case {
    int kbytes;
    const char* window;
  };
  for (Case c : {Case{32, "S2070F800086013FA3\n"}, Case{64, "S2070F000086013F23\n"},
                 Case{128, "S2070E000086013F24\n"}, Case{256, "S2070C000086013F26\n"},
                 Case{512, "S20708000086013F2A\n"}}) {
    ctx.options.s12_flash_kbytes = c.kbytes;
    EXPECT_EQ(line_for(0x8000), c.window) << c.kbytes;
    EXPECT_EQ(line_for(0x4000), "S2070F800086013FA3\n") << c.kbytes;  // the fixed page 0x3E
    EXPECT_EQ(line_for(0x7FFD), "S2070FBFFD86013F67\n") << c.kbytes;
    EXPECT_EQ(line_for(0xC000), "S2070FC00086013F63\n") << c.kbytes;  // the fixed page 0x3F
  }
  EXPECT_EQ(errors(), "");
}

TEST_F(SRecordTest, S12MappingErrorsWriteS1) {
  ctx.options.s2_mode = S2_S12;
  ctx.options.s12_flash_kbytes = 96;
  EXPECT_EQ(line_for(0x8000), "S106800086013FB3\n");
  EXPECT_EQ(line_for(0xC000), "S2070FC00086013F63\n");  // the fixed pages need no size
  EXPECT_EQ(line_for(0x0123), "S106012386013F0F\n");
  EXPECT_EQ(errors(),
            "!ERROR {linker} 96K is invalid flash memory size for S12 device.\n"
            "!ERROR {linker} invalid address for S12 flash memory reference: 0X123\n");
}

TEST_F(SRecordTest, S12XMapping) {
  ctx.options.s2_mode = S2_S12X;
  EXPECT_EQ(line_for(0xC000), "S2077FC00086013FF3\n");
  EXPECT_EQ(line_for(0x4000), "S2077F400086013F73\n");
  EXPECT_EQ(line_for(0x3FFF), "S1063FFF86013FF5\n");
  EXPECT_EQ(errors(), "!ERROR {linker} invalid address for S12X flash memory reference: 0X3FFF\n");
}

TEST_F(SRecordTest, PagedRecords) {
  // Linear area: the page byte as it is, in every mode.
  EXPECT_EQ(line_for(0x2000, -0x0F), "S2070F200086013F03\n");
  ctx.options.s2_mode = S2_S12;
  EXPECT_EQ(line_for(0x2000, -0x0F), "S2070F200086013F03\n");
  // Extended code page 0x0F (output_page 0x10): linear address unless -s2_cpu.
  EXPECT_EQ(line_for(0x8000, 0x10), "S2070F800086013FA3\n");
  ctx.options.s2_mode = S2_S1;
  EXPECT_EQ(line_for(0x8000, 0x10), "S2070F800086013FA3\n");
  ctx.options.s2_mode = S2_CPU;
  EXPECT_EQ(line_for(0x8000, 0x10), "S2073E800086013F74\n");
  EXPECT_EQ(line_for(0xC123, 0x10), "S2073F812386013F4F\n");
  EXPECT_EQ(errors(), "");
}

TEST_F(SRecordTest, EndRecordWithAndWithoutStart) {
  write_s_end_record(ctx);
  Symbol* start = ctx.symbols.insert("__start");
  start->flags = SYM_DEFINED | SYM_ABSOLUTE;
  start->value = 0x4000;
  write_s_end_record(ctx);
  start->value = 0xC0A5;
  write_s_end_record(ctx);
  EXPECT_EQ(read_all(ctx.output_file.get()), "S9030000FC\nS9034000BC\nS903C0A597\n");
}

TEST_F(SRecordTest, StartAddressBeyond16BitsIsReported) {
  Symbol* start = ctx.symbols.insert("__start");
  start->flags = SYM_DEFINED | SYM_ABSOLUTE;
  start->value = 0x0F8000;
  ctx.diag.set_current_file(std::string("main.c"));
  write_s_end_record(ctx);
  EXPECT_EQ(read_all(ctx.output_file.get()), "S90380007C\n");
  EXPECT_EQ(errors(), "!ERROR {linker} start address 0xf8000 does not fit in the S9 record\n");
}

}  // namespace
}  // namespace zeld
