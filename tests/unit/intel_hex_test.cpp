// Intel hex lines: wide, dropped and absent data values, the load address
// in both byte orders, and the extended linear address records of paged
// records (written only when the upper address changes).
#include "intel_hex.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>

#include "context.h"
#include "relocate.h"
#include "test_support.h"

namespace zeld {
namespace {

struct IntelHexTest : ::testing::Test {
  std::FILE* err = std::tmpfile();
  LinkContext ctx{err, err};

  IntelHexTest() {
    ctx.output_file.reset(std::tmpfile());
    ctx.lex.high_byte_first = true;
  }
  ~IntelHexTest() override {
    ctx.run_cleanup();
    std::fclose(err);
  }

  // Writes a record at `addr` (a -1 in the data is a dropped value).
  void write(u32 addr, int page = 0, std::initializer_list<int> data = {0x86, 0x01, 0x3F}) {
    load_record(ctx.reloc.record, addr, data, 0x55);
    write_hex_record(ctx, make_code_block(ctx.reloc.record, ModuleFormat{ctx.lex.high_byte_first}, page, "text"));
  }
  std::string text() { return read_all(ctx.output_file.get()); }
};

TEST_F(IntelHexTest, DataRecords) {
  write(0x4002, 0, {0x86, -1, 0x110});
  write(0xFFF0, 0, {});
  ctx.lex.high_byte_first = false;
  write(0x0040);  // values 00 40, low byte first: 0x4000
  EXPECT_EQ(text(),
            ":02400200861026\n"
            ":00FFF00011\n"
            ":0340000086013FF7\n");
}

TEST_F(IntelHexTest, PagedRecordsGetExtendedLinearAddresses) {
  write(0x8000, 1);  // extended code page 0: no address record needed
  write(0x2000, -0x01);  // linear area, page 1: 0x12000
  write(0x2003, -0x01);
  write(0x8000, 0x10);  // extended code page 0x0F: 0x0F8000
  EXPECT_EQ(text(),
            ":0380000086013FB7\n"
            ":020000040001F9\n"
            ":0320000086013F17\n"
            ":0320030086013F14\n"
            ":02000004000FEB\n"
            ":0380000086013FB7\n");
}

}  // namespace
}  // namespace zeld
